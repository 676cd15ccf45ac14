#!/usr/bin/env bash
# cmake --install into a staging directory (DESTDIR) and checks that every
# deliverable lands where a Linux system and CUPS look for it, and nothing
# outside the staging directory; the uninstall target empties the staging
# directory again.  As root, also a real install into a new prefix under
# /opt: a tool runs from there at once, and the uninstall target leaves the
# prefix empty and the system's CUPS and udev directories as they were.
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

# The uninstall target removes every file and the directories the install
# made.
DESTDIR=$STAGE cmake --build "$BUILD" --target uninstall > "$WORK/uninstall.log" 2>&1
expect_eq "uninstall target" $? 0
expect_eq "left in DESTDIR after uninstall" "$(cd "$STAGE" 2>/dev/null && find . -mindepth 1 | head -5)" ""

if [ "$(id -u)" -ne 0 ]; then
    echo "not root: no install into /opt"
    finish
fi
# A prefix of its own under /opt, given at install time.
OPT=/opt/qel-test-$$
system_state()
{
    ls -lA "$serverbin/filter" "$serverbin/backend" "$datadir/model" /usr/lib/udev/rules.d 2> /dev/null
}
if [ -e "$serverbin/filter/rastertoqel" ]; then
    echo "the kit is installed on this machine: no install into /opt"
    finish
fi
system_state > "$WORK/system-before.txt"
mkdir -p "$OPT"
if ! cmake --install "$BUILD" --prefix "$OPT" > "$WORK/install-opt.log" 2>&1; then
    cat "$WORK/install-opt.log" >&2
    fail "cmake --install --prefix $OPT failed"
fi
# The tool finds its libraries without ldconfig or LD_LIBRARY_PATH.
expect_eq "Qel_InquiryTool -h from $OPT" \
    "$(env -u LD_LIBRARY_PATH "$OPT/bin/Qel_InquiryTool" -h 2>&1 | grep -c '^# Usage: *Qel_InquiryTool')" 1
expect_eq "its libraries come from $OPT" \
    "$(ldd "$OPT/bin/Qel_InquiryTool" | grep -c "=> $OPT/.*/libQel")" 2
cmake --build "$BUILD" --target uninstall > "$WORK/uninstall-opt.log" 2>&1
expect_eq "uninstall target ($OPT)" $? 0
expect_eq "left in $OPT after uninstall" "$(cd "$OPT" && find . -mindepth 1 | head -5)" ""
system_state > "$WORK/system-after.txt"
expect_eq "CUPS and udev directories as before" \
    "$(diff "$WORK/system-before.txt" "$WORK/system-after.txt")" ""
rmdir "$OPT"
finish
