#!/usr/bin/env bash
# Prints through a private CUPS scheduler with the kit's PPDs.
#
#   cups_scheduler_test.sh CASE WORK_DIR
#
# CASE:
#   capture  PPD options through the real scheduler and filter chain, with a
#            stand-in filter that hands the raster on to a file
#   pdf      a PDF through rastertoqel and CUPS's serial backend into the
#            virtual printer; its page against Ghostscript's own rendering
#   png      a PNG through rastertoqel to a file device, decoded afterwards
#   paper    paper used with the default options: blank paper before and
#            after the content of a text file and of an A4 document, one cut
#            per job
#   cancel   a job cancelled while rastertoqel is blocked writing
#   gone     a job for a serial printer whose port has disappeared
#
# Paths come from the environment: QEL_PPD_DIR, QEL_FIXTURES, QEL_RASTER_INFO,
# QEL_PBM_COMPARE, QEL_CAPTURE_FILTER, QEL_FILTER, QEL_VPRINTER.
# Exit status 0 pass, 1 fail, 77 skipped (not root).
set -u
CASE=$1 WORK=$2
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/test_lib.sh"
. "$HERE/cupsd_harness.sh"

qel_cupsd_require_root

PPD=$QEL_PPD_DIR/qel0016.ppd
VP_PID=
HOLD_PID=

cleanup()
{
    [ -n "$VP_PID" ] && kill -TERM "$VP_PID" 2>/dev/null && wait "$VP_PID" 2>/dev/null
    [ -n "$HOLD_PID" ] && kill -TERM "$HOLD_PID" 2>/dev/null && wait "$HOLD_PID" 2>/dev/null
    qel_cupsd_stop
}
trap cleanup EXIT

# add_queue NAME URI: a queue with the model 0016 PPD.
add_queue()
{
    if ! lpadmin -p "$1" -E -v "$2" -P "$PPD" 2> "$WORK/lpadmin-$1.txt"; then
        cat "$WORK/lpadmin-$1.txt" >&2
        fail "lpadmin -p $1 failed"
        exit 1
    fi
    QEL_CUPSD_QUEUE=$1
}

# submit QUEUE FILE [lp options...]: prints the job id.
submit()
{
    local queue=$1 file=$2 out
    shift 2
    out=$(lp -d "$queue" "$@" "$file" 2>&1) || {
        echo "lp: $out" >&2
        return 1
    }
    printf '%s\n' "$out" | sed -n "s/^request id is $queue-\([0-9]*\).*/\1/p"
}

# filter_exit JOB: how rastertoqel ended in that job, from the scheduler's
# log: "0", "status N" or "signal N" (empty when it never ran).
filter_exit()
{
    local line
    line=$(grep "\[Job $1\] PID [0-9]* (.*/rastertoqel)" "$QEL_CUPSD_ROOT/log/error_log" |
        grep -E 'exited|stopped|terminated|crashed' | tail -1)
    case "$line" in
        *"exited with no errors"*) echo 0 ;;
        *"stopped with status"*) echo "status $(echo "$line" | sed 's/.*status \([0-9]*\).*/\1/')" ;;
        *signal*) echo "signal $(echo "$line" | sed 's/.*signal \([0-9]*\).*/\1/')" ;;
        *) echo "" ;;
    esac
}

# start_vprinter: the virtual printer on a pseudo-terminal at $WORK/dev/Ttys0
# that writes every page copy it receives into $WORK/pages.
start_vprinter()
{
    mkdir -p "$WORK/dev" "$WORK/pages"
    "$QEL_VPRINTER" --tty "$WORK/dev/Ttys0" --out "$WORK/pages" \
        > "$WORK/vprinter.out" 2> "$WORK/vprinter.err" &
    VP_PID=$!
    local i
    for i in $(seq 1 100); do
        grep -q '^READY' "$WORK/vprinter.out" 2>/dev/null && return 0
        kill -0 "$VP_PID" 2>/dev/null || break
        sleep 0.1
    done
    cat "$WORK/vprinter.err" >&2
    fail "virtual printer did not get ready"
    exit 1
}

