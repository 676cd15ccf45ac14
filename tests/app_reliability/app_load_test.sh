#!/bin/bash
# Load: COUNT jobs (PWG raster, PNG and PDF receipts, some with two copies) from 10 IPP clients
# at once to 4 emulator printers of one app server. Every page each printer printed is checked
# against the page sent (tests/load's checker): no job lost, doubled, cut short, mixed with
# another or printed on the wrong printer; no job off a command boundary, no decoding error.
APP=$1 EMU=$2 WORK=$3 PORT=$4 PBM_TO_PWG=$5 LOAD_JOBS=$6 COUNT=${7:-1000}
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../printer_app/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"
CLIENTS=${QEL_LOAD_CLIENTS:-10}

python3 "$HERE/load_documents.py" "$WORK/docs" "$COUNT" || fail "documents"
(cd "$WORK/docs/src" && ls | sed 's/\.pbm$//' |
    xargs -P 2 -I{} "$PBM_TO_PWG" {}.pbm om_roll-80_80x25mm ../jobs/{}.pwg) || fail "PWG documents"
mkdir -p "$WORK/docs/gs"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r203 -sOutputFile="$WORK/docs/gs/%03d.pbm" \
    $(ls "$WORK/docs/jobs"/*.pdf | sort) || fail "rendering the PDFs"
python3 "$HERE/load_documents.py" --pdf-expect "$WORK/docs" || fail "PDF pages"

# Four printers in one emulator process.
args=()
for q in 0 1 2 3; do
    mkdir -p "$WORK/pages-$q"
    args+=(--tty "$DEV/Ttys$q" --serial "SN-LOAD-$PORT-$q" --out "$WORK/pages-$q")
done
"$EMU" "${args[@]}" > "$WORK/emu.out" 2> "$WORK/emu.err" &
EMU_PID=$!
for _ in $(seq 50); do
    [ "$(grep -c READY "$WORK/emu.out")" -eq 4 ] && break
    sleep 0.1
done
start_server
for q in 0 1 2 3; do
    app add -d "p$q" -v "qel:$DEV/Ttys$q?baud=115200" -m qel_0016 || fail "add printer $q"
done

awk '{ split($0, f, ":"); sub("p", "", f[4]); printf "%d %d\n", NR - 1, f[4] }' \
    "$WORK/docs/submit.txt" > "$WORK/assignment.txt"
start=$(date +%s.%N)
pids=()
for c in $(seq 0 $((CLIENTS - 1))); do
    (cd "$WORK/docs" && awk -v c=$c -v n=$CLIENTS '(NR - 1) % n == c' submit.txt |
        xargs timeout 600 python3 "$HERE/submit_jobs.py" "$PRINTER_URI" > "$WORK/client-$c.txt") &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a client failed"; done
end=$(date +%s.%N)
cat "$WORK"/client-*.txt > "$WORK/results.txt"
[ "$(wc -l < "$WORK/results.txt")" -eq "$COUNT" ] || fail "$(wc -l < "$WORK/results.txt") answers"
grep -v ' completed "' "$WORK/results.txt" | head -5 | grep . && fail "jobs that did not complete"

# Every page copy the jobs asked for, then the printers' own account.
want=$(awk '{ n += $4 } END { print n }' "$WORK/docs/manifest.txt")
for _ in $(seq 100); do
    [ "$(ls "$WORK"/pages-*/page-*.pbm | wc -l)" -ge "$want" ] && break
    sleep 0.1
done
stop_emulator
cat "$WORK/emu.err"
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "a job began off a command boundary"
grep -q ", [1-9][0-9]* errors" "$WORK/emu.err" && fail "the printers could not decode something"
"$LOAD_JOBS" check "$WORK/docs" "$WORK/assignment.txt" "$WORK"/pages-{0,1,2,3} ||
    fail "pages checked against the jobs"
echo "$COUNT jobs in $(echo "$end - $start" | bc) s"
echo PASS
