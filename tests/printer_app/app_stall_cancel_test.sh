#!/bin/bash
# A printer that takes no data for 60 s in the middle of a receipt: the printer shows a state
# reason and the job a message while the write stalls; the job is cancelled during the stall;
# once the printer takes data again the unfinished command is completed and the page ended,
# and the next receipt prints dot for dot with no job starting off a command boundary.
APP=$1 EMU=$2 WORK=$3 PORT=$4 PBM_TO_PWG=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

# A long receipt of random dots (nothing to compress) and a short one of text.
pgmnoise 639 4000 | pamditherbw -threshold | pamtopnm > "$WORK/noise.pbm"
"$PBM_TO_PWG" "$WORK/noise.pbm" om_roll-80_80x500mm "$WORK/noise.pwg" || fail "PWG document"
pbmtext -builtin fixed "AFTER THE STALL" | pnmpad -white -left 40 -width 639 > "$WORK/text.pbm"
"$PBM_TO_PWG" "$WORK/text.pbm" om_roll-80_80x100mm "$WORK/text.pwg" || fail "PWG document"
expected_receipt "$WORK/text.pbm" "$WORK/expected.pbm"

# job_attr JOB-ID NAME: one attribute of a job, as ipptool prints it.
job_attr() {
    ipptool -tv "$PRINTER_URI/$1" get-job-attributes.test 2>/dev/null |
        sed -n "s/^ *$2 ([^)]*) = //p"
}

start_emulator --stall-after 30000:60
start_server
add_printer
# PAPPL reads a raster document while it prints it: the request ends with the job.
ipptool -tf "$WORK/noise.pwg" -d filetype=image/pwg-raster "$PRINTER_URI" print-job.test \
    > "$WORK/noise-submit.out" 2>&1 &
for _ in $(seq 100); do
    printer_reasons | grep -q other && break
    sleep 0.2
done
printer_reasons | grep -q other || fail "no state reason while the printer takes no data"
job_attr 1 job-state-message | grep -q "taken no data" ||
    fail "job message during the stall: $(job_attr 1 job-state-message)"
app cancel -d rcpt -j 1 || fail "cancel"
echo "cancelled during the stall at $(date +%T)"
for _ in $(seq 90); do
    [ "$(job_attr 1 job-state)" = canceled ] && break
    sleep 1
done
[ "$(job_attr 1 job-state)" = canceled ] ||
    fail "job 1 is $(job_attr 1 job-state) 90 s after the cancel"
printer_reasons | grep -q other && fail "state reason left after the printer took data again"
# The cancelled job's last bytes and the whole next receipt may fit in what the line still
# buffers: then the next job ends "completed" at once and prints when the printer takes data
# again, up to the end of its 60 s pause.
submit "$WORK/text.pwg" image/pwg-raster
wait_pages 2 75
same_image "$WORK/pages/page-002.pbm" "$WORK/expected.pbm" || fail "the receipt after the stall differs"
stop_emulator
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary: $(grep BOUNDARY "$WORK/emu.err")"
grep -q STALL "$WORK/emu.err" || fail "the printer never stalled"
grep -q " 2 pages, 0 boundary errors, 0 errors" "$WORK/emu.err" || fail "$(tail -1 "$WORK/emu.err")"
echo PASS
