#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds modemterm in release mode (in build-bench) and measures it: the
# transcript view alone, then the whole program off screen on pseudo-terminals
# against cat, and on loopback TCP (RFC 2217 and raw); then on a visible window
# (its own Xvfb) at real line rates against GTKTerm, idle, and flooded against
# cat. The whole program is benchterm: modemterm's own start-up and libraries
# with the benchmark's probe attached (bench/probe.cpp); the installed
# modemterm carries none of it.
#
#   bench/run.sh [--reps N] [--flood-mb N] [--seconds N] [--only PARTS]
#
# --reps (default 3) and --flood-mb (default 1000 off screen, 1024 on the
# window) go to both; --seconds (default 10) is how long each paced stream and
# each idle spell lasts; --only takes a comma-separated list of view, flood,
# rates, xfer (default all four). Then the file transfers (bench/xferbench.py)
# with lrzsz, on a pseudo-terminal and through ser2net: --reps N as well,
# XFER_MB=N for the size (default 20).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

FLOOD_ARGS=()
RATE_ARGS=()
PARTS=view,flood,rates,xfer
REPS=3
while [ $# -gt 0 ]; do
    case $1 in
        --reps) FLOOD_ARGS+=("$1" "$2"); RATE_ARGS+=("$1" "$2"); REPS=$2; shift 2 ;;
        --flood-mb) FLOOD_ARGS+=("$1" "$2"); RATE_ARGS+=("$1" "$2"); shift 2 ;;
        --seconds) RATE_ARGS+=("$1" "$2"); shift 2 ;;
        --only) PARTS=$2; shift 2 ;;
        *) echo "usage: bench/run.sh [--reps N] [--flood-mb N] [--seconds N] [--only view,flood,rates,xfer]" >&2; exit 2 ;;
    esac
done
part() { [[ ",$PARTS," == *",$1,"* ]]; }

# The peer measured beside modemterm, and the X server its window shows on.
BENCH_PACKAGES=(gtkterm xvfb xauth lrzsz ser2net python3)
need_packages "${BUILD_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
BUILD="$ROOT/build-bench"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMODEMTERM_BENCH=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target benchterm viewbench floodbench ratebench modemlineshim

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.qpa.*=false"
WORK=$(mktemp -d)
XVFB=
trap '[ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null; rm -rf "$WORK"' EXIT

if part view; then
    echo "The transcript view alone (appending 4 KiB chunks in-process):"
    "$BUILD/bench/viewbench" 500 2>/dev/null
    "$BUILD/bench/viewbench" 500 endless 2>/dev/null
    echo
fi
if part flood; then
    "$BUILD/bench/floodbench" --modemterm "$BUILD/bench/benchterm" --work-dir "$WORK" "${FLOOD_ARGS[@]}"
    echo
fi
if part rates; then
    # An X server of its own (the display number its first free one), no window manager.
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$WORK/display" 2>/dev/null &
    XVFB=$!
    for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
    "$BUILD/bench/ratebench" --modemterm "$BUILD/bench/benchterm" --shim "$BUILD/bench/libmodemlineshim.so" \
        --display ":$(cat "$WORK/display")" --xserver "$XVFB" --work-dir "$WORK" "${RATE_ARGS[@]}"
fi
if part xfer; then
    echo
    python3 "$ROOT/bench/xferbench.py" --benchterm "$BUILD/bench/benchterm" --reps "$REPS" --mb "${XFER_MB:-20}"
fi
