#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# On the built-in simulated modem: the five line boxes in the right colours at
# their places, DTR and RTS switched by clicks (the modem's DSR and CTS follow),
# and a dial to the echo service turning CD red.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemterm "$MODEMTERM" --port sim
app=$E2E_LAST_PID
win=$(e2e_window "$app" Terminal)
e2e_focus "$win"
e2e_geometry "$win"
e2e_log "window $win at $GX,$GY size ${GW}x$GH"

find_top() {
    e2e_snap
    TOP=$(e2e_client_top "$SHOT" $((GX + $(e2e_px 787))) "$GY" $((GY + 80)))
    [ -n "$TOP" ] || { E2E_WHY="no indicator box under the menu bar"; return 1; }
}
e2e_wait "the indicator boxes to be painted" find_top
e2e_log "client area top at y=$TOP"

boxes() { e2e_snap && e2e_boxes_are "$SHOT" "$GX" "$TOP" 1 "$@"; } # CD CTS DSR RTS DTR
click_box() {
    local entry name bl bw
    for entry in "${E2E_BOXES[@]}"; do
        IFS=: read -r name bl bw <<<"$entry"
        [ "$name" = "$1" ] && { e2e_click $((GX + $(e2e_px $((bl + bw / 2))))) $((TOP + $(e2e_px 128))); return; }
    done
    e2e_fail "no box $1"
}

# The port opens with DTR and RTS on, so the modem holds DSR and CTS on too.
e2e_wait "CD green, the other four red" boxes G R R R R
e2e_keep start
# Every control named, each line's state told.
e2e_a11y_expect "$app" Terminal \
    "filler | CD | nieaktywna" "filler | CTS | aktywna" "filler | DSR | aktywna" \
    "filler | RTS | aktywna" "filler | DTR | aktywna" \
    "label | CD | " "label | CTS | " "label | DSR | " "label | RTS | " "label | DTR | " \
    "~text \| [^|]+ \| .*" "~label \| [^|]+ \| .*" \
    "menu item | Plik | " "menu item | About | " "menu item | Wyjdź | " \
    "menu item | Ustawienia | " "menu item | Portu | " "menu item | Modemu | "

click_box DTR
e2e_wait "DTR green after a click, DSR following" boxes G R G R G
e2e_keep dtr-off
e2e_a11y_expect "$app" Terminal "filler | DTR | nieaktywna" "filler | DSR | nieaktywna" "filler | CD | nieaktywna"
click_box DTR
e2e_wait "DTR red again, DSR following" boxes G R R R R
click_box RTS
e2e_wait "RTS green after a click, CTS following" boxes G G R G R
e2e_keep rts-off
click_box RTS
e2e_wait "RTS red again, CTS following" boxes G R R R R
e2e_keep rts-on

# The clicks moved the focus to a box: click into the text, then dial.
e2e_click $((GX + GW / 2)) $((TOP + 200))
e2e_type "ATD123"
e2e_key Return
STEP_TIMEOUT=60 e2e_wait "CD red once the call connects" boxes R R R R R
e2e_keep connected
e2e_a11y_expect "$app" Terminal "filler | CD | aktywna"

# Dropping DTR hangs up: CD goes green with it.
click_box DTR
e2e_wait "DTR, DSR and CD green after DTR drops" boxes G R G R G
e2e_keep hung-up
