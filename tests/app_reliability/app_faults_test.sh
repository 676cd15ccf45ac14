#!/bin/bash
# Faults while the app prints, one case a run (each with its own port and work directory):
#   usb-replug    the USB printer is unplugged and plugged in again in the middle of a receipt
#   status        the printer answers the status exchange wrongly or not at all, then right
#   spool-full    the spool directory is full when a PDF job comes
#   restart       the app is killed during a job and started again
# Every case ends with a receipt printed dot for dot and no job starting off a command
# boundary.
# Usage: app_faults_test.sh CASE APP EMULATOR WORKDIR PORT PBM_TO_PWG
CASE=$1 APP=$2 EMU=$3 WORK=$4 PORT=$5 PBM_TO_PWG=$6
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../printer_app/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

# job_attr JOB-ID NAME: one attribute of a job, as ipptool prints it.
job_attr() {
    ipptool -tv "$PRINTER_URI/$1" get-job-attributes.test 2>/dev/null |
        sed -n "s/^ *$2 ([^)]*) = //p"
}

# app_log: the server's log, also the part PAPPL moved aside when the file grew large.
app_log() {
    cat "$WORK/log.O" "$WORK/log" 2>/dev/null
}

# wait_job_end JOB-ID SECONDS: the job's final state (or what it is after SECONDS).
wait_job_end() {
    local state
    for _ in $(seq $(($2 * 5))); do
        state=$(job_attr "$1" job-state)
        case $state in aborted | canceled | completed) break ;; esac
        sleep 0.2
    done
    echo "$state"
}

# A long receipt of random dots (nothing to compress: about 290 KB of commands).
long_receipt() {
    pgmnoise 639 4000 | pamditherbw -threshold | pamtopnm > "$WORK/noise.pbm"
    "$PBM_TO_PWG" "$WORK/noise.pbm" om_roll-80_80x500mm "$WORK/noise.pwg" || fail "PWG document"
}

# check_page N EXPECTED: page N came out of the emulator and is EXPECTED dot for dot.
check_page() {
    wait_pages "$1"
    same_image "$WORK/pages/page-$(printf %03d "$1").pbm" "$2" ||
        fail "page $1 differs from $(basename "$2")"
}

# end_checks [CUTS]: the printer decoded everything without an error, and no job began off a
# command boundary but at most CUTS (default 0) that follow a job cut short by the fault (the
# printer sees a new job begin inside the cut command; its first bytes are the ones that
# finish that command).
end_checks() {
    stop_emulator
    local boundary
    boundary=$(grep -c "BOUNDARY-ERROR" "$WORK/emu.err")
    [ "$boundary" -le "${1:-0}" ] ||
        fail "$boundary jobs began off a command boundary: $(grep BOUNDARY "$WORK/emu.err")"
    grep -q ", 0 errors$" "$WORK/emu.err" || fail "the printer saw errors: $(cat "$WORK/emu.err")"
    echo PASS
}

case_usb_replug() {
    make_receipt "$PBM_TO_PWG"
    long_receipt
    local sn="FLT-$PORT"
    # The printer holds the data 5 s a third into the long receipt; it is re-plugged then.
    start_usb_emulator --usb --serial "$sn" --out "$WORK/pages" --stall-after 100000:5
    start_server
    local name="QEL Receipt Printer 0002 ($sn)"
    for _ in $(seq 50); do
        [ -n "$(printer_resource "$name")" ] && break
        sleep 0.2
    done
    [ -n "$(printer_resource "$name")" ] || fail "the USB printer was not added"
    PRINTER_URI="ipp://localhost:$PORT$(printer_resource "$name")"
    ipptool -tf "$WORK/noise.pwg" -d filetype=image/pwg-raster "$PRINTER_URI" print-job.test \
        > "$WORK/noise-submit.out" 2>&1 &
    for _ in $(seq 100); do
        grep -q STALL "$WORK/emu.err" && break
        sleep 0.1
    done
    grep -q STALL "$WORK/emu.err" || fail "the printer never held the data"
    replug_usb
    local state
    state=$(wait_job_end 1 30)
    echo "job 1: $state, $(job_attr 1 job-state-reasons), \"$(job_attr 1 job-state-message)\""
    echo "printer: $(printer_reasons)"
    [ "$state" = aborted ] || fail "the job cut by the unplug ended $state"
    job_attr 1 job-state-message | grep -q "not connected" ||
        fail "no reason for the cut job: $(job_attr 1 job-state-message)"
    # Found again by its serial number: the next receipt prints whole.
    submit "$WORK/r.pdf" application/pdf
    check_page 2 "$WORK/expected.pbm"
    wait_reason offline 10 gone || fail "still offline after printing: $(printer_reasons)"
    app_log | grep -q "The printer was left inside 1B F0" || fail "the cut command was not finished"
    end_checks 1
}

