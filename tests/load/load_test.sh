#!/usr/bin/env bash
# Load test: many jobs at once through a private CUPS scheduler to several
# virtual printers.
#
#   load_test.sh WORK_DIR [JOBS] [PRINTERS] [SUBMITTERS]
#
# PRINTERS virtual printers on pseudo-terminals, one queue each (model 0016
# PPD, rastertoqel, CUPS's serial backend).  SUBMITTERS processes start
# together and submit JOBS jobs between them, job N to queue N mod PRINTERS:
# CUPS raster receipts of 1-3 pages (some with two copies) and every 25th a
# PDF made by Ghostscript, which CUPS renders with its own filters.  Then:
# every job completed, rastertoqel ended without error in each, and every
# page each printer received equals its job's page, in one unbroken run per
# job, on the right printer, nothing twice or missing.
#
# Reports jobs per second and the slowest job (WORK_DIR/report.txt).
# Paths from the environment: QEL_PPD_DIR, QEL_FILTER, QEL_VPRINTER,
# QEL_LOAD_JOBS, QEL_RASTER_INFO.  Exit 0 pass, 1 fail, 77 skipped (not root).
set -u
WORK=$1
JOBS=${2:-200}
PRINTERS=${3:-4}
SUBMITTERS=${4:-8}
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../cups/test_lib.sh"
. "$HERE/../cups/cupsd_harness.sh"

qel_cupsd_require_root

PPD=$QEL_PPD_DIR/qel0016.ppd
VP_PIDS=()
cleanup()
{
    local pid
    for pid in "${VP_PIDS[@]}"; do
        kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    qel_cupsd_stop
}
trap cleanup EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }

rm -rf "$WORK"
mkdir -p "$WORK/dev"
chmod 0755 "$WORK"

# The jobs, and for the PostScript ones the PDF CUPS gets and Ghostscript's
# own rendering of it as the expected page.
"$QEL_LOAD_JOBS" make "$WORK/set" "$JOBS" 25 || { fail "cannot make the jobs"; finish; }
gs_run=(gs -q -dSAFER -dBATCH -dNOPAUSE)
for ps in "$WORK"/set/jobs/*.ps; do
    [ -e "$ps" ] || continue
    base=${ps%.ps}
    name=$(basename "$base")
    "${gs_run[@]}" -sDEVICE=pdfwrite -sOutputFile="$base.pdf" "$ps" &&
        "${gs_run[@]}" -sDEVICE=cups -r203 -dcupsColorSpace=3 -dcupsBitsPerColor=1 \
            -dDEVICEWIDTHPOINTS=204.3 -dDEVICEHEIGHTPOINTS=566.93 -dFIXEDMEDIA \
            -sOutputFile="$base-gs.ras" "$base.pdf" &&
        "$QEL_RASTER_INFO" "$base-gs.ras" "$WORK/set/expect/$name" > /dev/null ||
        { fail "Ghostscript could not make $name"; finish; }
    rm -f "$ps" "$base-gs.ras"
done
chmod -R a+rX "$WORK/set"

qel_cupsd_prepare "$WORK/cups" "$QEL_FILTER"
# The scheduler's debug log tells how each filter ended and, with times to
# the microsecond, how long each job took; no limit on jobs kept or running.
cat >> "$WORK/cups/etc/cupsd.conf" <<CONF
LogTimeFormat usecs
MaxJobs 0
MaxJobsPerPrinter 0
MaxJobsPerUser 0
CONF
qel_cupsd_start || { fail "cupsd did not start"; finish; }

for q in $(seq 0 $((PRINTERS - 1))); do
    mkdir -p "$WORK/printer-$q"
    "$QEL_VPRINTER" --tty "$WORK/dev/Ttys$q" --out "$WORK/printer-$q" \
        > "$WORK/vprinter-$q.out" 2> "$WORK/vprinter-$q.err" &
    VP_PIDS+=($!)
done
for q in $(seq 0 $((PRINTERS - 1))); do
    for i in $(seq 1 100); do
        grep -q '^READY' "$WORK/vprinter-$q.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '^READY' "$WORK/vprinter-$q.out" ||
        { cat "$WORK/vprinter-$q.err" >&2; fail "virtual printer $q did not get ready"; finish; }
    lpadmin -p "q$q" -E -v "serial:$WORK/dev/Ttys$q?baud=115200+bits=8+parity=none+flow=none" \
        -P "$PPD" 2> "$WORK/lpadmin-$q.txt" ||
        { cat "$WORK/lpadmin-$q.txt" >&2; fail "lpadmin q$q failed"; finish; }
done

# submitter S: submits jobs S+1, S+1+SUBMITTERS, ... once the start file is
# there; writes "NNN QUEUE ID" lines.
submitter()
{
    local s=$1 n q file out id opts
    while [ ! -e "$WORK/go" ]; do sleep 0.01; done
    for ((n = s + 1; n <= JOBS; n += SUBMITTERS)); do
        q=$((n % PRINTERS))
        file=$(printf '%s/set/jobs/job-%03d' "$WORK" "$n")
        # A PDF job is compared with Ghostscript's rendering of the whole
        # page, so it keeps the blank stretch above its content.
        opts=()
        if [ -e "$file.pdf" ]; then file=$file.pdf opts=(-o TrimTop=False); else file=$file.ras; fi
        out=$(lp -d "q$q" -t "job $n" "${opts[@]}" "$file" 2>&1)
        id=$(printf '%s\n' "$out" | sed -n "s/^request id is q$q-\([0-9]*\).*/\1/p")
        printf '%d %d %s\n' "$n" "$q" "${id:-none}"
        [ -n "$id" ] || echo "lp for job $n: $out" >&2
    done > "$WORK/submitted-$s.txt"
}
subs=()
for s in $(seq 0 $((SUBMITTERS - 1))); do
    submitter "$s" &
    subs+=($!)
