#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fuzzes the targets with libFuzzer (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) for SECONDS each (default 60), one after another,
# then adds the inputs that reached new code to the stored corpora.
# Findings land in build-fuzz/findings/<target>/ and fail the script.
#
# Usage: fuzz/run.sh [SECONDS] [TARGET...]   (targets: the folders of
#        fuzz/corpus, such as numberreader or hayesmodem; default all)
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/common.sh"

need_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-14-dev
BUILD=${MODEMTERM_FUZZ_BUILD:-$ROOT/build-fuzz}
SECONDS_EACH=${1:-60}
NAMES=("${@:2}")
[ ${#NAMES[@]} -gt 0 ] || NAMES=($(ls "$ROOT/fuzz/corpus"))

TARGETS="${NAMES[*]/#/fuzz_}" configure_and_build "$BUILD" \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DMODEMTERM_SANITIZE=ON -DMODEMTERM_LIBFUZZER=ON \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link"

failed=
for target in "${NAMES[@]}"; do
    corpus=$ROOT/fuzz/corpus/$target
    work=$BUILD/work/$target
    rm -rf "$work"
    mkdir -p "$work/found" "$BUILD/findings/$target"
    echo "== $target: ${SECONDS_EACH}s"
    # New inputs go to the first directory; the stored corpus is only read.
    "$BUILD/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=10 \
        -artifact_prefix="$BUILD/findings/$target/" "$work/found" "$corpus" 2>"$work/log" \
        || failed+=" $target"
    # Only what covers code the stored corpus does not is added to it.
    "$BUILD/fuzz/fuzz_$target" -merge=1 -use_counters=0 -max_len=4096 "$corpus" "$work/found" 2>"$work/merge.log"
done

[ -z "$failed" ] || { echo "Findings in:$failed (see $BUILD/findings and $BUILD/work/<target>/log)" >&2; exit 1; }
