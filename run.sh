#!/usr/bin/env bash
# The two commands of the kit:
#   ./run.sh demo [FILE]   install what is missing, build the kit and the printer
#                          emulator (build-demo/), print a sample job end to end
#                          through CUPS and through the printer application
#   ./run.sh package       install what is missing, build the Debian packages of
#                          the kit (build-package/, tests off) into
#                          build-package/packages/ and check them with lintian
#   ./run.sh test          install what is missing, build, run every test; then
#                          all again under ASan + UBSan and a short fuzz run
#                          (--fast: the first run only; --sanitize-only: the
#                           ASan + UBSan and fuzz runs only)
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
BUILD_DIR=${QEL_BUILD_DIR:-$ROOT/build}
JOBS=$(nproc 2>/dev/null || echo 2)

# Debian packages the kit needs to build, test and demonstrate itself.
PACKAGES=(
    build-essential cmake g++ pkg-config clang-format
    libgtest-dev
    libusb-1.0-0-dev
    libcups2-dev libcupsimage2-dev cups cups-client cups-filters cups-ppdc cups-ipp-utils
    ghostscript poppler-utils netpbm libpng-dev libjpeg-dev
    umockdev libumockdev-dev
    printer-driver-ptouch printer-driver-dymo
    clang libclang-rt-14-dev
    dpkg-dev fakeroot lintian scdoc
    libpappl-dev chromium dbus
    lprint
)

log() { printf '[run.sh] %s\n' "$*"; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# apt-get, retried while another process holds the package lock.
apt_retry() {
    local try
    for try in $(seq 1 30); do
        if as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=60 "$@"; then
            return 0
        fi
        log "apt-get $1 failed (attempt $try), waiting for the package lock ..."
        sleep 10
    done
    return 1
}

install_missing() {
    local missing=() p
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        log "all required Debian packages are installed"
        return 0
    fi
    log "installing missing Debian packages: ${missing[*]}"
    apt_retry update
    apt_retry install -y --no-install-recommends "${missing[@]}"
}

build() {
    local dir=$1
    shift
    cmake -S "$ROOT" -B "$dir" "$@"
    cmake --build "$dir" -j "$JOBS"
}

run_tests() {
    local dir=$1
    shift
    # A new build directory learns the tests' run times from tests/ctest-costs.txt
    # (measured on a 2-core machine), so that CTest starts the minute-long cases
    # first instead of finding them last; later runs keep CTest's own record.
    local costs=$dir/Testing/Temporary/CTestCostData.txt
    if [ ! -f "$costs" ]; then
        mkdir -p "$(dirname "$costs")"
        cp "$ROOT/tests/ctest-costs.txt" "$costs"
    fi
    # Most tests wait on the printer protocol's pauses rather than the CPU,
    # so run more of them at once than there are cores.
    ctest --test-dir "$dir" --output-on-failure -j "$((JOBS * 3))" --timeout 600 "$@"
}

# The second build: every program and library with AddressSanitizer (and
# its leak checker) and UndefinedBehaviorSanitizer; -O1 -g1 keeps it quick.
ASAN_DIR=${QEL_ASAN_BUILD_DIR:-$ROOT/build-asan}
# The third: the fuzz targets as libFuzzer programs (clang).
FUZZ_DIR=${QEL_FUZZ_BUILD:-$ROOT/build-fuzz-clang}

build_asan() {
    build "$ASAN_DIR" -DQEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
        "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
}

build_fuzz() {
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$FUZZ_DIR" -DQEL_FUZZ=ON \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$FUZZ_DIR" -j "$JOBS" --target qel_fuzz_all
}

# Under the sanitizers everything runs several times slower; a test that
# fails there gets one more run (its failure stays in the log), so that a
# timing-dependent end-to-end case does not hide the sanitizers' verdict.
run_asan_tests() {
    LSAN_OPTIONS=suppressions=$ROOT/tests/lsan-third-party.supp:print_suppressions=0 \
    ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_tests "$ASAN_DIR" --repeat until-pass:2
    log "all tests passed under AddressSanitizer and UndefinedBehaviorSanitizer"
}

# A short libFuzzer run of every target (10 s each); the long runs are
# bench/fuzz/run.
run_fuzz_smoke() {
    ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir "$FUZZ_DIR" --output-on-failure -j "$JOBS" -R '^fuzz\.smoke\.'
    log "fuzz smoke run found nothing"
}

cmd_test() {
    local mode=${QEL_TEST_MODE:-all}
    case "${1:-}" in
        --fast) mode=fast ;;
        --sanitize-only) mode=sanitize ;;
        --sanitize | "") ;;
        *) echo "usage: $0 test [--fast | --sanitize-only]" >&2; exit 2 ;;
    esac
    install_missing
    case "$mode" in
    fast)
        build "$BUILD_DIR"
        run_tests "$BUILD_DIR"
        log "all tests passed in $BUILD_DIR (no sanitizer or fuzz run: --fast)"
        ;;
    sanitize)
        build_asan
        run_asan_tests
        build_fuzz
        run_fuzz_smoke
        ;;
    *)
        build "$BUILD_DIR"
        # The tests mostly wait on the printer protocol's pauses, so the two
        # other builds run meanwhile, at the lowest priority so that they take
        # no time from the tests' time-outs.
        local side_log=$ROOT/build-side.log side_pid side_status=0
        # (In a process group of their own, so that a failed first suite can
        # stop them.)
        set -m
        ( renice -n 19 -p "$BASHPID" > /dev/null; build_asan && build_fuzz ) > "$side_log" 2>&1 &
        side_pid=$!
        set +m
        if ! run_tests "$BUILD_DIR"; then
            kill -- "-$side_pid" 2>/dev/null
            wait "$side_pid" 2>/dev/null || true
            exit 1
        fi
        log "all tests passed in $BUILD_DIR"
        log "waiting for the sanitizer and fuzz builds (log: $side_log) ..."
        wait "$side_pid" || side_status=$?
        if [ "$side_status" -ne 0 ]; then
            tail -40 "$side_log" >&2
            log "the sanitizer or fuzz build failed (status $side_status), see $side_log"
            exit 1
        fi
        run_asan_tests
        run_fuzz_smoke
        ;;
    esac
}

