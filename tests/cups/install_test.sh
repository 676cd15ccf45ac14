#!/usr/bin/env bash
# cmake --install into a staging directory (DESTDIR) and checks that every
# deliverable lands where a Linux system and CUPS look for it, and nothing
# outside the staging directory.
#
#   install_test.sh BUILD_DIR WORK_DIR
set -u
BUILD=$1 WORK=$2
. "$(dirname "$0")/test_lib.sh"
rm -rf "$WORK"
mkdir -p "$WORK"
STAGE=$WORK/stage

if ! DESTDIR=$STAGE cmake --install "$BUILD" > "$WORK/install.log" 2>&1; then
    cat "$WORK/install.log" >&2
    fail "cmake --install failed"
    finish
fi

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt")
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$BUILD/CMakeCache.txt")
serverbin=$(cups-config --serverbin)
datadir=$(cups-config --datadir)

# Every installed file went below DESTDIR (the manifest lists them without
# it), the absolute CUPS and udev paths included.
missing=$(while read -r f; do [ -e "$STAGE$f" ] || [ -L "$STAGE$f" ] || echo "$f"; done \
    < "$BUILD/install_manifest.txt" | head -5)
expect_eq "every installed file is below DESTDIR" "$missing" ""

# expect_file CASE PATH MODE
expect_file()
{
    if [ ! -f "$2" ]; then
        QEL_CHECKS=$((QEL_CHECKS + 1))
        fail "$1: $2 is missing"
        return
    fi
    expect_eq "$1 mode" "$(stat -c %a "$2")" "$3"
}

# CUPS runs only filters that are owned by root and writable by nobody else.
filter=$STAGE$serverbin/filter/rastertoqel
expect_file "filter" "$filter" 755
if [ "$(id -u)" -eq 0 ] && [ -f "$filter" ]; then
    expect_eq "filter owner" "$(stat -c %U "$filter")" root
fi

models=0
for ppd in "$STAGE$datadir"/model/qel/qel*.ppd; do
    [ -f "$ppd" ] || continue
    models=$((models + 1))
    expect_eq "$(basename "$ppd") mode" "$(stat -c %a "$ppd")" 644
    # The installed PPD against the installed filter.
    CUPS_SERVERBIN=$STAGE$serverbin cupstestppd -q "$ppd"
    expect_eq "cupstestppd on installed $(basename "$ppd")" $? 0
done
expect_eq "installed PPDs" "$models" 8

rule=$STAGE/usr/lib/udev/rules.d/60-qel-printers.rules
expect_file "udev rule" "$rule" 644
[ -f "$rule" ] && expect_eq "udev rule names the vendor" "$(grep -c 'idVendor}=="5e2d"' "$rule")" 2

# The libraries by soname, their headers, the tools.
for lib in libQelTb.so.1 libQelApi.so.1; do
    QEL_CHECKS=$((QEL_CHECKS + 1))
    if [ -e "$STAGE$prefix/$libdir/$lib" ]; then pass "$lib"; else fail "$lib not in $prefix/$libdir"; fi
done
for header in Qel_Tb.h Qel_Api.h; do
    QEL_CHECKS=$((QEL_CHECKS + 1))
    if [ -f "$STAGE$prefix/include/$header" ]; then pass "$header"; else fail "$header not in $prefix/include"; fi
done
for tool in Qel_InquiryTool Qel_ConfigurationTool Qel_UploadTool; do
    expect_file "$tool" "$STAGE$prefix/bin/$tool" 755
done
finish