# print_decoded NAME FILE [lp options...]: prints FILE on a queue of its own
# with a file device and decodes what the printer would get into
# $WORK/NAME/page-NNN.{txt,pbm}, one pair per page copy.
print_decoded()
{
    local name=$1 file=$2 job
    shift 2
    add_queue "$name" "file:$WORK/out/$name.bin"
    job=$(submit "$name" "$file" "$@")
    expect_eq "$name: job state" "$(qel_cupsd_wait_job "$job")" completed
    "$QEL_VPRINTER" --decode "$WORK/out/$name.bin" --out "$WORK/$name" > /dev/null
    expect_eq "$name: stream decodes" $? 0
}

# page_field NAME N KEY: a field of page copy N of print_decoded NAME.
page_field()
{
    sed -n "s/^$3=//p" "$WORK/$1/page-$(printf '%03d' "$2").txt"
}

# expect_margins NAME: every page copy of NAME has at most 16 blank dot lines
# (2 mm) before its first and after its last dot.
expect_margins()
{
    local page m top bottom
    for page in "$WORK/$1"/page-*.pbm; do
        m=$("$QEL_PBM_COMPARE" --margins "$page")
        top=$(field top "$m")
        bottom=$(field bottom "$m")
        echo "$1 $(basename "$page"): $m"
        expect_eq "$1: at most 2 mm before the content" "$((${top:-99} <= 16))" 1
        expect_eq "$1: at most 2 mm after the content" "$((${bottom:-99} <= 16))" 1
    done
}

# wait_file PATH [SECONDS]: waits for PATH to appear.
wait_file()
{
    local i
    for i in $(seq 1 $((${2:-20} * 10))); do
        [ -e "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# make_noise: $WORK/noise.pbm, a page of random dots at 203 dpi.  Random
# dots do not compress: about 120 kB of printer commands.
make_noise()
{
    { printf 'P4\n576 1598\n'; head -c $((72 * 1598)) /dev/urandom; } > "$WORK/noise.pbm"
}

rm -rf "$WORK"
mkdir -p "$WORK/out"
chmod 0755 "$WORK" "$WORK/out"

case "$CASE" in
capture)
    qel_cupsd_prepare "$WORK/cups" "$QEL_CAPTURE_FILTER"
    qel_cupsd_start || exit 1
    add_queue cap "file:$WORK/out/cap.ras"

    # Every option at a non-default value.
    job=$(submit cap "$QEL_FIXTURES/receipt.pdf" -o PrintSpeed=3 -o PrintDensity=80 \
        -o PaperPath=Path1 -o BottomCutOff=16 -o FormFeed=True -o PaperCut=False \
        -o TrimBlank=False)
    expect_eq "options job" "$(qel_cupsd_wait_job "$job")" completed
    info=$("$QEL_RASTER_INFO" "$WORK/out/cap.ras" "$WORK/out/options")
    expect_fields "options in the page header" "$info" \
        "width=576 height=1598 bpl=72 bits=1 space=3 res=203 speed=3 density=80 path=1
         trim=0 cutoff=16 feed=1 cut=0 copies=1"
    "$QEL_PBM_COMPARE" "$WORK/out/options-1.pbm" "$QEL_FIXTURES/receipt-gs-1.pbm"
    expect_eq "page equals Ghostscript's rendering" $? 0

    # Defaults.
    job=$(submit cap "$QEL_FIXTURES/receipt.pdf")
    expect_eq "default job" "$(qel_cupsd_wait_job "$job")" completed
    expect_fields "defaults in the page header" "$("$QEL_RASTER_INFO" "$WORK/out/cap.ras")" \
        "speed=255 density=255 path=0 trim=1 trimtop=1 cutoff=0 feed=0 cut=1 cutjob=1 copies=1"

    # Trimming is on by default and must not add a blank page to an odd
    # page count, as two-sided printing would.
    job=$(submit cap "$QEL_FIXTURES/three_pages.pdf")
    expect_eq "three-page job" "$(qel_cupsd_wait_job "$job")" completed
    info=$("$QEL_RASTER_INFO" "$WORK/out/cap.ras")
    expect_eq "three pages stay three" "$(printf '%s\n' "$info" | grep -c '^page=')" 3
    expect_eq "no blank page" "$(printf '%s\n' "$info" | grep -c 'dark=0$')" 0

    # Copies reach the filter as NumCopies of one page.
    job=$(submit cap "$QEL_FIXTURES/receipt.pdf" -n 2)
    expect_eq "copies job" "$(qel_cupsd_wait_job "$job")" completed
    info=$("$QEL_RASTER_INFO" "$WORK/out/cap.ras")
    expect_eq "one page for two copies" "$(printf '%s\n' "$info" | grep -c '^page=')" 1
    expect_fields "NumCopies" "$info" "copies=2"
    ;;
pdf)
    qel_cupsd_prepare "$WORK/cups" "$QEL_FILTER"
    qel_cupsd_start || exit 1
    start_vprinter
    add_queue qel "serial:$WORK/dev/Ttys0?baud=115200+bits=8+parity=none+flow=none"

    # The comparison with Ghostscript's page needs its blank top lines.
    job=$(submit qel "$QEL_FIXTURES/receipt.pdf" -o PrintSpeed=3 -o PrintDensity=80 \
        -o PaperPath=Path1 -o FormFeed=True -o TrimTop=False)
    expect_eq "job state" "$(qel_cupsd_wait_job "$job")" completed
    expect_eq "rastertoqel exit" "$(filter_exit "$job")" 0
    wait_file "$WORK/pages/page-001.txt" || fail "the virtual printer got no page"
    # Trimming is on by default: the page ends with its last printed line.
    "$QEL_PBM_COMPARE" "$WORK/pages/page-001.pbm" "$QEL_FIXTURES/receipt-gs-1.pbm" --trimmed
    expect_eq "printed page equals Ghostscript's rendering" $? 0
    settings=$(tr '\n' ' ' < "$WORK/pages/page-001.txt")
    # Density step 80 is +60 on the printer; Path1 is paper path 1.
    expect_fields "printer settings" "$settings" \
        "complete=1 speed=3 density=60 path=1 width_dots=576 form_feed=1 cut=2"
    expect_eq "one page copy" "$(ls "$WORK/pages" | grep -c '\.txt$')" 1
    ;;
