#!/usr/bin/env bash
# Smoke run of the filter benchmark on tiny inputs: every filter, the floor
# and every peer must run on every input it is given and be measured.
#   filter_smoke.sh BENCH_SOURCE_DIR BENCH_BINARY_DIR WORK_DIR [RASTERTOQEL PPD]
set -euo pipefail
SRC=$1 BIN=$2 WORK=$3
QEL=${4:-} QEL_PPD=${5:-}
rm -rf "$WORK/results"
"$SRC/prepare_ppds.sh" "$WORK/ppd"
"$BIN/qel_bench_rastergen" "$WORK/inputs" --smoke
FILTERS=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)/filter
ARGS=(--inputs "$WORK/inputs" --out "$WORK/results" --smoke --strict
      --floor "$BIN/qel_bench_floor")
[ -z "$QEL" ] || ARGS+=(--filter rastertoqel --program "$QEL" --ppd "$QEL_PPD")
ARGS+=(--filter rastertolabel --program "$FILTERS/rastertolabel" --ppd "$WORK/ppd/zebra.ppd" --peer
       --filter rastertoptch --program "$FILTERS/rastertoptch" --ppd "$WORK/ppd/ql570.ppd"
           --args options --peer
       --filter raster2dymolw --program "$FILTERS/raster2dymolw" --ppd "$WORK/ppd/lw450.ppd"
           --form rgb --peer)
"$BIN/qel_filter_bench" "${ARGS[@]}"

CSV=$WORK/results/filter_bench.csv
# One row per filter and input: floor and rastertoqel on all five inputs,
# the three peers on the four shared ones.
expected=$((5 + 4 * 3))
[ -z "$QEL" ] || expected=$((expected + 5))
rows=$(($(wc -l < "$CSV") - 1))
if [ "$rows" -ne "$expected" ]; then
    echo "expected $expected rows in $CSV, found $rows" >&2
    exit 1
fi
if [ -n "$QEL" ]; then
    # rastertoqel writes printer data for every input.
    if grep ',rastertoqel,' "$CSV" | grep -q ',0,[^,]*,[^,]*,[^,]*,[^,]*,[^,]*$'; then
        echo "rastertoqel wrote no printer data:" >&2
        grep ',rastertoqel,' "$CSV" >&2
        exit 1
    fi
fi
echo "filter benchmark smoke run: $rows rows measured"
