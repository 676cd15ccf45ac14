#!/usr/bin/env bash
# The Debian packages on this machine: builds them from BUILD_DIR's CPack
# configuration, runs lintian (no error), installs them with dpkg, checks that
# CUPS lists the eight models (and runs the qel backend once it exists), runs
# a tool and renders its man page, builds a program against the development
# package, then purges every package and checks that nothing of the kit is
# left and that cupsd and the system directories are as before.  Needs root.
#
#   deb_test.sh BUILD_DIR WORK_DIR
set -u
BUILD=$1 WORK=$2
. "$(dirname "$0")/../cups/test_lib.sh"
PACKAGES=(libqeltb1 libqelapi1 libqel-dev printer-driver-qel qel-tools qel-printer-app
          qel-printer-emulator)

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing packages needs root"
    exit 77
fi
for p in "${PACKAGES[@]}"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
        echo "SKIP: $p is installed on this machine; the test would remove it"
        exit 77
    fi
done
SERVERBIN=$(cups-config --serverbin)
DATADIR=$(cups-config --datadir)
if [ -e "$SERVERBIN/filter/rastertoqel" ] || [ -e "$DATADIR/model/qel" ]; then
    echo "SKIP: the kit is installed on this machine by hand (cmake --install)"
    exit 77
fi
rm -rf "$WORK"
mkdir -p "$WORK"

# The state the purge must give back: the directories the packages write
# into, the loader's cache, whether the scheduler runs.
snapshot()
{
    local d
    for d in /usr/bin /usr/include /usr/lib /usr/lib/*-linux-gnu /usr/lib/pkgconfig \
             /usr/lib/*-linux-gnu/pkgconfig /usr/lib/cmake /usr/lib/*-linux-gnu/cmake \
             "$SERVERBIN/filter" "$SERVERBIN/backend" "$DATADIR/model" /usr/lib/udev/rules.d \
             /usr/lib/systemd/system /usr/share/doc /usr/share/man/man1 /usr/share/man/man8; do
        [ -d "$d" ] && (cd "$d" && ls -A | sed "s|^|$d/|")
    done
    ldconfig -p | grep -i qel
}
scheduler_runs() { CUPS_SERVER=/run/cups/cups.sock lpstat -r 2>&1 | grep -q '^scheduler is running'; }
snapshot > "$WORK/before.txt"
scheduler_runs && cups_before=running || cups_before=stopped

# Build.
start=$(date +%s)
if ! cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/packages" > "$WORK/cpack.log" 2>&1; then
    tail -30 "$WORK/cpack.log" >&2
    fail "cpack failed"
    finish
fi
echo "packages built in $(($(date +%s) - start)) s"
DEBS=("$WORK"/packages/*.deb)
# Every role has its package (the printer application once it is built).
for p in "${PACKAGES[@]}"; do
    [ "$p" = qel-printer-app ] && continue
    QEL_CHECKS=$((QEL_CHECKS + 1))
    [ -f "$WORK/packages/${p}_$(dpkg-deb -f "${DEBS[0]}" Version)_$(dpkg --print-architecture).deb" ] ||
        fail "package $p was not built"
done
for deb in "${DEBS[@]}"; do
    echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, Depends: $(dpkg-deb -f "$deb" Depends)"
done

# lintian: no error; the warnings are listed.
lintian --tag-display-limit 0 "${DEBS[@]}" > "$WORK/lintian.txt" 2>&1
grep '^[EW]:' "$WORK/lintian.txt"
expect_eq "lintian errors" "$(grep -c '^E:' "$WORK/lintian.txt")" 0

# Install.
if ! dpkg -i "${DEBS[@]}" > "$WORK/dpkg-install.log" 2>&1; then
    cat "$WORK/dpkg-install.log" >&2
    fail "dpkg -i failed"
fi

# The system's scheduler lists the models (and runs the backend).
started_cupsd=
if [ "$cups_before" = stopped ]; then
    /usr/sbin/cupsd -f > "$WORK/cupsd.log" 2>&1 &
    started_cupsd=$!
    for _ in $(seq 1 100); do scheduler_runs && break; sleep 0.1; done
fi
export CUPS_SERVER=/run/cups/cups.sock
expect_eq "models CUPS lists" "$(lpinfo -m 2>&1 | grep -c '^qel/qel[0-9]*\.ppd ')" 8
if [ -e "$SERVERBIN/backend/qel" ]; then
    lpinfo -v > "$WORK/lpinfo-v.txt" 2>&1
    # The backend always offers its serial-line entry (serial lines are not
    # probed); lpinfo -v shows its class and URI.
    expect_eq "lpinfo -v runs the qel backend" "$(grep -cx 'serial qel' "$WORK/lpinfo-v.txt")" 1
    sed 's/^/  lpinfo -v: /' "$WORK/lpinfo-v.txt"
fi

# A tool finds its libraries, its man page renders cleanly.
expect_eq "Qel_InquiryTool -h prints its usage" \
    "$(Qel_InquiryTool -h 2>&1 | grep -c '^# Usage: *Qel_InquiryTool')" 1
man_err=$(man --warnings Qel_InquiryTool 2>&1 > "$WORK/man.txt")
expect_eq "man page warnings" "$man_err" ""
expect_eq "man page rendered" "$(grep -c 'Qel_InquiryTool - read status' "$WORK/man.txt")" 1

# A program built against the development package, with pkg-config and with
# the CMake package.
mkdir -p "$WORK/app"
cat > "$WORK/app/app.c" <<'APP'
#include <Qel_Api.h>
#include <Qel_Tb.h>
#include <stdio.h>
int main(void)
{
    /* The check value of CRC-32/ISO-HDLC, and a call into each library. */
    printf("%08x %d\n", (unsigned)qel_tb_calc_crc32((const unsigned char*)"123456789", 9),
           qel_api_get_library_info() != NULL);
    return 0;
}
APP
cat > "$WORK/app/CMakeLists.txt" <<'APP'
cmake_minimum_required(VERSION 3.25)
project(app C)
find_package(QelDriverKit 1 REQUIRED)
add_executable(app app.c)
target_link_libraries(app PRIVATE QelDriverKit::QelApi QelDriverKit::QelTb)
APP
# shellcheck disable=SC2046
cc -o "$WORK/app/app-pc" "$WORK/app/app.c" $(pkg-config --cflags --libs qelapi) 2> "$WORK/app/cc.log"
expect_eq "program built with pkg-config qelapi" "$("$WORK/app/app-pc" 2>&1)" "cbf43926 1"
cmake -S "$WORK/app" -B "$WORK/app/build" > "$WORK/app/cmake.log" 2>&1 &&
    cmake --build "$WORK/app/build" >> "$WORK/app/cmake.log" 2>&1
