# Shared by the end-to-end tests: a private X server, the program under test,
# waiting on conditions, screenshots and pixel reading.
#
# The tests drive the real binaries from outside with XTEST keyboard and
# mouse events (xdotool) and read back only what a person, or a person's
# screen reader, gets: window names and geometry, the clipboard, the screen's
# pixels, and the accessibility tree (AT-SPI over D-Bus).
#
# Environment (set by CTest): MODEMTERM, MODEMSIM, PTYTAP (binaries),
# E2E_ARTIFACTS (folder for screenshots and logs).
set -euo pipefail

E2E_NAME=$(basename "$0" .sh)
ART=${E2E_ARTIFACTS:?E2E_ARTIFACTS not set}/$E2E_NAME
STEP_TIMEOUT=${E2E_STEP_TIMEOUT:-20}    # seconds for any one awaited condition
E2E_PIDS=()
E2E_XVFB_PID=
E2E_RUNTIME=
E2E_STEP=0

e2e_log() { printf '[%s %6.2fs] %s\n' "$E2E_NAME" "$(e2e_elapsed)" "$*"; }
e2e_elapsed() { echo "$(( $(date +%s%N) / 1000000 - E2E_START_MS ))" | awk '{printf "%.2f", $1/1000}'; }

e2e_fail() {
    echo "FAIL: $*" >&2
    [ -z "${DISPLAY:-}" ] || e2e_shot "failure" || true
    exit 1
}

e2e_cleanup() {
    local rc=$? pid
    for pid in "${E2E_PIDS[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${E2E_PIDS[@]}"; do
        e2e_reap "$pid" 5 || kill -KILL "$pid" 2>/dev/null || true
    done
    if [ -n "$E2E_XVFB_PID" ]; then
        kill -TERM "$E2E_XVFB_PID" 2>/dev/null || true
        e2e_reap "$E2E_XVFB_PID" 5 || kill -KILL "$E2E_XVFB_PID" 2>/dev/null || true
    fi
    [ -z "${E2E_RUNTIME:-}" ] || rm -rf "$E2E_RUNTIME"
    if [ "$rc" -eq 0 ]; then
        e2e_log "passed; screenshots and logs in $ART"
    else
        e2e_log "failed (status $rc); screenshots and logs in $ART"
    fi
    exit "$rc"
}

# e2e_reap PID SECONDS: waits for a process we started to end.
e2e_reap() {
    local pid=$1 deadline=$(( $(date +%s) + $2 ))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$(date +%s)" -lt "$deadline" ] || return 1
        sleep 0.05
    done
    wait "$pid" 2>/dev/null || true
}

