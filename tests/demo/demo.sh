#!/usr/bin/env bash
# Prints a receipt end to end: a private CUPS scheduler with the kit's PPD and
# rastertoqel, CUPS's serial backend, and the virtual printer on a
# pseudo-terminal, which renders what it receives.  Then asks the virtual
# printer for its status with Qel_InquiryTool.
#
#   demo.sh BUILD_DIR [FILE]     FILE: PDF, PostScript, PNG, text...
#                                (default: the sample receipt)
# Then prints FILE once more through the printer application (qel-printer-app)
# on the same printer.
# Outputs in BUILD_DIR/demo/: receipt.png (the printed page), receipt-app.png
# (the page printed through the printer application), pages/ (every
# page copy as PNG, PBM and settings), receipt.qel (the command stream sent
# to the printer), decode.txt, inquiry.txt, cups/log/ (the scheduler's logs).
# QEL_DEMO_OUT overrides the output directory.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
BUILD=$(cd "${1:?usage: demo.sh BUILD_DIR [FILE]}" && pwd)
FILE=${2:-$HERE/receipt.ps}
OUT=${QEL_DEMO_OUT:-$BUILD/demo}

say() { printf '[demo] %s\n' "$*"; }
die() { printf '[demo] error: %s\n' "$*" >&2; exit 1; }

FILTER=$BUILD/Qel_Driver/Sources/filter/rastertoqel
VPRINTER=$BUILD/emulator/qel-printer-emulator
PPD=$BUILD/Qel_Driver/ppd/ppd/qel0016.ppd
INQUIRY=$BUILD/tools/Qel_InquiryTool/Qel_InquiryTool
for f in "$FILTER" "$VPRINTER" "$PPD"; do
    [ -e "$f" ] || die "$f is missing: build the kit first (cmake --build $BUILD)"
done
[ -r "$FILE" ] || die "cannot read $FILE"
FILE=$(cd "$(dirname "$FILE")" && pwd)/$(basename "$FILE")
if [ "$(id -u)" -ne 0 ]; then
    die "the private CUPS scheduler must be started as root (it runs filters as lp)"
fi

. "$ROOT/tests/cups/cupsd_harness.sh"

