#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds modemterm and runs every test: the suite, the suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz corpora.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The end-to-end tests' X server and tools, what the package test runs, and
# ser2net for the network port tests (run by the tests in the foreground,
# never as the system service), lrzsz for the simulated modem's file service.
TEST_PACKAGES=(xvfb xauth xdotool imagemagick x11-utils xclip dbus-daemon
               desktop-file-utils dpkg-dev file lintian ser2net lrzsz)
need_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

export QT_QPA_PLATFORM=offscreen

# Every test must pass the first time, except those named here: they relay a
# session through ser2net on a pseudo-terminal, and some kernels (seen on
# Linux 6.18) now and then lose or hold back bytes in such a relay, which is no
# fault of ours. Only they run again after a failure, up to three times in all,
# in a pass of their own; every failed attempt stays in the output.
RETRIED='^(e2e_ser2net_session)$'
run_suite() {
    local status=0
    ctest --test-dir "$1" --output-on-failure -j "$JOBS" -E "$RETRIED" || status=1
    ctest --test-dir "$1" --output-on-failure -R "$RETRIED" --repeat until-pass:3 || status=1
    return "$status"
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