png)
    qel_cupsd_prepare "$WORK/cups" "$QEL_FILTER"
    qel_cupsd_start || exit 1
    add_queue qel "file:$WORK/out/png.bin"

    # A 576 x 1598 picture at the printer's resolution, not rotated.
    job=$(submit qel "$QEL_FIXTURES/receipt.png" -o ppi=203 -o orientation-requested=3 \
        -o TrimBlank=False -o TrimTop=False -o BottomCutOff=40 -o PaperCut=False \
        -o PrintDensity=0 -n 2)
    expect_eq "job state" "$(qel_cupsd_wait_job "$job")" completed
    expect_eq "rastertoqel exit" "$(filter_exit "$job")" 0
    "$QEL_VPRINTER" --decode "$WORK/out/png.bin" --out "$WORK/decoded" > "$WORK/decode.txt"
    expect_eq "stream decodes" $? 0
    # Two copies of one page; no trimming, 40 lines cut off the bottom.
    expect_eq "page copies" "$(ls "$WORK/decoded" | grep -c '\.txt$')" 2
    for copy in 001 002; do
        settings=$(tr '\n' ' ' < "$WORK/decoded/page-$copy.txt")
        expect_fields "copy $copy settings" "$settings" \
            "complete=1 speed=none density=-100 path=4 lines=1558 form_feed=0 cut=0"
        # The image filter places the picture a line off: allow a shift of 1.
        "$QEL_PBM_COMPARE" "$WORK/decoded/page-$copy.pbm" "$QEL_FIXTURES/receipt.pbm" --shift 1
        expect_eq "copy $copy equals the picture" $? 0
    done
    ;;
