#!/bin/bash
# The app's drivers are the PPDs' models; a printer on the emulator is added and its serial
# number appears on the "Printer data" page; a change without authorisation is refused.
APP=$1 EMU=$2 WORK=$3 PORT=$4 DRV=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

# Drivers and the PPD source name the same eight models.
grep -o 'NickName "" "QEL Receipt Printer [0-9]*"' "$DRV" | sed 's/.*"\(QEL.*\)"/\1/' | sort > "$WORK/ppd.models"
app drivers | sed 's/^[^ ]* "\(.*\)" .*/\1/' | sort > "$WORK/app.models"
[ "$(wc -l < "$WORK/ppd.models")" -eq 8 ] || fail "PPD source models"
diff "$WORK/ppd.models" "$WORK/app.models" || fail "drivers differ from the PPD models"

start_emulator
start_server -o auth-service=login
add_printer
curl -s "http://localhost:$PORT/qel-printer-data?printer=1" > "$WORK/page.html"
grep -q "SN-APP-$PORT" "$WORK/page.html" || fail "serial number not on the Printer data page"
curl -s "http://localhost:$PORT/qel-printer-data?printer=1&download=config" > "$WORK/config.txt"
grep -q '^configuration_data.* = \[[0-9A-F]\{510\}\]' "$WORK/config.txt" || fail "configuration block download"
code=$(curl -s -o /dev/null -w '%{http_code}' -d action=reset "http://localhost:$PORT/qel-printer-data?printer=1")
[ "$code" = 401 ] || [ "$code" = 403 ] || fail "unauthenticated reset answered $code"

if command -v chromium > /dev/null; then
    timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$WORK/chromium" --screenshot="$WORK/printer-data.png" \
        --window-size=1000,1400 "http://localhost:$PORT/qel-printer-data?printer=1" > /dev/null 2>&1
    [ "$(stat -c %s "$WORK/printer-data.png" 2>/dev/null || echo 0)" -gt 20000 ] || fail "screenshot"
fi
stop_emulator
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary"
grep -q "F2 03 00\|reset" "$WORK/emu.err" && fail "printer was reset"
echo PASS
