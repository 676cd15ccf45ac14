#!/bin/bash
# End-to-end cases of the qel backend: a private cupsd (tests/cups harness)
# with the backend in its ServerBin, the printer emulator on a pty or as
# emulated USB printers, raw jobs in the printer's command stream.
#
#   backend_test.sh CASE WORKDIR
#   CASE: discovery | offline | cancel | tool | ports
# Environment: QEL_BACKEND, QEL_VPRINTER, QEL_PPD_DIR, QEL_INQUIRY_TOOL.
set -u
case_name=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../cups/cupsd_harness.sh"
. "$here/../cups/test_lib.sh"

rm -rf "$work"
mkdir -p "$work"
tag="qelbt-$case_name-$$"
export TMPDIR=$work
emulator_pids=()

cleanup()
{
    local pid
    qel_cupsd_stop
    for pid in "${emulator_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rmdir /dev/usb 2>/dev/null
}
trap cleanup EXIT

# start_emulator NAME ARGS...: the emulator in the background; waits until
# every printer is ready. Output in $work/NAME.out and .err.
start_emulator()
{
    local name=$1 i ports
    shift
    ports=$(printf '%s\n' "$@" | grep -c -e '^--usb$' -e '^--lp$' -e '^--tty$')
    "$QEL_VPRINTER" "$@" > "$work/$name.out" 2> "$work/$name.err" &
    emulator_pids+=($!)
    for i in $(seq 1 100); do
        [ "$(grep -c '^READY' "$work/$name.out")" -ge "$ports" ] && return 0
        sleep 0.1
    done
    fail "$name: emulator not ready"
    cat "$work/$name.err" >&2
    return 1
}

# Stop the emulator started last and keep its summary in NAME.err.
stop_last_emulator()
{
    local pid=${emulator_pids[-1]}
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    unset 'emulator_pids[-1]'
}

# The scheduler, with the backend installed as CUPS runs it: root-owned, 0700
# (run as root). ENV: variables for the backend (the umockdev testbed).
start_cupsd()
{
    local env=${1:-}
    qel_cupsd_prepare "$work/cups" || return 1
    rm -f "$work/cups/serverbin/backend/qel"
    printf '#!/bin/sh\n%s\nexec "%s" "$@"\n' "$env" "$QEL_BACKEND" \
        > "$work/cups/serverbin/backend/qel"
    chmod 0700 "$work/cups/serverbin/backend/qel"
    qel_cupsd_start
}

# The scheduler with one queue "receipt" on the device URI $1.
start_receipt_queue()
{
    start_cupsd || return 1
    # A queue that cannot be added shows in the job checks that follow.
    add_queue receipt "$1" || true
}

# Waits up to 10 s for the emulator NAME to report that it stalls.
wait_for_stall()
{
    local i
    for i in $(seq 1 100); do grep -q '^STALL' "$work/$1.err" && break; sleep 0.1; done
}

# The backend's environment for the umockdev testbed of emulator NAME.  The
# scheduler gives backends a clean environment, so a sanitizer build's
# options go along; the preload library comes before the sanitizer runtime.
umockdev_env()
{
    printf 'export LD_PRELOAD=libumockdev-preload.so.0 %s\n' \
        "$(grep '^UMOCKDEV_DIR=' "$work/$1.out" | head -1)"
    printf "export ASAN_OPTIONS='%s' LSAN_OPTIONS='%s' UBSAN_OPTIONS='%s'\n" \
        "${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0" "${LSAN_OPTIONS:-}" \
        "${UBSAN_OPTIONS:-}"
}

add_queue()
{
    lpadmin -p "$1" -E -v "$2" -P "$QEL_PPD_DIR/qel0002.ppd" 2> "$work/lpadmin-$1.txt"
}

# submit QUEUE FILE: prints the job id.
submit()
{
    lp -d "$1" -o raw "$2" | sed -n 's/^request id is [^-]*-\([0-9]*\) .*/\1/p'
}

# receipt NAME LINES SEED: the stream $work/NAME.qel and its page $work/NAME/page-001.pbm.
receipt()
{
    "$here/make_stream.py" "$work/$1.qel" "$2" "$3"
    "$QEL_VPRINTER" --decode "$work/$1.qel" --out "$work/$1" > /dev/null
}

# expect_page CASE GOT.pbm EXPECTED.pbm
expect_page()
{
    QEL_CHECKS=$((QEL_CHECKS + 1))
    if [ -f "$2" ] && cmp -s "$2" "$3"; then pass "$1"; else fail "$1: $2 differs from $3"; fi
}