done
sleep 0.2
start=$(now)
touch "$WORK/go"
wait "${subs[@]}"
submitted=$(now)
cat "$WORK"/submitted-*.txt | sort -n > "$WORK/submitted.txt"
expect_eq "jobs accepted" "$(awk '$3 != "none"' "$WORK/submitted.txt" | wc -l)" "$JOBS"
awk '{ print $1, $2 }' "$WORK/submitted.txt" > "$WORK/assignment.txt"

# Until no job is left pending or processing (at most 10 minutes).
for i in $(seq 1 6000); do
    [ -z "$(lpstat -o 2>/dev/null)" ] && break
    sleep 0.1
done
done_at=$(now)
expect_eq "jobs left in the queues" "$(lpstat -o 2>/dev/null | wc -l)" 0

# Every job's state and times, from the scheduler.
cat > "$WORK/get-jobs.test" <<'TEST'
{
    OPERATION Get-Jobs
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR name requesting-user-name root
    ATTR keyword which-jobs all
    ATTR integer limit 100000
    ATTR keyword requested-attributes job-id,job-state,time-at-creation,time-at-processing,time-at-completed,job-printer-uri
    STATUS successful-ok
    DISPLAY job-id
    DISPLAY job-state
    DISPLAY time-at-creation
    DISPLAY time-at-processing
    DISPLAY time-at-completed
}
TEST
ipptool -c "ipp://$(qel_cupsd_uri_host)/" "$WORK/get-jobs.test" 2> /dev/null |
    tail -n +2 > "$WORK/jobs.csv"
expect_eq "jobs completed" "$(grep -c ',completed,' "$WORK/jobs.csv")" "$JOBS"
not_done=$(grep -v ',completed,' "$WORK/jobs.csv" | head -5)
[ -z "$not_done" ] || echo "jobs not completed (job-id,state,...): $not_done" >&2

# How rastertoqel ended in each job.
awk '/\(.*\/rastertoqel\)/ && / exited with no errors/ { n++ } END { print n + 0 }' \
    "$WORK/cups/log/error_log" > "$WORK/filter-ok.txt"
expect_eq "rastertoqel runs that ended without error" "$(cat "$WORK/filter-ok.txt")" "$JOBS"
failed=$(grep -E '\(.*/rastertoqel\) (stopped|crashed|terminated)' "$WORK/cups/log/error_log" |
    head -3)
[ -z "$failed" ] || echo "$failed" >&2

# The printers complete a page once its page end has arrived; the serial
# backend is done when the bytes are in the pseudo-terminal, so give them a
# moment to catch up.
expected_pages=$(awk '{ total += $3 * $4 } END { print total }' "$WORK/set/manifest.txt")
for i in $(seq 1 300); do
    have=$(cat "$WORK"/printer-*/page-*.txt 2>/dev/null | grep -c '^complete=1')
    [ "$have" -ge "$expected_pages" ] && break
    sleep 0.1
done
for pid in "${VP_PIDS[@]}"; do
    kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
done
VP_PIDS=()
for q in $(seq 0 $((PRINTERS - 1))); do
    # The printer's summary counts the bytes it could not take as commands.
    summary=$(grep ' frames, ' "$WORK/vprinter-$q.err" | tail -1)
    expect_eq "printer $q: stream errors ($summary)" "${summary##*, }" "0 errors"
done

printer_dirs=()
for q in $(seq 0 $((PRINTERS - 1))); do printer_dirs+=("$WORK/printer-$q"); done
"$QEL_LOAD_JOBS" check "$WORK/set" "$WORK/assignment.txt" "${printer_dirs[@]}" \
    > "$WORK/check.txt"
expect_eq "every page of every job, once, in order, on its printer" $? 0
cat "$WORK/check.txt"

# Figures: throughput from the first submission to the last job's end, and
# the slowest job from the scheduler's log: queued to completed.
awk '
    function t(line,   s, d, h, m, sec) {
        s = line; sub(/^[^\[]*\[/, "", s); sub(/ .*/, "", s)
        split(s, d, ":"); split(d[1], day, "/")
        return day[1] * 86400 + d[2] * 3600 + d[3] * 60 + d[4]
    }
    / Queued on "/ { id = $0; sub(/.*\[Job /, "", id); sub(/\].*/, "", id); q[id] = t($0) }
    / Job completed\./ { id = $0; sub(/.*\[Job /, "", id); sub(/\].*/, "", id); c[id] = t($0) }
    END { for (id in c) if (id in q) printf "%s %.3f\n", id, c[id] - q[id] }
' "$WORK/cups/log/error_log" | sort -k2 -n > "$WORK/job-times.txt"
slowest=$(tail -1 "$WORK/job-times.txt")
median=$(awk '{ v[NR] = $2 } END { if (NR) print v[int((NR + 1) / 2)] }' "$WORK/job-times.txt")
expect_eq "jobs with a queued and a completed time" "$(wc -l < "$WORK/job-times.txt")" "$JOBS"
total=$(elapsed "$start" "$done_at")
{
    echo "jobs: $JOBS on $PRINTERS printers from $SUBMITTERS processes"
    echo "pages expected: $expected_pages; $(cat "$WORK/check.txt" | tail -1)"
    echo "submitting took $(elapsed "$start" "$submitted") s"
    echo "all done after $total s: $(awk -v n="$JOBS" -v t="$total" 'BEGIN { printf "%.2f", n / t }') jobs/s"
    echo "job time (queued to completed): median ${median:-?} s, slowest job ${slowest% *} took ${slowest#* } s"
} | tee "$WORK/report.txt"
finish
