#!/bin/bash
# Shared steps of the printer application tests: an emulator printer on a pty, a server of
# the application with its own HOME, port, spool and (in a private mount namespace) its own
# /run for the control socket, so that tests run in parallel also as root.
# Usage: source app_lib.sh APP EMULATOR WORKDIR PORT
set -u
APP=$1
EMU=$2
WORK=$3
PORT=$4
rm -rf "$WORK"
mkdir -p "$WORK/home" "$WORK/pages" "$WORK/spool"
DEV=$(mktemp -d /dev/shm/qel-app-test.XXXXXX)
EMU_PID=
SERVER_PID=
DBUS_PID=

fail() {
    echo "FAIL: $*"
    [ -f "$WORK/log" ] && tail -20 "$WORK/log"
    exit 1
}

cleanup() {
    [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
    [ -n "$EMU_PID" ] && kill "$EMU_PID" 2>/dev/null
    [ -n "$DBUS_PID" ] && kill "$DBUS_PID" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$DEV"
}
trap cleanup EXIT

# start_emulator [EXTRA OPTIONS...]: a printer with serial number SN-APP-<port> at $DEV/Ttys0.
start_emulator() {
    "$EMU" --serial "SN-APP-$PORT" --tty "$DEV/Ttys0" --out "$WORK/pages" "$@" \
        > "$WORK/emu.out" 2> "$WORK/emu.err" &
    EMU_PID=$!
    for _ in $(seq 50); do
        grep -q READY "$WORK/emu.out" 2>/dev/null && return 0
        sleep 0.1
    done
    fail "emulator did not start"
}

# start_usb_emulator --usb --serial SN --out DIR [...]: emulated USB printers (umockdev);
# everything run afterwards (the app) sees them through the preload library. The testbed
# goes under the short $DEV: its ioctl sockets' paths must fit a socket address (108 bytes).
start_usb_emulator() {
    local ports
    ports=$(printf '%s\n' "$@" | grep -c '^--usb$')
    TMPDIR="$DEV" "$EMU" "$@" > "$WORK/emu.out" 2> "$WORK/emu.err" &
    EMU_PID=$!
    for _ in $(seq 50); do
        [ "$(grep -c '^READY' "$WORK/emu.out" 2>/dev/null)" -ge "$ports" ] && break
        sleep 0.1
    done
    [ "$(grep -c '^READY' "$WORK/emu.out")" -ge "$ports" ] || fail "emulator did not start"
    export LD_PRELOAD=libumockdev-preload.so.0
    export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0
    export UMOCKDEV_DIR=$(sed -n 's/^UMOCKDEV_DIR=//p' "$WORK/emu.out")
}

# replug_usb: every emulated USB printer comes back at a new address.
replug_usb() {
    kill -USR1 "$EMU_PID"
    for _ in $(seq 50); do
        grep -q '^MOVED' "$WORK/emu.out" && return 0
        sleep 0.1
    done
    fail "emulator did not re-plug"
}

# start_dbus: a private bus as the system bus (PAPPL's device listing needs one for Avahi).
start_dbus() {
    dbus-daemon --session --fork --print-address=3 --print-pid=4 \
        3> "$WORK/dbus.address" 4> "$WORK/dbus.pid" || fail "dbus-daemon"
    DBUS_PID=$(cat "$WORK/dbus.pid")
    export DBUS_SYSTEM_BUS_ADDRESS=$(cat "$WORK/dbus.address")
}

stop_emulator() {
    kill "$EMU_PID"
    wait "$EMU_PID" 2>/dev/null
    EMU_PID=
}

app() {
    HOME="$WORK/home" "$APP" "$@"
}

# start_server [EXTRA -o OPTIONS...]
start_server() {
    HOME="$WORK/home" "$APP" server -o server-port="$PORT" -o log-file="$WORK/log" \
        -o log-level=debug -o spool-directory="$WORK/spool" "$@" &
    SERVER_PID=$!
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://localhost:$PORT/" && return 0
        sleep 0.1
    done
    fail "server did not start"
}

add_printer() {
    app add -d rcpt -v "qel:$DEV/Ttys0?baud=115200" -m qel_0016 || fail "add printer"
}

PRINTER_URI="ipp://localhost:$PORT/ipp/print/rcpt"

# printer_resource NAME: the resource path the server gave the printer NAME.
printer_resource() {
    sed -n "s|.*Printer '$1' at resource path '\([^']*\)'.*|\1|p" "$WORK/log" | tail -1
}

# submit FILE MIME [ipptool -d options...]
submit() {
    local file=$1 mime=$2
    shift 2
    ipptool -tf "$file" -d filetype="$mime" "$@" "$PRINTER_URI" print-job.test \
        > "$WORK/submit.out" 2>&1 || { cat "$WORK/submit.out"; fail "submit $file"; }
}

# wait_pages N [SECONDS]: the emulator has written N pages (within 10 s unless told).
wait_pages() {
    for _ in $(seq $((${2:-10} * 10))); do
        [ "$(ls "$WORK/pages"/page-*.pbm 2>/dev/null | wc -l)" -ge "$1" ] && return 0
        sleep 0.1
    done
    fail "expected $1 pages from the emulator"
}

# printer_reasons: the printer-state-reasons keywords, one line.
printer_reasons() {
    ipptool -tv "$PRINTER_URI" get-printer-attributes.test 2>/dev/null |
        sed -n 's/.*printer-state-reasons (.*) = //p'
}

# wait_reason WORD SECONDS [gone]: the printer-state-reasons hold WORD (with "gone": no longer
# hold it) within SECONDS; status 1 when the time ran out.
wait_reason() {
    local end=$((SECONDS + $2)) now
    while :; do
        if printer_reasons | grep -qw "$1"; then now=held; else now=gone; fi
        [ "$now" = "${3:-held}" ] && return 0
        [ $SECONDS -le $end ] || return 1
        sleep 0.5
    done
}

# expected_receipt SOURCE.pbm OUT.pbm: what the printer prints of a page image: the middle
# 576 dots, blank rows above and below the content dropped, 32 blank rows (4 mm) below.
expected_receipt() {
    local width
    width=$(pamfile "$1" | sed 's/.*, \([0-9]*\) by.*/\1/')
    pamcut -left $(((width - 576) / 2)) -width 576 "$1" | pnmcrop -white -top -bottom |
        pnmpad -white -bottom 32 | pnmtoplainpnm > "$2"
}

# make_receipt PBM_TO_PWG: a receipt as r.pdf (and Ghostscript's 203 dpi r.pbm, printed as
# expected.pbm), the same page 639 dots wide (an 80 mm roll) as r.pwg (printed as
# expected-pwg.pbm) and its middle 576 dots as r.png at 203 dpi (8000 dots per metre).
make_receipt() {
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
    pamcut -width 639 "$WORK/r.pbm" > "$WORK/r639.pbm"
    "$1" "$WORK/r639.pbm" om_roll-80_80x150mm "$WORK/r.pwg" || fail "PWG document"
    expected_receipt "$WORK/r639.pbm" "$WORK/expected-pwg.pbm"
    pamcut -left 31 -width 576 "$WORK/r639.pbm" | pnmtopng -size "8000 8000 1" > "$WORK/r.png"
}

same_image() {
    pnmtoplainpnm "$1" | cmp -s - "$2"
}
