#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds modemterm in release mode (in build-bench) and measures it: the
# transcript view alone, then the whole program off screen on pseudo-terminals
# against cat, and on loopback TCP (RFC 2217 and raw). The whole program is
# benchterm: modemterm's own start-up and libraries with the benchmark's probe
# attached (bench/probe.cpp); the installed modemterm carries none of it. Options go to floodbench: --reps N
# (default 3), --flood-mb N (default 1000). Then the file transfers (bench/xferbench.py) with lrzsz,
# on a pseudo-terminal and through ser2net: --reps N as well, XFER_MB=N for the size (default 20).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

need_packages "${BUILD_PACKAGES[@]}" lrzsz ser2net python3
BUILD="$ROOT/build-bench"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMODEMTERM_BENCH=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target benchterm viewbench floodbench

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.qpa.*=false"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

echo "The transcript view alone (appending 4 KiB chunks in-process):"
"$BUILD/bench/viewbench" 500 2>/dev/null
"$BUILD/bench/viewbench" 500 endless 2>/dev/null
echo
"$BUILD/bench/floodbench" --modemterm "$BUILD/bench/benchterm" --work-dir "$WORK" "$@"

reps=3
for ((i = 1; i <= $#; i++)); do
    [ "${!i}" = --reps ] && { j=$((i + 1)); reps=${!j}; }
done
echo
python3 "$ROOT/bench/xferbench.py" --benchterm "$BUILD/bench/benchterm" --reps "$reps" --mb "${XFER_MB:-20}"