e2e_require() {
    local tool missing=()
    for tool in Xvfb xdotool xprop import convert xclip dbus-daemon gdbus "$@"; do
        command -v "$tool" >/dev/null || missing+=("$tool")
    done
    [ -x /usr/libexec/at-spi-bus-launcher ] || missing+=(at-spi-bus-launcher)
    if [ ${#missing[@]} -gt 0 ]; then
        echo "SKIP: missing ${missing[*]} (Debian: xvfb xauth xdotool x11-utils imagemagick" \
             "xclip dbus-daemon libglib2.0-bin at-spi2-core)"
        exit 77
    fi
}

# e2e_init: checks the tools, prepares the artifact folder, starts Xvfb.
e2e_init() {
    E2E_START_MS=$(( $(date +%s%N) / 1000000 ))
    e2e_require
    rm -rf "$ART"
    mkdir -p "$ART"
    trap e2e_cleanup EXIT
    trap 'exit 130' INT TERM

    # The program must talk to this X server, unscaled unless a test says so,
    # whatever the surrounding test run exported.
    export QT_QPA_PLATFORM=xcb
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING
    unset WAYLAND_DISPLAY QT_FONT_DPI
    # Sockets live here (the accessibility bus's too): a short path, since
    # a socket's path may not exceed 107 bytes.
    E2E_RUNTIME=$(mktemp -d /tmp/modemterm-e2e.XXXXXX)
    export XDG_RUNTIME_DIR=$E2E_RUNTIME
    export QT_LOGGING_RULES='qt.qpa.*=false'

    # In a sanitizer build LeakSanitizer checks every exit; keep the run's
    # own suppressions and add those of the display's system libraries.
    local supp=$ART/lsan.supp existing
    existing=$(sed -n 's/.*suppressions=\([^:]*\).*/\1/p' <<<"${LSAN_OPTIONS:-}")
    { if [ -n "$existing" ] && [ -r "$existing" ]; then cat "$existing"; fi
      cat "$(dirname "${BASH_SOURCE[0]}")/lsan-x11.supp"; } >"$supp"
    LSAN_OPTIONS=$(sed 's/suppressions=[^:]*:\{0,1\}//' <<<"${LSAN_OPTIONS:-}")
    export LSAN_OPTIONS=${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$supp

    # -displayfd: the server picks a free display number and reports it.
    unset DISPLAY
    local dfile=$ART/display
    : >"$dfile"
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset \
        5>"$dfile" >"$ART/xvfb.log" 2>&1 &
    E2E_XVFB_PID=$!
    e2e_wait "Xvfb to report its display" test -s "$dfile"
    export DISPLAY=:$(head -n1 "$dfile")
    e2e_wait "the X server to answer" e2e_server_answers
    e2e_log "Xvfb on $DISPLAY"

    # A session bus of our own, through which the programs publish their
    # accessibility tree (AT-SPI) for the tests to read as a screen reader
    # would; the accessibility bus itself starts on demand.
    : >"$ART/session-bus"
    dbus-daemon --session --nofork --print-address=5 5>"$ART/session-bus" 2>"$ART/dbus.log" &
    E2E_PIDS+=("$!")
    e2e_wait "the session bus" test -s "$ART/session-bus"
    export DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$ART/session-bus")
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

e2e_server_answers() { xprop -root -len 0 _NET_SUPPORTED >/dev/null 2>&1; }

# e2e_wait DESCRIPTION COMMAND...: polls COMMAND until it succeeds, for at
# most STEP_TIMEOUT seconds.
e2e_wait() {
    local what=$1
    shift
    local deadline=$(( $(date +%s%N) / 1000000 + STEP_TIMEOUT * 1000 ))
    E2E_WHY=
    until "$@"; do
        if [ $(( $(date +%s%N) / 1000000 )) -gt "$deadline" ]; then
            e2e_fail "timed out after ${STEP_TIMEOUT}s waiting for $what${E2E_WHY:+ ($E2E_WHY)}"
        fi
        sleep 0.05
    done
}

# e2e_start NAME COMMAND...: starts a program in the background, output to
# NAME.log; its pid is left in E2E_LAST_PID.
e2e_start() {
    local name=$1
    shift
    "$@" >"$ART/$name.log" 2>&1 &
    E2E_LAST_PID=$!
    E2E_PIDS+=("$E2E_LAST_PID")
}

# e2e_exit_status PID SECONDS: waits for the process to end and sets
# E2E_STATUS to its exit status; fails the test if it does not end in time.
# (Not in a $(...) subshell: only this shell can collect its children.)
e2e_exit_status() {
    local pid=$1 deadline=$(( $(date +%s) + $2 ))
    while kill -0 "$pid" 2>/dev/null; do
        [ "$(date +%s)" -lt "$deadline" ] || e2e_fail "process $pid still running after $2 s"
        sleep 0.05
    done
    E2E_STATUS=0
    wait "$pid" || E2E_STATUS=$?
}

# --- windows ----------------------------------------------------------------

# Prints the ids of the visible top-level windows of PID named exactly NAME.
e2e_windows() {
    local pid=$1 name=$2
    xdotool search --all --onlyvisible --pid "$pid" --name "^${name}\$" 2>/dev/null || true
}

# e2e_window PID NAME: waits for that window and prints its id.
e2e_window() {
    local pid=$1 name=$2
    E2E_FOUND=
    _e2e_find() { E2E_FOUND=$(e2e_windows "$pid" "$name" | head -n1); [ -n "$E2E_FOUND" ]; }
    e2e_wait "a window named \"$name\"" _e2e_find
    echo "$E2E_FOUND"
}

# e2e_gone PID NAME: waits until no such window is visible.
e2e_gone() {
    local pid=$1 name=$2
    _e2e_absent() { [ -z "$(e2e_windows "$pid" "$name")" ]; }
    e2e_wait "the window \"$name\" to close" _e2e_absent
}

# e2e_menu_open PID: waits for a drop-down menu of PID on screen.
e2e_menu_open() {
    local pid=$1
    _e2e_dropdown() {
        local w
        for w in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
            xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DROPDOWN_MENU && return 0
        done
        return 1
    }
    e2e_wait "a drop-down menu" _e2e_dropdown
}

# With no window manager nobody gives a new window the keyboard focus, so the
# tests do what a window manager would: focus the window the user turns to.
e2e_focus() {
    local win=$1
    _e2e_focused() {
        xdotool windowfocus "$win" 2>/dev/null || true
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$win" ]
    }
    e2e_wait "keyboard focus on window $win" _e2e_focused
}

# Sets GX GY GW GH to the window's position and size on screen.
e2e_geometry() {
    local win=$1 key val
    GX= GY= GW= GH=
    while IFS='=' read -r key val; do
        case $key in
            X) GX=$val ;; Y) GY=$val ;; WIDTH) GW=$val ;; HEIGHT) GH=$val ;;
        esac
    done < <(xdotool getwindowgeometry --shell "$win")
    [ -n "$GW" ] || e2e_fail "no geometry for window $win"
}

