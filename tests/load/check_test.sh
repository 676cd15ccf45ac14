#!/usr/bin/env bash
# The load test's page check must catch what goes wrong under load: pages
# printed for the wrong job, twice, out of order, on the wrong printer,
# damaged or never ended.  Builds what two perfect printers would have
# received, checks it passes, then breaks it one way at a time.
#
#   check_test.sh LOAD_JOBS WORK_DIR
set -u
LOAD_JOBS=$1 WORK=$2
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../cups/test_lib.sh"

rm -rf "$WORK"
mkdir -p "$WORK"
# 12 raster jobs (job 7 has two copies), no PostScript jobs.
"$LOAD_JOBS" make "$WORK/set" 12 0 || { fail "make"; finish; }

# perfect: printer Q gets jobs N with N mod 2 == Q, in job order, each page
# as many times as the job has copies, each with its page end.
perfect()
{
    local dir=$1 q n kind pages copies p c i
    rm -rf "$dir"
    mkdir -p "$dir/p0" "$dir/p1"
    : > "$dir/assignment.txt"
    declare -A next=([0]=1 [1]=1)
    while read -r n kind pages copies; do
        q=$((n % 2))
        echo "$n $q" >> "$dir/assignment.txt"
        for ((p = 1; p <= pages; p++)); do
            for ((c = 1; c <= copies; c++)); do
                i=$(printf '%03d' "${next[$q]}")
                cp "$WORK/set/expect/$(printf 'job-%03d' "$n")-$p.pbm" "$dir/p$q/page-$i.pbm"
                printf 'complete=1\nlines=1\n' > "$dir/p$q/page-$i.txt"
                next[$q]=$((next[$q] + 1))
            done
        done
    done < "$WORK/set/manifest.txt"
}

# check NAME EXPECTED_STATUS DIR
check()
{
    "$LOAD_JOBS" check "$WORK/set" "$3/assignment.txt" "$3/p0" "$3/p1" > "$3/check.txt" 2>&1
    expect_eq "$1" $? "$2"
}

perfect "$WORK/good"
check "two perfect printers pass" 0 "$WORK/good"
expect_eq "every page counted" "$(sed -n 's/.*pages_checked=\([0-9]*\).*/\1/p' "$WORK/good/check.txt")" \
    "$(awk '{ t += $3 * $4 } END { print t }' "$WORK/set/manifest.txt")"

# Trailing blank lines do not matter (the driver trims them).
perfect "$WORK/t"
f=$WORK/t/p0/page-001.pbm
h=$(sed -n '2p' "$f" | cut -d' ' -f2)
{ printf 'P4\n576 %d\n' $((h + 30)); tail -c +$(($(head -2 "$f" | wc -c) + 1)) "$f"
  head -c $((72 * 30)) /dev/zero; } > "$f.new" && mv "$f.new" "$f"
check "extra blank lines at a page end pass" 0 "$WORK/t"

# Two pages of one job swapped (job 2 has pages 1-3, printer 0 pages 1-3).
perfect "$WORK/s"
mv "$WORK/s/p0/page-001.pbm" "$WORK/s/x.pbm"
mv "$WORK/s/p0/page-002.pbm" "$WORK/s/p0/page-001.pbm"
mv "$WORK/s/x.pbm" "$WORK/s/p0/page-002.pbm"
check "pages out of order fail" 1 "$WORK/s"

# A page missing in the middle of a printer's run.
perfect "$WORK/m"
rm "$WORK/m/p1/page-002.pbm" "$WORK/m/p1/page-002.txt"
check "a lost page fails" 1 "$WORK/m"

# A job printed a second time at the end.
perfect "$WORK/d"
last=$(ls "$WORK/d/p1" | grep -c '\.pbm$')
cp "$WORK/set/expect/job-001-1.pbm" "$WORK/d/p1/page-$(printf '%03d' $((last + 1))).pbm"
cp "$WORK/d/p1/page-001.txt" "$WORK/d/p1/page-$(printf '%03d' $((last + 1))).txt"
check "a job printed twice fails" 1 "$WORK/d"

# Jobs on the wrong printer: the assignment says the other one.
perfect "$WORK/w"
awk '{ print $1, ($1 == 3 ? 0 : $2) }' "$WORK/w/assignment.txt" > "$WORK/w/a" &&
    mv "$WORK/w/a" "$WORK/w/assignment.txt"
check "a job on the wrong printer fails" 1 "$WORK/w"

# One dot changed in one page.
perfect "$WORK/x"
f=$WORK/x/p0/page-003.pbm
size=$(stat -c %s "$f")
printf '\x01' | dd of="$f" bs=1 seek=$((size - 200)) conv=notrunc status=none
check "a damaged page fails" 1 "$WORK/x"

# A page that never got its page end.
perfect "$WORK/e"
printf 'complete=0\n' > "$WORK/e/p0/page-002.txt"
check "a page without its page end fails" 1 "$WORK/e"

# The last job's last page never arrived.
perfect "$WORK/l"
last=$(ls "$WORK/l/p0" | grep -c '\.pbm$')
rm "$WORK/l/p0/page-$(printf '%03d' "$last").pbm"
check "a job cut short at the end fails" 1 "$WORK/l"

finish
