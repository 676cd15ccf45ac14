#!/usr/bin/env bash
# cupstestppd on one generated PPD.  With QEL_FILTER set the filter is put
# into a private ServerBin so that the PPD's cupsFilter line is checked as
# well; without it that one check is left out.
#
#   ppd_check_test.sh PPD WORK_DIR
set -u
ppd=$1 work=$2
rm -rf "$work"
mkdir -p "$work/serverbin/filter"
if [ -n "${QEL_FILTER:-}" ]; then
    install -m 0755 "$QEL_FILTER" "$work/serverbin/filter/rastertoqel"
    CUPS_SERVERBIN=$work/serverbin cupstestppd "$ppd"
else
    echo "rastertoqel is not built: the filter line is not checked"
    cupstestppd -W filters "$ppd"
fi
