# SPDX-License-Identifier: MIT
# The end-to-end tests drive the real programs with XTEST keys and clicks and
# read only what a person or a screen reader gets: windows, pixels, AT-SPI.
set -euo pipefail

E2E_NAME=${E2E_NAME:-$(basename "$0" .sh)}
ART=${E2E_ARTIFACTS:?E2E_ARTIFACTS not set}/$E2E_NAME
STEP_TIMEOUT=${E2E_STEP_TIMEOUT:-20}    # seconds for any one awaited condition
E2E_T0=${EPOCHREALTIME/[.,]/}
E2E_PIDS=() E2E_RUNTIME='' E2E_STEP=0

e2e_log() {
    local cs=$(( (${EPOCHREALTIME/[.,]/} - E2E_T0) / 10000 ))
    printf '[%s %3d.%02ds] %s\n' "$E2E_NAME" $((cs / 100)) $((cs % 100)) "$*"
}
e2e_fail() { echo "FAIL: $*" >&2; [ -z "${DISPLAY:-}" ] || e2e_shot failure || true; exit 1; }

e2e_cleanup() {
    local rc=$? pid
    for pid in "${E2E_PIDS[@]}"; do # newest first: the X server last
        kill -TERM "$pid" 2>/dev/null || true
        e2e_reap "$pid" 5 || kill -KILL "$pid" 2>/dev/null || true
    done
    [ -z "$E2E_RUNTIME" ] || rm -rf "$E2E_RUNTIME"
    e2e_log "$([ "$rc" -eq 0 ] && echo passed || echo "failed (status $rc)"); screenshots and logs in $ART"
    exit "$rc"
}

# e2e_reap PID SECONDS: waits for a child (not in $(...)) to end, its status to
# E2E_STATUS; returns 1 if it still runs after SECONDS.
e2e_reap() {
    local end=$((SECONDS + $2))
    while kill -0 "$1" 2>/dev/null; do [ "$SECONDS" -lt "$end" ] || return 1; sleep 0.05; done
    wait "$1" 2>/dev/null && E2E_STATUS=0 || E2E_STATUS=$?
}

