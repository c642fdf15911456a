#!/usr/bin/env bash
# On the built-in simulated modem: the five line boxes in the right colours at
# their places, DTR and RTS switched by mouse clicks (the modem's DSR and CTS
# follow), and a dial to the echo service turning CD red.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemterm "$MODEMTERM" --port sim
app=$E2E_LAST_PID
win=$(e2e_window "$app" Terminal)
e2e_focus "$win"
e2e_geometry "$win"
e2e_log "window $win at $GX,$GY size ${GW}x$GH"

# The client area starts under the menu bar; the boxes sit at its top.
find_top() {
    e2e_snap
    TOP=$(e2e_client_top "$SHOT" $((GX + $(e2e_px 787))) "$GY" $((GY + 80)))
    [ -n "$TOP" ] || { E2E_WHY="no indicator box under the menu bar"; return 1; }
}
e2e_wait "the indicator boxes to be painted" find_top
e2e_log "client area top at y=$TOP"

boxes() { # boxes CD CTS DSR RTS DTR
    e2e_snap
    e2e_boxes_are "$SHOT" "$GX" "$TOP" 1 "$@"
}
# The port opens with DTR and RTS off, so the modem holds DSR and CTS off too.
e2e_wait "all five boxes green" boxes G G G G G
e2e_keep start
# A screen reader names every control and tells each line's state.
e2e_a11y_expect "$app" start \
    "filler | CD | nieaktywna" "filler | CTS | nieaktywna" "filler | DSR | nieaktywna" \
    "filler | RTS | nieaktywna" "filler | DTR | nieaktywna" \
    "label | CD | " "label | CTS | " "label | DSR | " "label | RTS | " "label | DTR | " \
    "~text \| [^|]+ \| .*" "~label \| [^|]+ \| .*" \
    "menu item | Plik | " "menu item | About | " "menu item | Wyjdź | " \
    "menu item | Ustawienia | " "menu item | Portu | " "menu item | Modemu | "

box_centre() { # box_centre NAME: sets BX BY to the centre of that box
    local entry name bl bw
    for entry in "${E2E_BOXES[@]}"; do
        IFS=: read -r name bl bw <<<"$entry"
        if [ "$name" = "$1" ]; then
            BX=$((GX + $(e2e_px $((bl + bw / 2)))))
            BY=$((TOP + $(e2e_px 128)))
            return
        fi
    done
    e2e_fail "no box $1"
}

box_centre DTR
e2e_click "$BX" "$BY"
e2e_wait "DTR red after a click, DSR following" boxes G G R G R
e2e_keep dtr-on
E2E_A11Y_WINDOW=Terminal e2e_a11y_expect "$app" dtr-on "filler | DTR | aktywna" "filler | DSR | aktywna" \
    "filler | CD | nieaktywna"

box_centre RTS
e2e_click "$BX" "$BY"
e2e_wait "RTS red after a click, CTS following" boxes G R R R R
e2e_keep rts-on

box_centre RTS
e2e_click "$BX" "$BY"
e2e_wait "RTS green again, CTS following" boxes G G R G R
e2e_keep rts-off

# Dial the echo service from the text area. The click on a box moved the
# focus there, so the user clicks into the text first.
e2e_click $((GX + GW / 2)) $((TOP + 200))
e2e_type "ATD123"
e2e_key Return
STEP_TIMEOUT=60 e2e_wait "CD red once the call connects" boxes R G R G R
e2e_keep connected
E2E_A11Y_WINDOW=Terminal e2e_a11y_expect "$app" connected "filler | CD | aktywna"

# Dropping DTR hangs up: CD goes green with it.
box_centre DTR
e2e_click "$BX" "$BY"
e2e_wait "DTR, DSR and CD green after DTR drops" boxes G G G G G
e2e_keep hung-up
