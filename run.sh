#!/usr/bin/env bash
# The two commands of the kit:
#   ./run.sh demo [FILE]   install what is missing, build, print a sample job end to end
#   ./run.sh test          install what is missing, build, run every test
#                          (--sanitize: then all again under ASan + UBSan;
#                           --sanitize-only: only the ASan + UBSan run)
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
    ghostscript poppler-utils netpbm libpng-dev
    umockdev libumockdev-dev
    printer-driver-ptouch printer-driver-dymo
    clang libclang-rt-14-dev
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
    # Most tests wait on the printer protocol's pauses rather than the CPU,
    # so run more of them at once than there are cores.
    ctest --test-dir "$dir" --output-on-failure -j "$((JOBS * 3))" --timeout 600
}

cmd_test() {
    local sanitize=${QEL_TEST_SANITIZE:-0}
    case "${1:-}" in
        --sanitize) sanitize=1 ;;
        --sanitize-only) sanitize=2 ;;
        "") ;;
        *) echo "usage: $0 test [--sanitize | --sanitize-only]" >&2; exit 2 ;;
    esac
    install_missing
    if [ "$sanitize" -ne 2 ]; then
        build "$BUILD_DIR"
        run_tests "$BUILD_DIR"
        log "all tests passed in $BUILD_DIR"
    fi
    if [ "$sanitize" -ne 0 ]; then
        # The same suite once more, with AddressSanitizer (and its leak
        # checker) and UndefinedBehaviorSanitizer in every program and
        # library. -O1 -g1 keeps this second build quick.
        local asan_dir=${QEL_ASAN_BUILD_DIR:-$ROOT/build-asan}
        build "$asan_dir" -DQEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
            "-DCMAKE_C_FLAGS_DEBUG=-O1 -g1" "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
        ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1:abort_on_error=0 \
            UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
            run_tests "$asan_dir"
        log "all tests passed under AddressSanitizer and UndefinedBehaviorSanitizer"
    fi
}

cmd_demo() {
    install_missing
    build "$BUILD_DIR"
    if [ -x "$ROOT/tests/demo/demo.sh" ]; then
        exec "$ROOT/tests/demo/demo.sh" "$BUILD_DIR" "$@"
    fi
    log "built the kit in $BUILD_DIR; the end-to-end sample job is not available yet"
}

case "${1:-}" in
    test) shift; cmd_test "$@" ;;
    demo) shift; cmd_demo "$@" ;;
    *)
        echo "usage: $0 test | demo [FILE]" >&2
        exit 2
        ;;
esac
