#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds modemterm and runs every test: the suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz corpora.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The end-to-end tests' X server and tools, what the package test runs, and
# ser2net for the network port tests (run by the tests in the foreground,
# never as the system service), lrzsz for the simulated modem's file service.
TEST_PACKAGES=(xvfb xauth xdotool imagemagick x11-utils
               desktop-file-utils dpkg-dev file lintian ser2net lrzsz)
need_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

export QT_QPA_PLATFORM=offscreen

# Every test must pass the first time.
run_suite() {
    ctest --test-dir "$1" --output-on-failure -j "$JOBS"
}

configure_and_build "$ROOT/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DMODEMTERM_WERROR=ON
run_suite "$ROOT/build-test"

# The same suite again under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer; the fuzz corpora replay as tests in both builds.
configure_and_build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DMODEMTERM_WERROR=ON -DMODEMTERM_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite "$ROOT/build-asan"
