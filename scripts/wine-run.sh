#!/bin/sh
# Runs a Windows program of the cross builds under Wine; CMake uses it as the
# cross-compiling emulator, so ctest runs the test suite through it.
#
#   wine-run.sh win32|win64 program.exe [arguments...]
#
# The program runs in a private Wine prefix: $TARN_WINEPREFIX when set,
# otherwise "wineprefix" in the build folder (the parent of the program's
# bin/ folder). A missing prefix is created first. The program's output and
# exit code pass through; Wine's own messages are silenced. No X display is
# needed.
set -eu

usage() {
    echo "usage: $0 win32|win64 program.exe [arguments...]" >&2
    exit 2
}

[ $# -ge 2 ] || usage
arch=$1
shift
case $arch in
    win32 | win64) ;;
    *) usage ;;
esac
program=$1
shift
[ -f "$program" ] || { echo "$0: no such program: $program" >&2; exit 2; }

# Debian's wine starts the 32-bit loader whenever that is installed, and it
# hands a 64-bit program on to the 64-bit one. Some virtual machines' kernels
# do not run 32-bit x86 programs at all and refuse that first step, so a
# 64-bit program goes to the 64-bit loader directly.
loader=wine
if [ "$arch" = win64 ] && [ -x /usr/lib/wine/wine64 ]; then
    loader=/usr/lib/wine/wine64
    WINELOADER=$loader
    export WINELOADER
elif [ "$arch" = win32 ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "$0: this machine does not run 32-bit x86 programs (its kernel refuses Wine's 32-bit loader)" >&2
    exit 2
fi

bin_dir=$(cd "$(dirname "$program")" && pwd)
program=$bin_dir/$(basename "$program")
build_dir=$(dirname "$bin_dir")

WINEPREFIX=${TARN_WINEPREFIX:-$build_dir/wineprefix}
WINEARCH=$arch
# Wine's debug channels write to stderr, where they would mix with the
# program's output.
WINEDEBUG=-all
# Without Mono and Gecko the prefix is created without asking to download
# them.
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
# Nothing here needs a display; with none set, Wine runs headless instead of
# trying to open a window.
unset DISPLAY WAYLAND_DISPLAY

# A prefix is made for one architecture only: Wine refuses a 64-bit prefix
# for a 32-bit program and the other way round.
prefix_arch() {
    sed -n 's/^#arch=//p' "$WINEPREFIX/system.reg" 2>/dev/null | head -n 1
}

# Creates the prefix once. Parallel runs wait on the lock, and a prefix
# left half made by an interrupted run (no ready mark) is made again.
ready_mark=$WINEPREFIX/.tarn-prefix-ready
if [ ! -f "$ready_mark" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$ready_mark" ]; then
        rm -rf "$WINEPREFIX"
        started=$(date +%s)
        "$loader" wineboot -i >/dev/null 2>&1 || {
            echo "$0: creating the Wine prefix $WINEPREFIX failed" >&2
            exit 1
        }
        wineserver -w
        echo "$(($(date +%s) - started))" >"$ready_mark"
    fi
    flock -u 9
    exec 9>&-
fi
if [ "$(prefix_arch)" != "$arch" ]; then
    echo "$0: $WINEPREFIX is a $(prefix_arch) prefix, not $arch; use another TARN_WINEPREFIX" >&2
    exit 2
fi

# Pseudo-terminal pairs and ser2net servers that the tests make live in
# this folder (see tests/support/wine_unix_win32.h); whatever a test leaves
# behind is torn down when the program ends: each folder's "pid" file names
# the socat or ser2net to stop.
TARN_WINE_PTY_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarn-wine-pty.XXXXXX")
export TARN_WINE_PTY_DIR

cleanup_pty_pairs() {
    for pair in "$TARN_WINE_PTY_DIR"/*/; do
        [ -d "$pair" ] || continue
        if [ -f "$pair/name" ]; then
            rm -f "$WINEPREFIX/dosdevices/$(cat "$pair/name")"
        fi
        if [ -f "$pair/pid" ]; then
            kill "$(cat "$pair/pid")" 2>/dev/null || true
        fi
    done
    rm -rf "$TARN_WINE_PTY_DIR"
}
trap cleanup_pty_pairs EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# The server is started here, detached from the program's output: when a
# terminal that it has open hangs up (a test pulling a pseudo-terminal), it
# gets SIGHUP and dumps its object table to its stderr. The server of an
# earlier run lingers a few seconds after its last program; one that ends
# just as this program starts would leave the program to start a server of
# its own, with the program's output (ctest then logged hundreds of
# megabytes of dumps), so a lingering one is waited for first.
wineserver -w >/dev/null 2>&1 || true
wineserver >/dev/null 2>&1 || true

status=0
"$loader" "$program" "$@" || status=$?
exit "$status"