# e2e_key KEYS...: real key events (XTEST) to the focused window.
e2e_key() { xdotool key --clearmodifiers --delay 40 "$@"; }
e2e_type() { xdotool type --clearmodifiers --delay 40 "$1"; }

# e2e_click X Y: moves the pointer to screen position X Y and clicks.
e2e_click() {
    local x=$1 y=$2
    # Not mousemove --sync: it waits for a motion that never comes when the
    # pointer is already there.
    xdotool mousemove "$x" "$y"
    _e2e_pointer_at() { [ "$(xdotool getmouselocation --shell | sed -n '1,2s/^[XY]=//p' | paste -sd,)" = "$x,$y" ]; }
    e2e_wait "the pointer at $x,$y" _e2e_pointer_at
    xdotool click 1
}

# Reads the clipboard (what Ctrl+C put there).
e2e_clipboard() { xclip -o -selection clipboard 2>/dev/null || true; }
e2e_clear_clipboard() { printf '' | xclip -i -selection clipboard >/dev/null 2>&1; }

# --- accessibility: what a screen reader gets -------------------------------

E2E_A11Y=

_e2e_a11y_call() { # _e2e_a11y_call DEST PATH METHOD ARGS...
    gdbus call --address "$E2E_A11Y" --dest "$1" --object-path "$2" --method "$3" "${@:4}" 2>/dev/null
}

# Prints a string property of an accessible object, unquoted.
_e2e_a11y_string() {
    _e2e_a11y_call "$1" "$2" org.freedesktop.DBus.Properties.Get org.a11y.atspi.Accessible "$3" |
        sed -e "s/^(<'\(.*\)'>,)\$/\1/" -e 's/^(<"\(.*\)">,)$/\1/'
}

_e2e_a11y_walk() { # _e2e_a11y_walk BUS PATH INDENT
    local role child
    role=$(_e2e_a11y_call "$1" "$2" org.a11y.atspi.Accessible.GetRoleName | cut -d"'" -f2)
    printf '%s%s | %s | %s\n' "$3" "$role" "$(_e2e_a11y_string "$1" "$2" Name)" \
        "$(_e2e_a11y_string "$1" "$2" Description)"
    for child in $(_e2e_a11y_call "$1" "$2" org.a11y.atspi.Accessible.GetChildren |
                   grep -o "'/org/a11y/atspi/accessible/[^']*'" | tr -d "'"); do
        _e2e_a11y_walk "$1" "$child" "$3  "
    done
}