# decode_errors NAME: the error count of the emulator's summary.
decode_errors()
{
    sed -n 's/^qel-printer-emulator: .*, \([0-9]*\) errors$/\1/p' "$work/$1.err" | head -1
}

backend_log()
{
    grep -h 'qel\|backend' "$work/cups/log/error_log" | tail -40 >&2
}

state_reasons()
{
    lpstat -l -p "$1" 2>/dev/null | tr -s ' '
}

case "$case_name" in
discovery)
    # Two identical USB printers, told apart by their serial numbers.
    start_emulator usb --usb --serial SN-A --out "$work/out-a" \
        --usb --serial SN-B --out "$work/out-b" --stall-after 4000:3 || finish
    start_cupsd "$(umockdev_env usb)" || finish
    lpinfo -l -v > "$work/lpinfo.txt" 2>&1
    uri_a=$(grep -o 'qel://QEL/[^ ]*serial=SN-A' "$work/lpinfo.txt")
    uri_b=$(grep -o 'qel://QEL/[^ ]*serial=SN-B' "$work/lpinfo.txt")
    expect_eq "lpinfo: printer A by serial number" "$uri_a" \
        "qel://QEL/Receipt%20Printer%200002?serial=SN-A"
    expect_eq "lpinfo: printer B by serial number" "$uri_b" \
        "qel://QEL/Receipt%20Printer%200002?serial=SN-B"
    expect_eq "lpinfo: make and model and device ID of B" \
        "$(grep -A5 'serial=SN-B' "$work/lpinfo.txt" | sed -n 's/^ *\(make-and-model\|device-id\) = //p' | tr '\n' '|')" \
        "QEL Receipt Printer 0002|MFG:QEL;MDL:Receipt Printer 0002;CMD:QEL;CLS:PRINTER;SN:SN-B;|"
    # B is re-plugged and comes back at another address; its URI still finds it.
    kill -USR1 "${emulator_pids[-1]}"
    for i in $(seq 1 50); do grep -q '^MOVED' "$work/usb.out" && break; sleep 0.1; done
    grep -q '^MOVED' "$work/usb.out" || fail "emulator did not re-plug"
    receipt small 40 11
    add_queue receipt "$uri_b"
    job=$(submit receipt "$work/small.qel")
    expect_eq "job to B after the re-plug" "$(qel_cupsd_wait_job "$job" 30)" completed
    expect_page "B printed the receipt" "$work/out-b/page-001.pbm" "$work/small/page-001.pbm"
    QEL_CHECKS=$((QEL_CHECKS + 1))
    [ ! -e "$work/out-a/page-001.pbm" ] && pass "A printed nothing" || fail "A printed"
    # B goes away in the middle of a long receipt (stalled, then re-plugged):
    # that job fails; the next one finishes the cut command first and prints whole.
    lpadmin -p receipt -o printer-error-policy=abort-job
    receipt long 4000 13
    job=$(submit receipt "$work/long.qel")
    wait_for_stall usb
    kill -USR1 "${emulator_pids[-1]}"
    expect_eq "job to a vanished printer" "$(qel_cupsd_wait_job "$job" 30)" aborted
    job=$(submit receipt "$work/small.qel")
    expect_eq "next job to B" "$(qel_cupsd_wait_job "$job" 30)" completed
    stop_last_emulator
    expect_eq "no decode error on A and B" "$(grep -c ', 0 errors$' "$work/usb.err")" 2
    last=$(ls "$work/out-b"/page-*.pbm | tail -1)
    expect_page "B's next receipt whole" "$last" "$work/small/page-001.pbm"
    ;;

offline)
    # Nothing at the port: the job waits, reported offline, and prints once
    # the printer is there.
    port=/dev/Ttys-$tag
    start_cupsd || finish
    receipt small 40 12
    add_queue receipt "qel:$port?baud=115200"
    job=$(submit receipt "$work/small.qel")
    for i in $(seq 1 50); do
        state_reasons receipt | grep -q offline-report && break
        sleep 0.1
    done
    QEL_CHECKS=$((QEL_CHECKS + 1))
    if state_reasons receipt | grep -q offline-report; then
        pass "offline-report within 5 s"
    else
        fail "no offline-report: $(state_reasons receipt)"
    fi
    sleep 30
    expect_eq "job still processing after 30 s" "$(qel_cupsd_job_state "$job")" processing
    start_emulator tty --tty "$port" --out "$work/out" || finish
    expect_eq "job completes once the printer is there" "$(qel_cupsd_wait_job "$job" 30)" \
        completed
    QEL_CHECKS=$((QEL_CHECKS + 1))
    state_reasons receipt | grep -q offline-report && fail "offline-report stays" ||
        pass "offline-report cleared"
    expect_page "receipt printed right" "$work/out/page-001.pbm" "$work/small/page-001.pbm"
    ;;

