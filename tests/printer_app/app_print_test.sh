#!/bin/bash
# One receipt as a PDF, a PWG raster document (written with libcups) and a PNG comes out of
# the emulator dot for dot: the middle of the page (Ghostscript's own 203 dpi rendering for
# the PDF), no blank rows above or below the content, the 4 mm bottom margin; then the
# printer goes away (offline within 10 s) and comes back (cleared, the next job prints).
APP=$1 EMU=$2 WORK=$3 PORT=$4 PBM_TO_PWG=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

make_receipt "$PBM_TO_PWG"

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
start=$SECONDS
wait_reason offline 10 || fail "not offline after 10 s: $(printer_reasons)"
echo "offline after $((SECONDS - start)) s"
start_emulator
wait_reason offline 10 gone || fail "still offline 10 s after the printer came back"
submit "$WORK/r.pdf" application/pdf
wait_pages 1
same_image "$WORK/pages/page-001.pbm" "$WORK/expected.pbm" || fail "page after re-plug differs"
stop_emulator
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary"
echo PASS