# e2e_a11y_dump PID NAME: the accessible tree of the program PID, one object
# a line as "role | name | description", indented by depth; kept in
# $ART/NN-NAME.a11y.txt, its path left in A11Y. With E2E_A11Y_WINDOW set,
# only the top-level windows of that name.
e2e_a11y_dump() {
    local pid=$1 bus=
    if [ -z "$E2E_A11Y" ]; then
        _e2e_a11y_address() {
            E2E_A11Y=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
                           --method org.a11y.Bus.GetAddress 2>/dev/null | cut -d"'" -f2)
            [ -n "$E2E_A11Y" ]
        }
        e2e_wait "the accessibility bus" _e2e_a11y_address
    fi
    _e2e_a11y_app() {
        local name
        for name in $(_e2e_a11y_call org.a11y.atspi.Registry /org/a11y/atspi/accessible/root \
                          org.a11y.atspi.Accessible.GetChildren | grep -o "':[0-9.]*'" | tr -d "'"); do
            if _e2e_a11y_call org.freedesktop.DBus /org/freedesktop/DBus \
                   org.freedesktop.DBus.GetConnectionUnixProcessID "$name" | grep -qE "[( ]$pid,\)"; then
                bus=$name
                return 0
            fi
        done
        return 1
    }
    e2e_wait "program $pid on the accessibility bus" _e2e_a11y_app
    E2E_STEP=$((E2E_STEP + 1))
    A11Y=$ART/$(printf '%02d' "$E2E_STEP")-$2.a11y.txt
    if [ -z "${E2E_A11Y_WINDOW:-}" ]; then
        _e2e_a11y_walk "$bus" /org/a11y/atspi/accessible/root "" >"$A11Y"
        return
    fi
    # Only the top-level window of that name: a walk costs a few calls per object.
    local window
    : >"$A11Y"
    for window in $(_e2e_a11y_call "$bus" /org/a11y/atspi/accessible/root \
                        org.a11y.atspi.Accessible.GetChildren |
                    grep -o "'/org/a11y/atspi/accessible/[^']*'" | tr -d "'"); do
        if [ "$(_e2e_a11y_string "$bus" "$window" Name)" = "$E2E_A11Y_WINDOW" ]; then
            _e2e_a11y_walk "$bus" "$window" "" >>"$A11Y"
        fi
    done
}

# e2e_a11y_expect PID NAME LINE...: dumps the tree until every LINE (see
# e2e_a11y_has, or "~REGEX" for e2e_a11y_match) is in it.
e2e_a11y_expect() {
    local pid=$1 name=$2
    shift 2
    _e2e_a11y_all() {
        local line
        e2e_a11y_dump "$pid" "$name"
        for line in "$@"; do
            if [ "${line:0:1}" = "~" ]; then
                e2e_a11y_match "${line:1}" || return 1
            else
                e2e_a11y_has "$line" || return 1
            fi
        done
    }
    e2e_wait "the accessible objects of \"$name\"" _e2e_a11y_all "$@"
    e2e_log "a screen reader sees: $name"
}

# e2e_a11y_match REGEX: whether a line of the last dump (indentation
# removed) matches the extended regular expression. Sets E2E_WHY.
e2e_a11y_match() {
    sed 's/^ *//' "$A11Y" | grep -qxE -- "$1" ||
        { E2E_WHY="nothing like /$1/ in $(basename "$A11Y")"; return 1; }
}

# e2e_a11y_has LINE: whether the last dump has an object LINE ("role | name |
# description", without indentation). Sets E2E_WHY.
e2e_a11y_has() {
    sed 's/^ *//' "$A11Y" | grep -qxF -- "$1" ||
        { E2E_WHY="no \"$1\" in $(basename "$A11Y")"; return 1; }
}

# --- screenshots and pixels ---------------------------------------------------

# e2e_shot NAME: the whole screen to $ART/NN-NAME.png; sets SHOT.
e2e_shot() {
    E2E_STEP=$((E2E_STEP + 1))
    SHOT=$ART/$(printf '%02d' "$E2E_STEP")-$1.png
    import -silent -window root "$SHOT"
}

# e2e_snap: the screen as it is now, to $ART/latest.png (SHOT), for checks
# repeated until the screen shows what they expect; e2e_keep NAME then keeps
# the screenshot that passed.
e2e_snap() {
    SHOT=$ART/latest.png
    import -silent -window root "$SHOT"
}
e2e_keep() {
    E2E_STEP=$((E2E_STEP + 1))
    local kept
    kept=$ART/$(printf '%02d' "$E2E_STEP")-$1.png
    cp "$ART/latest.png" "$kept"
    SHOT=$kept
    e2e_log "seen: $1"
}

# e2e_pixel FILE X Y: prints the pixel's colour as RRGGBB (hex, upper case).
e2e_pixel() {
    convert "$1" -crop "1x1+$2+$3" -depth 8 txt:- | grep -o '#[0-9A-Fa-f]\{6\}' | head -n1 |
        tr -d '#' | tr 'a-f' 'A-F'
}

# e2e_region FILE X Y W H: prints "x y RRGGBB" for every pixel of the area,
# x and y relative to the screen.
e2e_region() {
    local file=$1 x=$2 y=$3 w=$4 h=$5
    convert "$file" -crop "${w}x${h}+${x}+${y}" +repage -depth 8 txt:- |
        awk -v ox="$x" -v oy="$y" -F'[,: ]+' '
            /^#/ { next }
            { c = toupper(substr($0, index($0, "#") + 1, 6)); print $1 + ox, $2 + oy, c }'
}

