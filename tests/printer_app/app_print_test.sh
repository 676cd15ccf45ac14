#!/bin/bash
# One receipt as a PDF, a PWG raster document (written with libcups) and a PNG comes out of
# the emulator dot for dot: the middle of the page (Ghostscript's own 203 dpi rendering for
# the PDF), no blank rows above or below the content, the 4 mm bottom margin; then the
# printer goes away (offline within 10 s) and comes back (cleared, the next job prints).
APP=$1 EMU=$2 WORK=$3 PORT=$4 PBM_TO_PWG=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

cat > "$WORK/r.ps" <<'PS'
%!PS
<</PageSize [226.8 400]>> setpagedevice
/Helvetica findfont 18 scalefont setfont
30 300 moveto (QEL RECEIPT) show 30 260 moveto (Coffee 2.50) show
30 230 moveto (Total 12.50) show 30 196 170 4 rectfill
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$WORK/r.pdf" "$WORK/r.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pbmraw -r203 -sOutputFile="$WORK/r.pbm" "$WORK/r.pdf"
expected_receipt "$WORK/r.pbm" "$WORK/expected.pbm"
# The same page 639 dots wide (an 80 mm roll) in PWG raster, and its middle 576 dots as a
# PNG at 203 dpi (8000 dots per metre).
pamcut -width 639 "$WORK/r.pbm" > "$WORK/r639.pbm"
"$PBM_TO_PWG" "$WORK/r639.pbm" om_roll-80_80x150mm "$WORK/r.pwg" || fail "PWG document"
expected_receipt "$WORK/r639.pbm" "$WORK/expected-pwg.pbm"
pamcut -left 31 -width 576 "$WORK/r639.pbm" | pnmtopng -size "8000 8000 1" > "$WORK/r.png"

start_emulator
start_server
add_printer
submit "$WORK/r.pdf" application/pdf
wait_pages 1
submit "$WORK/r.pwg" image/pwg-raster
wait_pages 2
submit "$WORK/r.png" image/png
wait_pages 3
same_image "$WORK/pages/page-001.pbm" "$WORK/expected.pbm" || fail "PDF page differs"
same_image "$WORK/pages/page-002.pbm" "$WORK/expected-pwg.pbm" || fail "PWG page differs"
same_image "$WORK/pages/page-003.pbm" "$WORK/expected-pwg.pbm" || fail "PNG page differs"

# Gone: offline within 10 s; back: cleared within 10 s and the next job prints.
mv "$WORK/pages" "$WORK/pages-1" && mkdir "$WORK/pages"
stop_emulator
start=$(date +%s)
until printer_reasons | grep -q offline; do
    [ $(($(date +%s) - start)) -le 10 ] || fail "not offline after 10 s: $(printer_reasons)"
    sleep 0.5
done
echo "offline after $(($(date +%s) - start)) s"
start_emulator
start=$(date +%s)
while printer_reasons | grep -q offline; do
    [ $(($(date +%s) - start)) -le 10 ] || fail "still offline 10 s after the printer came back"
    sleep 0.5
done
submit "$WORK/r.pdf" application/pdf
wait_pages 1
same_image "$WORK/pages/page-001.pbm" "$WORK/expected.pbm" || fail "page after re-plug differs"
stop_emulator
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary"
echo PASS