cancel)
    # The printer stalls inside a command for 60 s; the job is cancelled;
    # the next customer's one-line receipt must come out whole.
    port=/dev/usb/lp-$tag
    receipt big 4000 21
    receipt one 1 22
    start_emulator lp --lp "$port" --stall-after 3001:60 --out "$work/out" || finish
    start_receipt_queue "qel:$port" || finish
    job=$(submit receipt "$work/big.qel")
    wait_for_stall lp
    sleep 2
    cancel "$job"
    expect_eq "cancelled job" "$(qel_cupsd_wait_job "$job" 30)" canceled
    job2=$(submit receipt "$work/one.qel")
    expect_eq "next job completes after the stall" "$(qel_cupsd_wait_job "$job2" 120)" completed
    stop_last_emulator
    expect_eq "printer decoded everything without an error" "$(decode_errors lp)" 0
    last=$(ls "$work/out"/page-*.pbm | tail -1)
    expect_page "the next receipt equals its page" "$last" "$work/one/page-001.pbm"

    # A backend killed outright (as CUPS does when the printer stalls longer
    # than it waits): the next job finishes the command it left.
    port2=/dev/usb/lp-$tag-k
    start_emulator lp2 --lp "$port2" --stall-after 3001:4 --out "$work/out2" || finish
    mkdir -p "$work/cache"
    DEVICE_URI=qel:$port2 CUPS_CACHEDIR=$work/cache "$QEL_BACKEND" 1 u t 1 "" \
        "$work/big.qel" 2> "$work/killed.txt" &
    killed=$!
    sleep 2
    kill -KILL "$killed"
    wait "$killed" 2>/dev/null
    DEVICE_URI=qel:$port2 CUPS_CACHEDIR=$work/cache "$QEL_BACKEND" 2 u t 1 "" \
        "$work/one.qel" 2> "$work/next.txt"
    expect_eq "next job after a kill succeeds" "$?" 0
    QEL_CHECKS=$((QEL_CHECKS + 1))
    grep -q 'Completing the unfinished command.*inside 1B F0' "$work/next.txt" &&
        pass "the killed job's command was completed" ||
        fail "no completion: $(cat "$work/next.txt")"
    stop_last_emulator
    expect_eq "after a kill: no decode error" "$(decode_errors lp2)" 0
    last=$(ls "$work/out2"/page-*.pbm | tail -1)
    expect_page "after a kill: the next receipt equals its page" "$last" \
        "$work/one/page-001.pbm"
    ;;

tool)
    # A maintenance tool during a job cannot open the printer's port.
    port=/dev/usb/lp-$tag
    receipt mid 600 31
    start_emulator lp --lp "$port" --stall-after 2000:3 --out "$work/out" || finish
    start_receipt_queue "qel:$port" || finish
    job=$(submit receipt "$work/mid.qel")
    wait_for_stall lp
    "$QEL_INQUIRY_TOOL" "$port" "[0001]" > "$work/tool.txt"
    expect_eq "tool exit status" "$?" 255
    expect_eq "tool message" "$(grep '^!' "$work/tool.txt")" \
        "! Qel_InquiryTool: could not open connection \"$port\"to printer "
    expect_eq "job completes" "$(qel_cupsd_wait_job "$job" 60)" completed
    expect_page "receipt intact" "$work/out/page-001.pbm" "$work/mid/page-001.pbm"
    ;;

ports)
    # Raw USB, a usblp node and a serial line, each a receipt dot for dot.
    receipt r 300 41
    start_emulator usb --usb --serial SN-P --out "$work/out-usb" || finish
    start_emulator lp --lp "/dev/usb/lp-$tag" --out "$work/out-lp" || finish
    start_emulator tty --tty "/dev/Ttys-$tag" --out "$work/out-tty" || finish
    start_cupsd "$(umockdev_env usb)" || finish
    add_queue usb "qel:$(grep '^READY' "$work/usb.out" | cut -d' ' -f2)"
    add_queue lp "qel:/dev/usb/lp-$tag"
    add_queue tty "qel:/dev/Ttys-$tag?baud=115200"
    for q in usb lp tty; do
        job=$(submit "$q" "$work/r.qel")
        expect_eq "$q: job" "$(qel_cupsd_wait_job "$job" 60)" completed
        expect_page "$q: receipt dot for dot" "$work/out-$q/page-001.pbm" "$work/r/page-001.pbm"
    done
    ;;

*)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac
[ "$QEL_FAILURES" -eq 0 ] || backend_log
finish
