#!/usr/bin/env bash
# Writes the peer filters' PPDs into DIR, once: CUPS's sample label printers
# (zebra.ppd, Zebra ZPL at 203 dpi, for rastertolabel), a Brother QL-570 for
# rastertoptch and a DYMO LabelWriter 450 for the Dymo filter.
set -euo pipefail
DIR=$1
mkdir -p "$DIR"
[ -s "$DIR/zebra.ppd" ] || ppdc -d "$DIR" /usr/share/cups/drv/sample.drv >&2
[ -s "$DIR/ql570.ppd" ] || /usr/lib/cups/driver/ptouch cat \
    ptouch:0/ppd/ptouch-driver/Brother-QL-570-ptouch-ql.ppd > "$DIR/ql570.ppd"
[ -s "$DIR/lw450.ppd" ] || /usr/lib/cups/driver/dymo cat \
    dymo:0/cups/model/lw450.ppd > "$DIR/lw450.ppd"