# The demo needs only the kit and the printer emulator: its own build without
# the tests and benchmarks.
DEMO_DIR=${QEL_DEMO_BUILD_DIR:-$ROOT/build-demo}

cmd_demo() {
    install_missing
    build "$DEMO_DIR" -DQEL_BUILD_TESTS=OFF
    exec "$ROOT/tests/demo/demo.sh" "$DEMO_DIR" "$@"
}

# The Debian packages: a build of the kit alone, for the prefix /usr with
# Debian's hardening flags, then CPack (packaging/CMakeLists.txt).
PACKAGE_DIR=${QEL_PACKAGE_BUILD_DIR:-$ROOT/build-package}

cmd_package() {
    install_missing
    rm -rf "$PACKAGE_DIR/packages"
    # (CMake reads no CPPFLAGS: the preprocessor flags go with the compiler's.)
    local cppflags
    cppflags=$(dpkg-buildflags --get CPPFLAGS)
    CFLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
        CXXFLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
        LDFLAGS=$(dpkg-buildflags --get LDFLAGS) \
        build "$PACKAGE_DIR" -DQEL_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_INSTALL_PREFIX=/usr
    (cd "$PACKAGE_DIR" && cpack --config CPackConfig.cmake)
    # Fails on an error; warnings are shown.
    lintian --tag-display-limit 0 "$PACKAGE_DIR"/packages/*.deb
    log "packages in $PACKAGE_DIR/packages:"
    ls -l "$PACKAGE_DIR"/packages/*.deb
}

case "${1:-}" in
    test) shift; cmd_test "$@" ;;
    package) shift; cmd_package "$@" ;;
    demo) shift; cmd_demo "$@" ;;
    *)
        echo "usage: $0 test | demo [FILE] | package" >&2
        exit 2
        ;;
esac
