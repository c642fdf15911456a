# SPDX-License-Identifier: MIT
# The end-to-end tests drive the real programs with XTEST keys and clicks and
# read only what a person gets: windows and pixels.
set -euo pipefail

ART=$E2E_ARTIFACTS/$(basename "$0" .sh)

e2e_fail() {
    echo "FAIL: $* (logs and the screen in $ART)" >&2
    import -silent -window root "$ART/failure.png" || :
    exit 1
}

# Ends what the test started; the test's status stays.
e2e_cleanup() {
    kill -TERM $(jobs -p) 2>/dev/null || :
    wait
}

# e2e_init: checks the tools, empties the artifact folder, starts Xvfb.
e2e_init() {
    hash Xvfb xdotool xprop import convert || { echo "SKIP: the tool named above is not installed"; exit 77; }
    rm -rf "$ART" && mkdir -p "$ART"
    trap e2e_cleanup EXIT
    trap 'exit 130' INT TERM
    # Our X server, unscaled, and no session bus, whatever the caller exported.
    export QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled:
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_ENABLE_HIGHDPI_SCALING QT_FONT_DPI WAYLAND_DISPLAY DISPLAY
    # Sanitizer builds: what the display's system libraries keep until exit.
    export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=${0%/*}/lsan-x11.supp
    # -displayfd: the server picks a free display and reports it.
    e2e_start xvfb Xvfb -displayfd 5 -screen 0 1280x1024x24 -noreset 5>"$ART/display"
    e2e_wait "Xvfb to report its display" test -s "$ART/display"
    export DISPLAY=:$(head -n1 "$ART/display")
}

# e2e_wait WHAT COMMAND...: polls COMMAND (quietly) until it succeeds, for at
# most 20 seconds; COMMAND may say in E2E_WHY why it did not.
e2e_wait() {
    local end=$((SECONDS + 20))
    E2E_WHY=
    until "${@:2}" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$end" ] || e2e_fail "timed out waiting for $1${E2E_WHY:+ ($E2E_WHY)}"
        sleep 0.05
    done
}

# e2e_start NAME COMMAND...: runs COMMAND in the background (its pid in $!),
# output to NAME.log; it is ended with the test.
e2e_start() { "${@:2}" >"$ART/$1.log" 2>&1 & }
# e2e_terminal NAME COMMAND...: starts a terminal program as e2e_start does;
# APP is its pid, WIN its window "Terminal".
e2e_terminal() {
    e2e_start "$@"
    APP=$!
    WIN=$(e2e_window "$APP" Terminal)
}

# e2e_quit PID WINDOW: Plik > Wyjdź by keyboard; the program must end with 0.
e2e_quit() {
    e2e_focus "$2"
    e2e_key alt+p
    e2e_menu_open "$1"
    e2e_key w
    e2e_wait "modemterm to end after Wyjdź" _e2e_ended "$1"
    wait "$1" || e2e_fail "modemterm ended with status $? after Wyjdź"
}
_e2e_ended() { ! kill -0 "$1"; }

# (What e2e_wait polls may fail and complain: it is not heard.)
# e2e_found PID NAME: whether PID has visible top-level windows named exactly
# NAME; FOUND holds their ids.
e2e_found() { FOUND=$(xdotool search --all --onlyvisible --pid "$1" --name "^$2\$"); }
# e2e_window PID NAME: waits for that window and prints its id.
e2e_window() { e2e_wait "a window named \"$2\"" e2e_found "$1" "$2"; head -n1 <<<"$FOUND"; }
# _e2e_dropdown PID: whether one of its windows is a drop-down menu.
_e2e_dropdown() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$1"); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE || :
    done | grep -q DROPDOWN_MENU
}
e2e_menu_open() { e2e_wait "a drop-down menu" _e2e_dropdown "$1"; }
# No window manager gives a new window the focus: the tests do what one would.
_e2e_focused() { xdotool windowfocus "$1" && [ "$(xdotool getwindowfocus)" = "$1" ]; }
e2e_focus() { e2e_wait "keyboard focus on window $1" _e2e_focused "$1"; }
e2e_key() { xdotool key --clearmodifiers --delay 40 "$@"; }
