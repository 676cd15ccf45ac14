#!/usr/bin/env bash
# Runs the demo and checks that it printed the sample receipt.
#   demo_test.sh BUILD_DIR OUT_DIR
set -u
[ "$(id -u)" -eq 0 ] || { echo "the demo's cupsd needs root: skipped"; exit 77; }
BUILD=$1 OUT=$2
. "$(dirname "$0")/../cups/test_lib.sh"
log=$(QEL_DEMO_OUT=$OUT bash "$(dirname "$0")/demo.sh" "$BUILD" 2>&1)
status=$?
printf '%s\n' "$log"
expect_eq "demo exit status" "$status" 0
expect_eq "receipt image" "$(file -b "$OUT/receipt.png" 2>/dev/null | cut -d, -f1-2)" \
    "PNG image data, 576 x $(sed -n 's/^lines=//p' "$OUT/pages/page-001.txt" 2>/dev/null)"
# The receipt has text and graphics: a blank or empty page is a failure.
lines=$(sed -n 's/^lines=//p' "$OUT/pages/page-001.txt" 2>/dev/null)
QEL_CHECKS=$((QEL_CHECKS + 1))
if [ "${lines:-0}" -gt 500 ]; then pass "printed lines ($lines)"; else fail "printed lines: ${lines:-none}"; fi
expect_eq "summary names the image" "$(printf '%s\n' "$log" | grep -c "receipt image *: $OUT/receipt.png")" 1
expect_eq "inquiry answered" "$(grep -c '^printer_status ' "$OUT/inquiry.txt" 2>/dev/null)" 1
finish
