#!/usr/bin/env bash
# Builds modemterm and runs every test: the suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz corpora.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

TEST_PACKAGES=(xvfb xauth xdotool imagemagick x11-utils clang libclang-rt-14-dev
               dpkg-dev file)
need_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

export QT_QPA_PLATFORM=offscreen

configure_and_build "$ROOT/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON
ctest --test-dir "$ROOT/build-test" --output-on-failure -j "$JOBS"