expect_eq "program built with find_package(QelDriverKit)" "$("$WORK/app/build/app" 2>&1)" "cbf43926 1"

# Purge: nothing of the kit is left, the machine is as before.
if [ -n "$started_cupsd" ]; then
    kill "$started_cupsd"
    wait "$started_cupsd" 2> /dev/null
fi
installed=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed && installed+=("$p")
done
if ! dpkg --purge "${installed[@]}" > "$WORK/dpkg-purge.log" 2>&1; then
    cat "$WORK/dpkg-purge.log" >&2
    fail "dpkg --purge failed"
fi
left=$(for deb in "${DEBS[@]}"; do dpkg-deb -c "$deb"; done | awk '{print $6}' | sed 's|^\.||' |
    while read -r f; do
        case "$f" in */) [ -d "$f" ] && [ -n "$(ls -A "$f" | grep -i qel)" ] && echo "$f" ;;
                     *) { [ -e "$f" ] || [ -L "$f" ]; } && echo "$f" ;; esac
    done | head -5)
expect_eq "files of the packages left after the purge" "$left" ""
expect_eq "dpkg knows none of the packages" \
    "$(dpkg-query -W "${PACKAGES[@]}" 2>/dev/null | wc -l)" 0
snapshot > "$WORK/after.txt"
expect_eq "system directories as before" "$(diff "$WORK/before.txt" "$WORK/after.txt")" ""
scheduler_runs && cups_after=running || cups_after=stopped
expect_eq "scheduler as before" "$cups_after" "$cups_before"
finish