VP_PID=
cleanup()
{
    if [ -n "${APP_PID:-}" ]; then
        kill -TERM "$APP_PID" 2>/dev/null
        wait "$APP_PID" 2>/dev/null
    fi
    if [ -n "$VP_PID" ]; then
        kill -TERM "$VP_PID" 2>/dev/null
        wait "$VP_PID" 2>/dev/null
    fi
    qel_cupsd_stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$OUT"
mkdir -p "$OUT/dev" "$OUT/pages"
chmod 0755 "$OUT"
start=$(date +%s.%N)

# The virtual printer on a pseudo-terminal linked at demo/dev/Ttys0.
"$VPRINTER" --tty "$OUT/dev/Ttys0" --out "$OUT/pages" > "$OUT/vprinter.out" \
    2> "$OUT/vprinter.err" &
VP_PID=$!
for i in $(seq 1 100); do
    grep -q '^READY' "$OUT/vprinter.out" 2>/dev/null && break
    kill -0 "$VP_PID" 2>/dev/null || break
    sleep 0.1
done
grep -q '^READY' "$OUT/vprinter.out" || die "the virtual printer did not start: $(cat "$OUT/vprinter.err")"
say "virtual printer ready on $OUT/dev/Ttys0"

# The scheduler, with rastertoqel and the demo's backend in its ServerBin.
qel_cupsd_prepare "$OUT/cups" "$FILTER"
install -m 0700 "$HERE/qeltee_backend.sh" "$OUT/cups/serverbin/backend/qeltee"
qel_cupsd_start || die "cupsd did not start, see $OUT/cups/log/error_log"
say "private cupsd running (CUPS_SERVER=$CUPS_SERVER)"
lpadmin -p qel -E -v "qeltee:$OUT/receipt.qel?serial=$OUT/dev/Ttys0" -P "$PPD" 2>/dev/null ||
    die "lpadmin failed"
QEL_CUPSD_QUEUE=qel

out=$(lp -d qel "$FILE" 2>&1) || die "lp: $out"
job=$(printf '%s\n' "$out" | sed -n 's/^request id is qel-\([0-9]*\).*/\1/p')
say "printing $(basename "$FILE") as job $job ..."
state=$(qel_cupsd_wait_job "$job" 120)
[ "$state" = completed ] || die "job $job ended $state; see $OUT/cups/log/error_log"
# The printer renders the last page when its page end arrives.
for i in $(seq 1 50); do
    [ -e "$OUT/pages/page-001.png" ] && break
    sleep 0.1
done
[ -e "$OUT/pages/page-001.png" ] || die "the virtual printer rendered no page"
cp "$OUT/pages/page-001.png" "$OUT/receipt.png"
end=$(date +%s.%N)

# What went over the wire, decoded once more from the copy of the stream.
"$VPRINTER" --decode "$OUT/receipt.qel" > "$OUT/decode.txt" 2>&1
summary=$(grep '^total:' "$OUT/decode.txt")

# Ask the printer for its status and identification.
if [ -x "$INQUIRY" ]; then
    "$INQUIRY" -v "$OUT/dev/Ttys0" "[0003]" > "$OUT/inquiry.txt" 2>&1
    say "Qel_InquiryTool (status and information), exit $?:"
    grep -E '^printer_status\.(state|error_code)|^printer_information\.' "$OUT/inquiry.txt" |
        head -8 | sed 's/^/    /'
else
    say "Qel_InquiryTool is not built; no inquiry"
fi

# The same document through the printer application, on the same printer.
APP=$BUILD/printer_app/qel-printer-app
APP_PID=
if [ -x "$APP" ]; then
    mkdir -p "$OUT/app/home" "$OUT/app/spool"
    APP_PORT=${QEL_DEMO_APP_PORT:-8639}
    HOME=$OUT/app/home "$APP" server -o server-port="$APP_PORT" -o log-file="$OUT/app/log" \
        -o spool-directory="$OUT/app/spool" &
    APP_PID=$!
    for i in $(seq 1 50); do
        curl -s -o /dev/null "http://localhost:$APP_PORT/" && break
        sleep 0.1
    done
    app_doc=$FILE
    case "$(file -b --mime-type "$FILE")" in
        application/postscript) # the application takes PDF, not PostScript
            app_doc=$OUT/app/document.pdf
            gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$app_doc" "$FILE" ;;
    esac
    before=$(ls "$OUT/pages" | grep -c '\.png$')
    if HOME=$OUT/app/home "$APP" add -d receipt -m qel_0016 \
            -v "qel:$(readlink -f "$OUT/dev/Ttys0")?baud=115200" > "$OUT/app/add.txt" 2>&1 &&
        ipptool -tf "$app_doc" -d filetype="$(file -b --mime-type "$app_doc")" \
            "ipp://localhost:$APP_PORT/ipp/print/receipt" print-job.test > "$OUT/app/submit.txt" 2>&1; then
        for i in $(seq 1 100); do
            [ "$(ls "$OUT/pages" | grep -c '\.png$')" -gt "$before" ] && break
            sleep 0.1
        done
        last=$(ls "$OUT/pages" | grep '\.png$' | tail -1)
        if [ "$(ls "$OUT/pages" | grep -c '\.png$')" -gt "$before" ]; then
            cp "$OUT/pages/$last" "$OUT/receipt-app.png"
            say "printer application: $(basename "$FILE") printed, $OUT/receipt-app.png"
        else
            say "printer application: no page came out; see $OUT/app/log"
        fi
    else
        say "printer application: the job was not taken; see $OUT/app/"
    fi
    kill -TERM "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=
else
    say "the printer application is not built; no job through it"
fi

field() { printf '%s\n' "$summary" | tr ' ' '\n' | sed -n "s/^$1=//p"; }
say "done in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s:"
say "  pages (copies) printed : $(ls "$OUT/pages" | grep -c '\.png$')"
say "  dot lines             : $(field lines)"
say "  bytes sent            : $(field stream_bytes) (image $(field image_bytes) bytes)"
say "  compression ratio     : $(field compression_ratio)"
say "  receipt image         : $OUT/receipt.png"
[ -e "$OUT/receipt-app.png" ] && say "  through the app       : $OUT/receipt-app.png"
say "  command stream        : $OUT/receipt.qel"
