#!/usr/bin/env bash
# Runs the CUPS filter chain (pdftopdf, Ghostscript) with each generated PPD
# up to the raster stream that rastertoqel would read, and checks that the
# PPD options arrive in the page header fields the filter takes its settings
# from.  No scheduler is needed.
#
#   ppd_options_test.sh PPD_DIR RASTER_INFO FIXTURE_DIR WORK_DIR
set -u
PPD_DIR=$1 RASTER_INFO=$2 FIXTURES=$3 WORK=$4
. "$(dirname "$0")/test_lib.sh"
mkdir -p "$WORK"
PPD=$PPD_DIR/qel0016.ppd

# raster CASE INPUT [cupsfilter options...]: prints raster_info's page lines.
raster()
{
    local name=$1 input=$2
    shift 2
    if ! cupsfilter -p "$PPD" -m application/vnd.cups-raster "$@" "$input" \
        > "$WORK/$name.ras" 2> "$WORK/$name.log"; then
        fail "$name: cupsfilter failed, see $WORK/$name.log"
        return 1
    fi
    "$RASTER_INFO" "$WORK/$name.ras"
}

receipt=$FIXTURES/receipt.pdf

# Every model: 576 dots of 1-bit black at 203 dpi on an 80 mm x 200 mm roll
# page, printer default speed and density, trimming at both ends, one cut
# at the end of the job.
defaults="width=576 height=1598 bpl=72 bits=1 space=3 res=203 speed=255 density=255 path=0
          trim=1 trimtop=1 cutoff=0 feed=0 cut=1 cutjob=1 copies=1"
models=0
for PPD in "$PPD_DIR"/qel*.ppd; do
    models=$((models + 1))
    expect_fields "defaults $(basename "$PPD")" \
        "$(raster "defaults-$(basename "$PPD" .ppd)" "$receipt")" "$defaults"
done
expect_eq "models" "$models" 8
PPD=$PPD_DIR/qel0016.ppd

# One option at a time: the header field it maps to, the rest at defaults.
while read -r option expected; do
    [ -n "$option" ] || continue
    expect_fields "$option" "$(raster "$option" "$receipt" -o "$option")" "$expected"
done <<'CASES'
PrintSpeed=1 speed=1 density=255
PrintSpeed=10 speed=10 density=255
PrintDensity=0 density=0 speed=255
PrintDensity=45 density=45
PrintDensity=55 density=55
PrintDensity=100 density=100
PaperPath=Path0 path=3
PaperPath=Path1 path=1
PaperPath=Path2 path=2
TrimBlank=False trim=0 trimtop=1 cut=1
TrimTop=False trimtop=0 trim=1
BottomCutOff=40 cutoff=40 height=1598
BottomCutOff=160 cutoff=160
FormFeed=True feed=1 cut=1
PaperCut=False cut=0 cutjob=0 feed=0
PaperCut=True cut=1 cutjob=0
PaperCut=Job cut=1 cutjob=1
PageSize=Roll58x100 width=384 bpl=48 height=799
PageSize=Roll60x150 width=416 bpl=52 height=1199
PageSize=Roll80x297 width=576 bpl=72 height=2374
PageSize=Roll82_5x100 width=576 bpl=72 height=799
PageSize=Custom.204.3x2000 width=576 bpl=72 height=5639
PageSize=Custom.72x120mm bpl=72 height=959
CASES

# All options together: none of them overrides another.
expect_fields "all options" \
    "$(raster all "$receipt" -o PrintSpeed=4 -o PrintDensity=70 -o PaperPath=Path2 \
        -o TrimBlank=False -o TrimTop=False -o BottomCutOff=16 -o FormFeed=True \
        -o PaperCut=False)" \
    "speed=4 density=70 path=2 trim=0 trimtop=0 cutoff=16 feed=1 cut=0 cutjob=0 width=576 space=3
     bits=1"

# Copies are left to the filter: one page that asks for three copies.
out=$(raster copies "$receipt" -n 3)
expect_eq "copies: pages" "$(printf '%s\n' "$out" | grep -c '^page=')" 1
expect_fields "copies: header" "$out" "copies=3"

# Trimming borrows the Duplex header field; it must not make pdftopdf pad an
# odd page count with a blank page as two-sided printing would.
out=$(raster three "$FIXTURES/three_pages.pdf")
expect_eq "three pages stay three" "$(printf '%s\n' "$out" | grep -c '^page=')" 3
expect_eq "no blank page" "$(printf '%s\n' "$out" | grep -c 'dark=0$')" 0
expect_eq "trimming on every page" "$(printf '%s\n' "$out" | grep -c ' trim=1 ')" 3

finish
