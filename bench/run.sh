#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds modemterm in release mode (in build-bench) and measures it: the
# transcript view alone, then the whole program off screen on pseudo-terminals
# against cat, and on loopback TCP (RFC 2217 and raw). The whole program is
# benchterm: modemterm's own start-up and libraries with the benchmark's probe
# attached (bench/probe.cpp); the installed modemterm carries none of it. Options go to floodbench: --reps N
# (default 3), --flood-mb N (default 1000).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

need_packages "${BUILD_PACKAGES[@]}"
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