# e2e_runs FILE Y X0 X1: the runs of pure red (FF0000) or pure green
# (00FF00) pixels on screen row Y between X0 and X1, one "start end colour"
# per line: the indicator boxes as a person sees them.
e2e_runs() {
    local file=$1 y=$2 x0=$3 x1=$4
    e2e_region "$file" "$x0" "$y" $((x1 - x0 + 1)) 1 | awk '
        function flush() { if (c != "") print s, e, c; c = "" }
        { col = ($3 == "FF0000" || $3 == "00FF00") ? $3 : "" }
        col != c || $1 != e + 1 { flush(); if (col != "") { s = $1; c = col } }
        { e = $1 }
        END { flush() }'
}

# e2e_client_top FILE X Y0 Y1: the first screen row from Y0 to Y1 in column X
# that is pure red or green (the top of an indicator box, which sits at the
# top of the client area, right under the menu bar).
e2e_client_top() {
    e2e_region "$1" "$2" "$3" 1 $(($4 - $3 + 1)) |
        awk '$3 == "FF0000" || $3 == "00FF00" { print $2; exit }'
}

# The indicator boxes, left to right: name, left and width in twips. All sit
# at the top of the client area, 255 twips high.
E2E_BOXES=(CD:480:615 CTS:1920:495 DSR:3360:375 RTS:4560:375 DTR:5640:375)
E2E_RED=FF0000
E2E_GREEN=00FF00

# e2e_boxes_are FILE LEFT TOP SCALE CD CTS DSR RTS DTR: whether the screenshot
# shows the five boxes at their places, in the given colours (R red, G green),
# for a client area whose top left corner is at LEFT TOP. Sets E2E_WHY.
e2e_boxes_are() {
    local file=$1 left=$2 top=$3 scale=$4
    shift 4
    local want=("$@") tol=1 i runs box name bl bw colour start end
    [ "$scale" = 1 ] || tol=2
    local y=$((top + $(e2e_px 128 "$scale")))
    runs=$(e2e_runs "$file" "$y" "$left" $((left + $(e2e_px 6200 "$scale"))))
    mapfile -t runs <<<"$runs"
    if [ ${#runs[@]} -ne 5 ] || [ -z "${runs[0]}" ]; then
        E2E_WHY="row $y shows ${#runs[@]} coloured boxes: ${runs[*]}"
        return 1
    fi
    for i in 0 1 2 3 4; do
        IFS=: read -r name bl bw <<<"${E2E_BOXES[$i]}"
        read -r start end colour <<<"${runs[$i]}"
        local exp_start=$((left + $(e2e_px "$bl" "$scale")))
        local exp_end=$((left + $(e2e_px $((bl + bw)) "$scale") - 1))
        local exp_colour=$E2E_GREEN
        [ "${want[$i]}" = R ] && exp_colour=$E2E_RED
        if ! e2e_near "$start" "$exp_start" "$tol" || ! e2e_near "$end" "$exp_end" "$tol"; then
            E2E_WHY="$name box spans x $start-$end, expected $exp_start-$exp_end"
            return 1
        fi
        if [ "$colour" != "$exp_colour" ]; then
            E2E_WHY="$name box is #$colour, expected #$exp_colour"
            return 1
        fi
    done
    # Height: down the middle of the CD box.
    local x=$((left + $(e2e_px 787 "$scale"))) height
    height=$(e2e_region "$file" "$x" "$top" 1 $(e2e_px 600 "$scale") |
        awk '$3 == "FF0000" || $3 == "00FF00" { n++ } END { print n + 0 }')
    if ! e2e_near "$height" "$(e2e_px 255 "$scale")" "$tol"; then
        E2E_WHY="CD box is $height px high, expected $(e2e_px 255 "$scale")"
        return 1
    fi
}

# Rounds a length in twips to device pixels (15 twips per logical pixel).
e2e_px() { awk -v t="$1" -v s="${2:-1}" 'BEGIN { printf "%d", t * s / 15 + 0.5 }'; }

e2e_near() { # e2e_near ACTUAL EXPECTED TOLERANCE
    local d=$(( $1 - $2 ))
    [ "${d#-}" -le "$3" ]
}
