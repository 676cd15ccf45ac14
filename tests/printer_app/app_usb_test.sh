#!/bin/bash
# Two emulated USB printers of one model, told apart by serial number: the app lists them by
# their serial-number URIs and adds both at start-up with their model's driver (no "add"), once
# only across a restart; a receipt prints dot for dot on the right one, also after the printer
# was re-plugged at another USB address.
APP=$1 EMU=$2 WORK=$3 PORT=$4 PBM_TO_PWG=$5
source "$(dirname "$0")/app_lib.sh" "$APP" "$EMU" "$WORK" "$PORT"

make_receipt "$PBM_TO_PWG"
mkdir -p "$WORK/pages-2"
start_usb_emulator --usb --serial APPUSB-1 --out "$WORK/pages" \
    --usb --serial APPUSB-2 --out "$WORK/pages-2"
start_dbus
app devices > "$WORK/devices.txt" 2>&1 || { cat "$WORK/devices.txt"; fail "devices"; }
for sn in APPUSB-1 APPUSB-2; do
    grep -qx "qel://QEL/Receipt%20Printer%200002?serial=$sn" "$WORK/devices.txt" ||
        { cat "$WORK/devices.txt"; fail "$sn not listed by serial number"; }
done

NAME="QEL Receipt Printer 0002 (APPUSB-1)"
start_server
for _ in $(seq 50); do
    [ "$(app printers | wc -l)" -ge 2 ] && break
    sleep 0.2
done
app printers > "$WORK/printers.txt"
grep -qx "$NAME" "$WORK/printers.txt" || { cat "$WORK/printers.txt"; fail "APPUSB-1 not added"; }
grep -q "Added printer '$NAME' (qel_0002) for qel://QEL/Receipt%20Printer%200002?serial=APPUSB-1" \
    "$WORK/log" || fail "APPUSB-1 not added with its model's driver and serial-number URI"

# A restart adds nothing more: both printers have theirs.
kill "$SERVER_PID" && wait "$SERVER_PID"
start_server
sleep 2
[ "$(app printers | wc -l)" -eq 2 ] || { app printers; fail "printers added again after restart"; }

PRINTER_URI="ipp://localhost:$PORT$(printer_resource "$NAME")"
submit "$WORK/r.pwg" image/pwg-raster
wait_pages 1
same_image "$WORK/pages/page-001.pbm" "$WORK/expected-pwg.pbm" || fail "PWG page differs"

replug_usb
submit "$WORK/r.pdf" application/pdf
wait_pages 2
same_image "$WORK/pages/page-002.pbm" "$WORK/expected.pbm" || fail "page after re-plug differs"
[ -z "$(ls "$WORK/pages-2")" ] || fail "APPUSB-2 printed"
stop_emulator
grep -q "BOUNDARY-ERROR" "$WORK/emu.err" && fail "job off a command boundary"
echo PASS