# Status exchanges 1 to 4 go wrong (no answer, a late one, a wrong record type, stray bytes
# before the answer), then the printer answers right: no false "ready" while the answers are
# wrong, a receipt prints meanwhile, and the state clears once the answers are right.
case_status() {
    make_receipt "$PBM_TO_PWG"
    start_emulator --fault silent:inquiry:1 --fault late:inquiry:2:2500 \
        --fault wrong-type:inquiry:3 --fault stray:inquiry:4
    start_server
    add_printer
    wait_reason offline 15 || fail "no state reason for a printer that does not answer"
    printer_reasons | grep -qw none && fail "\"none\" beside offline: $(printer_reasons)"
    submit "$WORK/r.pdf" application/pdf
    check_page 1 "$WORK/expected.pbm"
    # Answers right again from the fifth exchange on (one every 3 s while idle).
    wait_reason offline 30 gone || fail "still offline once the printer answers: $(printer_reasons)"
    app_log | grep -q "The printer does not answer" || fail "no message in the log"
    app_log | grep -q "^I .*Ready\.$" || fail "no \"Ready.\" after the right answers"
    submit "$WORK/r.png" image/png
    check_page 2 "$WORK/expected-pwg.pbm"
    end_checks
}

# The spool directory on a 300 KB file system: a PDF of 500 KB is refused or aborted with a
# reason, nothing of it prints, and the small receipt after it prints.
case_spool_full() {
    make_receipt "$PBM_TO_PWG"
    mount -t tmpfs -o size=300k tmpfs "$WORK/spool" || fail "tmpfs for the spool directory"
    pgmnoise 639 6000 | pamditherbw -threshold | pamtopnm | pnmtops -noturn -dpi 203 2>/dev/null |
        gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$WORK/big.pdf" -
    [ "$(stat -c %s "$WORK/big.pdf")" -gt 400000 ] || fail "the big PDF is too small"
    start_emulator
    start_server
    add_printer
    ipptool -tf "$WORK/big.pdf" -d filetype=application/pdf "$PRINTER_URI" print-job.test \
        > "$WORK/big-submit.out" 2>&1
    local state reasons
    state=$(wait_job_end 1 30)
    reasons=$(job_attr 1 job-state-reasons)
    echo "big PDF: job $state ($reasons, \"$(job_attr 1 job-state-message)\")," \
        "$(grep -o 'status-code = [a-z-]*' "$WORK/big-submit.out" | head -1)"
    case $state in
    aborted | canceled) [ -n "$reasons" ] && [ "$reasons" != none ] ||
        fail "the big job ended $state without a reason" ;;
    "") ;;
    *) fail "the big PDF job ended $state" ;;
    esac
    # PAPPL 1.3.1 adds strerror(errno) after a later call, so "No space left on device" is
    # sometimes "Success": the client is told the print file could not be written.
    grep -q "status-message=.Unable to write print file" "$WORK/big-submit.out" ||
        fail "the client was not told the spool is full: $(cat "$WORK/big-submit.out")"
    kill -0 "$SERVER_PID" || fail "the server is gone"
    [ -z "$(ls "$WORK/spool" | grep -v '\.ipp$')" ] || fail "left in the spool: $(ls "$WORK/spool")"
    submit "$WORK/r.pdf" application/pdf
    check_page 1 "$WORK/expected.pbm"
    sleep 1
    [ "$(ls "$WORK/pages"/page-*.pbm | wc -l)" -eq 1 ] || fail "the big PDF printed"
    end_checks
}

# The app killed while it prints an accepted receipt (the printer holds the data a while) and
# started again: the cut receipt is printed again whole once, after the bytes that finish its
# cut command; nothing stays in the spool directory; the next receipt prints. (The app takes
# one job per printer at a time: others are refused busy, so only that one was accepted.)
case_restart() {
    make_receipt "$PBM_TO_PWG"
    pgmnoise 639 1600 | pamditherbw -threshold | pamtopnm > "$WORK/noise.pbm"
    pnmtops -noturn -dpi 203 "$WORK/noise.pbm" 2>/dev/null |
        gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$WORK/noise.pdf" -
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r203 -sOutputFile="$WORK/noise-gs.pbm" \
        "$WORK/noise.pdf"
    expected_receipt "$WORK/noise-gs.pbm" "$WORK/expected-noise.pbm"
    start_emulator --stall-after 40000:4
    start_server
    add_printer
    submit "$WORK/noise.pdf" application/pdf
    for _ in $(seq 100); do
        grep -q STALL "$WORK/emu.err" && break
        sleep 0.1
    done
    grep -q STALL "$WORK/emu.err" || fail "the printer never held the data"
    [ "$(job_attr 1 job-state)" = processing ] || fail "job 1 is $(job_attr 1 job-state)"
    kill -KILL "$SERVER_PID"
    wait "$SERVER_PID" 2>/dev/null
    mv "$WORK/log" "$WORK/log-killed"
    start_server
    # Page 1: the cut receipt's part, its page ended by the finishing bytes.
    check_page 2 "$WORK/expected-noise.pbm"
    app_log | grep -q "Printing again job 1" || fail "no note of the job printed again"
    [ "$(wait_job_end 2 10)" = completed ] || fail "the job printed again is $(job_attr 2 job-state)"
    [ -z "$(ls "$WORK/spool" | grep -v '\.ipp$')" ] || fail "left in the spool: $(ls "$WORK/spool")"
    submit "$WORK/r.pdf" application/pdf
    check_page 3 "$WORK/expected.pbm"
    sleep 1
    [ "$(ls "$WORK/pages"/page-*.pbm | wc -l)" -eq 3 ] || fail "a receipt printed twice"
    end_checks 1
}

case "$CASE" in
usb-replug) case_usb_replug ;;
status) case_status ;;
spool-full) case_spool_full ;;
restart) case_restart ;;
*) fail "unknown case $CASE" ;;
esac
