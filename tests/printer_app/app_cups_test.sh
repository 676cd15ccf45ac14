#!/bin/bash
# CUPS 2.4 prints to the application as to any IPP Everywhere printer: a driverless queue
# (lpadmin -m everywhere) in a private cupsd sends a PDF, converted by cups-filters, through
# the application to the emulator.
APP=$1 EMU=$2 WORK=$3 PORT=$4 ROOT=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"
source "$ROOT/tests/cups/cupsd_harness.sh"
trap 'qel_cupsd_stop; cleanup' EXIT

cat > "$WORK/r.ps" <<'PS'
%!PS
<</PageSize [226.8 300]>> setpagedevice
/Helvetica findfont 20 scalefont setfont
30 200 moveto (VIA CUPS) show 30 150 170 6 rectfill
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$WORK/r.pdf" "$WORK/r.ps"
chmod 0755 "$WORK"
chmod 0644 "$WORK/r.pdf"

start_emulator
start_server
add_printer
qel_cupsd_prepare "$WORK/cups"
qel_cupsd_start || fail "cupsd did not start"
lpadmin -p receipt -E -v "$PRINTER_URI" -m everywhere 2> "$WORK/lpadmin.err" ||
    fail "lpadmin: $(cat "$WORK/lpadmin.err")"
out=$(lp -d receipt "$WORK/r.pdf" 2>&1) || fail "lp: $out"
job=$(printf '%s\n' "$out" | sed -n 's/^request id is receipt-\([0-9]*\).*/\1/p')
state=$(qel_cupsd_wait_job "$job" 60)
[ "$state" = completed ] || fail "CUPS job $job ended $state: $(tail -5 "$WORK/cups/log/error_log")"
wait_pages 1
# The page holds the content: the bar is 6 pt high (17 rows at 203 dpi) and black.
pamfile "$WORK/pages/page-001.pbm" | grep -q "576 by" || fail "page width"
rows=$(pnmcrop -white "$WORK/pages/page-001.pbm" 2>/dev/null | pamfile - | sed 's/.* by \([0-9]*\).*/\1/')
[ "${rows:-0}" -gt 17 ] || fail "the page from CUPS is blank"
stop_emulator
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary"
echo PASS
