#!/bin/bash
# CUPS's IPP Everywhere conformance file against the application with an emulator printer:
# every test passes or is skipped by the file's own conditions, except the two expectations
# PAPPL 1.3.1 misses itself (with TLS on, printer-uri-supported has one value but
# uri-security-supported two; a held job has no job-state-reasons).
APP=$1 EMU=$2 WORK=$3 PORT=$4 PBM_TO_PWG=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

# ipptool reads the sample documents of every test, also of those it skips: a copy of its
# directory with the documents it names and a receipt in PWG raster for "-f".
IPPTOOL_DIR=$WORK/ipptool
mkdir -p "$IPPTOOL_DIR"
ln -s /usr/share/cups/ipptool/* "$IPPTOOL_DIR"/
cat > "$WORK/doc.ps" <<'PS'
%!PS
/Helvetica findfont 24 scalefont setfont 72 700 moveto (IPP Everywhere) show showpage
PS
for size in a4 letter; do
    gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=$size \
        -sOutputFile="$IPPTOOL_DIR/document-$size.pdf" "$WORK/doc.ps"
    cp "$WORK/doc.ps" "$IPPTOOL_DIR/document-$size.ps"
done
pbmtext -builtin fixed "JPEG" | pnmtojpeg > "$IPPTOOL_DIR/gray.jpg"
pbmtext -builtin fixed "JPEG" | pgmtoppm red | pnmtojpeg > "$IPPTOOL_DIR/color.jpg"
# The PWG raster samples are for resolutions the printer does not have: their tests skip.
grep -h '^[[:space:]]*FILE pwg-raster-samples' "$IPPTOOL_DIR/ipp-everywhere.test" |
    awk '{print $2}' | sort -u | while read -r f; do
    mkdir -p "$IPPTOOL_DIR/$(dirname "$f")" && : > "$IPPTOOL_DIR/$f"
done
pbmtext -builtin fixed "QEL RECEIPT" | pnmpad -white -width 639 > "$WORK/receipt.pbm"
"$PBM_TO_PWG" "$WORK/receipt.pbm" om_roll-80_80x100mm "$IPPTOOL_DIR/receipt.pwg" ||
    fail "PWG document"

start_emulator
start_server
add_printer
sleep 1 # printer-up-time must be above 0
(cd "$IPPTOOL_DIR" && timeout 300 ipptool -I -t -V 2.0 -f receipt.pwg \
    -d filetype=image/pwg-raster "$PRINTER_URI" ipp-everywhere.test) > "$WORK/ipptool.out" 2>&1
pass=$(grep -c '\[PASS\]$' "$WORK/ipptool.out")
failed=$(grep -c '\[FAIL\]$' "$WORK/ipptool.out")
skip=$(grep -c '\[SKIP\]$' "$WORK/ipptool.out")
echo "ipp-everywhere.test: $pass passed, $failed failed, $skip skipped"
grep '\[FAIL\]$' "$WORK/ipptool.out" | sed 's/  *\[FAIL\]$//; s/^ *//' > "$WORK/failed.txt"
printf '%s\n' "RFC 8011 section 4.2.5: Get-Printer-Attributes Operation (default)" \
    "Print-Job with job-hold-until" > "$WORK/known.txt"
diff "$WORK/known.txt" "$WORK/failed.txt" || fail "failures other than PAPPL 1.3.1's own"
# Inside those two tests, only PAPPL's own expectations fail.
grep 'EXPECTED:' "$WORK/ipptool.out" | sed 's/^ *EXPECTED: //' | sort -u > "$WORK/expected.txt"
grep -v -e '^printer-uri-supported (1 values) SAME-COUNT-AS uri-security-supported' \
    -e '^uri-security-supported (2 values) SAME-COUNT-AS uri-authentication-supported' \
    -e '^job-state-reasons$' "$WORK/expected.txt" && fail "other expectations failed"
[ "$pass" -eq 26 ] && [ "$skip" -eq 472 ] || fail "counts changed: $pass passed, $skip skipped"
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary"
echo PASS
