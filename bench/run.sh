#!/usr/bin/env bash
# Builds modemterm in release mode (in build-bench) and measures it: the
# transcript view alone, then the whole program off screen on pseudo-terminals
# against cat. Options go to floodbench: --reps N (default 3), --flood-mb N
# (default 1000).
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

need_packages "${BUILD_PACKAGES[@]}"
BUILD="$ROOT/build-bench"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DMODEMTERM_BENCH=ON >/dev/null
cmake --build "$BUILD" -j "$JOBS" --target modemterm viewbench floodbench

export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="qt.qpa.*=false"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

echo "The transcript view alone (appending 4 KiB chunks in-process):"
"$BUILD/bench/viewbench" 500 2>/dev/null
"$BUILD/bench/viewbench" 500 endless 2>/dev/null
echo
"$BUILD/bench/floodbench" --modemterm "$BUILD/app/modemterm" --work-dir "$WORK" "$@"
