#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds modemterm and starts it on the built-in simulated modem.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

need_packages "${BUILD_PACKAGES[@]}"
TARGETS=modemterm configure_and_build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting off screen (QT_QPA_PLATFORM=offscreen)." >&2
    export QT_QPA_PLATFORM=offscreen
fi
exec "$ROOT/build/app/modemterm" --port sim "$@"