paper)
    qel_cupsd_prepare "$WORK/cups" "$QEL_FILTER"
    qel_cupsd_start || exit 1
    # A one-line text file on the default 80 x 200 mm page, and an A4
    # document that CUPS scales down and centres on it.
    echo "One line of text" > "$WORK/one_line.txt"
    chmod 0644 "$WORK/one_line.txt"
    print_decoded text "$WORK/one_line.txt"
    expect_eq "text: one page copy" "$(ls "$WORK/text" | grep -c '\.txt$')" 1
    expect_margins text
    expect_eq "text: cut" "$(page_field text 1 cut)" 2
    print_decoded a4 "$QEL_FIXTURES/a4_page.pdf"
    expect_margins a4

    # Three pages, two copies each, cut after the job (the default): one
    # cut, at the end of the last copy of the last page.
    print_decoded three "$QEL_FIXTURES/three_pages.pdf" -n 2
    copies=$(ls "$WORK/three" | grep -c '\.txt$')
    expect_eq "three: page copies" "$copies" 6
    cuts=""
    for n in $(seq 1 "$copies"); do cuts="$cuts$(page_field three "$n" cut)"; done
    expect_eq "three: one cut, at the end" "$cuts" 000002
    # "True" keeps cutting after every page copy.
    print_decoded three_each "$QEL_FIXTURES/three_pages.pdf" -o PaperCut=True
    cuts=""
    for n in 1 2 3; do cuts="$cuts$(page_field three_each "$n" cut)"; done
    expect_eq "three_each: a cut after every page" "$cuts" 222
    ;;
cancel)
    qel_cupsd_prepare "$WORK/cups" "$QEL_FILTER"
    qel_cupsd_start || exit 1
    # A printer that takes no data: a FIFO that is held open but never read.
    # Once its buffer is full, rastertoqel blocks in its next write.
    mkfifo -m 0666 "$WORK/out/stuck"
    sleep 600 <> "$WORK/out/stuck" &
    HOLD_PID=$!
    add_queue qel "file:$WORK/out/stuck"
    make_noise
    job=$(submit qel "$WORK/noise.pbm" -o ppi=203 -o orientation-requested=3)
    for i in $(seq 1 300); do
        grep -q "\[Job $job\] Started filter .*/rastertoqel" "$QEL_CUPSD_ROOT/log/error_log" &&
            grep -q "\[Job $job\] PAGE: 1 1" "$QEL_CUPSD_ROOT/log/error_log" && break
        sleep 0.1
    done
    sleep 1
    expect_eq "job blocked while printing" "$(qel_cupsd_job_state "$job")" processing
    cancel "$job"
    expect_eq "job state after cancel" "$(qel_cupsd_wait_job "$job")" canceled
    # CUPS sends the filter of a cancelled job SIGTERM and, only after its
    # JobKillDelay of 30 s, SIGKILL.  A filter stuck writing to a printer
    # that takes nothing must still end at once.
    for i in $(seq 1 100); do
        [ -n "$(filter_exit "$job")" ] && break
        sleep 0.1
    done
    ex=$(filter_exit "$job")
    case "$ex" in
        "signal 15" | 0 | "status 1") pass "rastertoqel ended within 10 s of the cancel ($ex)" ;;
        "") fail "rastertoqel still runs 10 s after the cancel" ;;
        *) fail "rastertoqel ended with '$ex' after the cancel" ;;
    esac
    # The queue stays usable.
    expect_eq "printer state" "$(lpstat -p qel | grep -c 'is idle')" 1
    ;;
gone)
    qel_cupsd_prepare "$WORK/cups" "$QEL_FILTER"
    qel_cupsd_start || exit 1
    start_vprinter
    add_queue qel "serial:$WORK/dev/Ttys0?baud=115200"
    lpadmin -p qel -o printer-error-policy=abort-job 2>/dev/null
    # The printer is switched off: its port disappears.
    kill -TERM "$VP_PID"
    wait "$VP_PID" 2>/dev/null
    VP_PID=
    [ ! -e "$WORK/dev/Ttys0" ] || fail "the port link is still there"
    # More output than a pipe holds, so that the filter is still writing
    # when the backend gives up.
    make_noise
    job=$(submit qel "$WORK/noise.pbm" -o ppi=203 -o orientation-requested=3)
    expect_eq "job state" "$(qel_cupsd_wait_job "$job")" aborted
    grep -q "\[Job $job\] Unable to open serial port" "$QEL_CUPSD_ROOT/log/error_log"
    expect_eq "backend reported the missing port" $? 0
    # The filter's output has nowhere to go: it must say so and fail, not
    # die of SIGPIPE or report success.
    expect_eq "rastertoqel exit" "$(filter_exit "$job")" "status 1"
    grep -q "\[Job $job\] Unable to write print data" "$QEL_CUPSD_ROOT/log/error_log"
    expect_eq "rastertoqel reported the failed write" $? 0
    ;;
*)
    echo "unknown case $CASE" >&2
    exit 2
    ;;
esac
finish