# e2e_init: checks the tools, empties the artifact folder, starts Xvfb and a session bus.
e2e_init() {
    local tool missing=()
    for tool in Xvfb xdotool xprop import convert xclip dbus-daemon; do
        command -v "$tool" >/dev/null || missing+=("${tool##*/}")
    done
    [ ${#missing[@]} -eq 0 ] || { echo "SKIP: missing ${missing[*]} (Debian: xvfb xauth xdotool x11-utils" \
        "imagemagick xclip dbus-daemon)"; exit 77; }
    rm -rf "$ART" && mkdir -p "$ART"
    trap e2e_cleanup EXIT
    trap 'exit 130' INT TERM
    # Our X server, unscaled unless a test says so, whatever the caller exported.
    export QT_QPA_PLATFORM=xcb QT_LOGGING_RULES='qt.qpa.*=false'
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR \
          QT_ENABLE_HIGHDPI_SCALING QT_FONT_DPI WAYLAND_DISPLAY DISPLAY
    E2E_RUNTIME=$(mktemp -d /tmp/modemterm-e2e.XXXXXX) # short: a socket's path may not exceed 107 bytes
    export XDG_RUNTIME_DIR=$E2E_RUNTIME
    # Sanitizer builds: what the display's system libraries keep until exit.
    export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(realpath "${BASH_SOURCE[0]%/*}")/lsan-x11.supp
    # -displayfd: the server picks a free display and reports it.
    e2e_start xvfb Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$ART/display"
    e2e_wait "Xvfb to report its display" test -s "$ART/display"
    export DISPLAY=:$(head -n1 "$ART/display")
    e2e_wait "the X server to answer" xprop -root -len 0 _NET_SUPPORTED
    e2e_log "Xvfb on $DISPLAY"
    # Ours, not the desktop's the caller may have.
    e2e_start dbus dbus-daemon --session --nofork --print-address=5 5>"$ART/session-bus"
    e2e_wait "the session bus" test -s "$ART/session-bus"
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$ART/session-bus")
}

# e2e_wait WHAT COMMAND...: polls COMMAND (quietly) until it succeeds, for at
# most STEP_TIMEOUT seconds; COMMAND may say in E2E_WHY why it did not.
e2e_wait() {
    local what=$1 end=$((SECONDS + STEP_TIMEOUT))
    E2E_WHY=
    until "${@:2}" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$end" ] || e2e_fail "timed out after ${STEP_TIMEOUT}s waiting for $what${E2E_WHY:+ ($E2E_WHY)}"
        sleep 0.05
    done
}

# e2e_start NAME COMMAND...: runs COMMAND in the background, output to
# NAME.log, its pid to E2E_LAST_PID.
e2e_start() { "${@:2}" >"$ART/$1.log" 2>&1 & E2E_LAST_PID=$!; E2E_PIDS=("$E2E_LAST_PID" "${E2E_PIDS[@]}"); }
# e2e_terminal NAME COMMAND...: starts a terminal program as e2e_start does;
# APP is its pid, WIN its window "Terminal".
e2e_terminal() {
    e2e_start "$@"
    APP=$E2E_LAST_PID
    WIN=$(e2e_window "$APP" Terminal)
}

# e2e_choose PID MENU-KEY SHOT ITEM-KEY...: opens a menu of the focused
# window by keyboard, keeps a screenshot of it as SHOT, and chooses an item.
e2e_choose() {
    e2e_key "$2"
    e2e_menu_open "$1"
    e2e_shot "$3"
    e2e_key "${@:4}"
}
# e2e_dismiss PID NAME WINDOW: Enter in the window NAME, which then closes.
e2e_dismiss() {
    e2e_focus "$3"
    e2e_key Return
    e2e_gone "$1" "$2"
}
# e2e_quit PID WINDOW: Plik > Wyjdź by keyboard; the program must end with 0.
e2e_quit() {
    e2e_focus "$2"
    e2e_choose "$1" alt+p wyjdz w
    e2e_reap "$1" 20 || e2e_fail "modemterm $1 still runs after Wyjdź"
    [ "$E2E_STATUS" -eq 0 ] || e2e_fail "modemterm $1 ended with status $E2E_STATUS after Wyjdź"
}

# --- windows and input ------------------------------------------------------

# e2e_windows PID NAME: ids of PID's visible top-level windows named exactly NAME.
e2e_windows() { xdotool search --all --onlyvisible --pid "$1" --name "^$2\$" 2>/dev/null || true; }
_e2e_found() { [ -n "$(e2e_windows "$1" "$2")" ]; }
# e2e_window PID NAME: waits for that window and prints its id.
e2e_window() { e2e_wait "a window named \"$2\"" _e2e_found "$1" "$2"; e2e_windows "$1" "$2" | head -n1; }
_e2e_absent() { ! _e2e_found "$1" "$2"; }
e2e_gone() { e2e_wait "the window \"$2\" to close" _e2e_absent "$1" "$2"; }
_e2e_dropdown() { # PID: whether one of its windows is a drop-down menu
    local w
    for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null || true
    done | grep -q DROPDOWN_MENU
}
e2e_menu_open() { e2e_wait "a drop-down menu" _e2e_dropdown "$1"; }
# No window manager gives a new window the focus: the tests do what one would.
_e2e_focused() { xdotool windowfocus "$1" && [ "$(xdotool getwindowfocus)" = "$1" ]; }
e2e_focus() { e2e_wait "keyboard focus on window $1" _e2e_focused "$1"; }

# Sets GX GY GW GH to the window's position and size on screen (lines 2 to 5
# of xdotool's answer: X, Y, WIDTH, HEIGHT).
e2e_geometry() {
    read -r GX GY GW GH < <(xdotool getwindowgeometry --shell "$1" | sed -n '2,5s/.*=//p' | paste -sd' ') || :
    [ -n "$GW" ] || e2e_fail "no geometry for window $1"
}
e2e_key() { xdotool key --clearmodifiers --delay 40 "$@"; }
e2e_type() { xdotool type --clearmodifiers --delay 40 "$1"; }
# --- screenshots and pixels -------------------------------------------------

# _e2e_artifact VAR NAME: sets VAR to the next numbered artifact, NN-NAME.
_e2e_artifact() { E2E_STEP=$((E2E_STEP + 1)); printf -v "$1" '%s/%02d-%s' "$ART" "$E2E_STEP" "$2"; }
# e2e_snap: the screen now to $ART/latest.png (SHOT), for checks repeated until
# they pass; e2e_keep NAME then keeps it as NN-NAME.png.
e2e_snap() { SHOT=$ART/latest.png; import -silent -window root "$SHOT"; }
e2e_keep() {
    _e2e_artifact SHOT "$1.png"
    cp "$ART/latest.png" "$SHOT"
    e2e_log "seen: $1"
}
e2e_shot() { e2e_snap && e2e_keep "$1"; }

# e2e_region FILE X Y W H: "x y RRGGBB" per pixel of the area, in screen coordinates.
e2e_region() {
    convert "$1" -crop "$4x$5+$2+$3" +repage -depth 8 txt:- | awk -v ox="$2" -v oy="$3" -F'[,: ]+' \
        '!/^#/ { print $1 + ox, $2 + oy, toupper(substr($0, index($0, "#") + 1, 6)) }'
}
e2e_pixel() { e2e_region "$1" "$2" "$3" 1 1 | cut -d' ' -f3; }
# e2e_count FILE X Y W H COLOUR...: how many pixels of the area have one of the colours.
e2e_count() { e2e_region "${@:1:5}" | awk -v want=" ${*:6} " 'index(want, " " $3 " ") { n++ } END { print n + 0 }'; }

# Twips to device pixels: 15 per logical pixel, times the scale factor.
e2e_px() { awk -v t="$1" -v s="${2:-1}" 'BEGIN { printf "%d", t * s / 15 + 0.5 }'; }
e2e_near() { local d=$(($1 - $2)); [ "${d#-}" -le "$3" ]; } # ACTUAL EXPECTED TOLERANCE
# Pixels a place may be off at scale factor SCALE: one, two when fractional
# scaling rounds twice.
e2e_tol() { [ "$1" = 1 ] && echo 1 || echo 2; }

# e2e_find_top SCALE DEPTH: a new screenshot, and TOP the first red or green
# row at most DEPTH pixels below the window's top GY, in the CD box's column:
# the top of an indicator box and so of the client area.
e2e_find_top() {
    e2e_snap
    TOP=$(e2e_region "$SHOT" $((GX + $(e2e_px 787 "$1"))) "$GY" 1 $(($2 + 1)) |
        awk '$3 == "FF0000" || $3 == "00FF00" { print $2; exit }')
    [ -n "$TOP" ] || { E2E_WHY="no indicator box under the menu bar"; return 1; }
}

# The indicator boxes left to right, name:left:width in twips, 255 high, at the
# client area's top.
E2E_BOXES=(CD:480:615 CTS:1920:495 DSR:3360:375 RTS:4560:375 DTR:5640:375)

# e2e_boxes_are SCALE CD CTS DSR RTS DTR: whether the screenshot SHOT shows
# the boxes at their places in the colours given (R red, G green), for a
# client area whose top left corner is at GX TOP. Sets E2E_WHY.
e2e_boxes_are() {
    local s=$1 tol=$(e2e_tol "$1") i name bl bw start end colour x0 x1 h runs colours=("${@:2}")
    # The runs of pure red or green along a row through the boxes.
    mapfile -t runs < <(e2e_region "$SHOT" "$GX" $((TOP + $(e2e_px 128 "$s"))) $(($(e2e_px 6200 "$s") + 1)) 1 |
        awk '{ col = $3 == "FF0000" ? "R" : $3 == "00FF00" ? "G" : "" }
             col != c || $1 != e + 1 { if (c != "") print s, e, c; c = col; s = $1 }
             { e = $1 } END { if (c != "") print s, e, c }')
    [ ${#runs[@]} -eq 5 ] || { E2E_WHY="${#runs[@]} coloured boxes in a row: ${runs[*]}"; return 1; }
    for i in 0 1 2 3 4; do
        IFS=: read -r name bl bw <<<"${E2E_BOXES[$i]}"
        read -r start end colour <<<"${runs[$i]}"
        x0=$((GX + $(e2e_px "$bl" "$s"))) x1=$((GX + $(e2e_px $((bl + bw)) "$s") - 1))
        e2e_near "$start" "$x0" "$tol" && e2e_near "$end" "$x1" "$tol" && [ "$colour" = "${colours[$i]}" ] ||
            { E2E_WHY="$name box spans x $start-$end in $colour, expected $x0-$x1 in ${colours[$i]}"; return 1; }
    done
    h=$(e2e_count "$SHOT" $((GX + $(e2e_px 787 "$s"))) "$TOP" 1 "$(e2e_px 600 "$s")" FF0000 00FF00)
    e2e_near "$h" "$(e2e_px 255 "$s")" "$tol" || { E2E_WHY="CD box is $h px high, expected $(e2e_px 255 "$s")"; return 1; }
}
