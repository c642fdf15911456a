#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# On the built-in simulated modem: the five line boxes in the right colours at
# their places, DTR and RTS switched by clicks (the modem's DSR and CTS follow),
# and a dial to the echo service turning CD red.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_terminal modemterm "$MODEMTERM" --port sim
e2e_focus "$WIN"
e2e_geometry "$WIN"
e2e_wait "the indicator boxes to be painted" e2e_find_top 1 80
e2e_log "window $WIN at $GX,$GY size ${GW}x$GH, client area top at y=$TOP"

boxes() { e2e_snap && e2e_boxes_are 1 "$@"; } # CD CTS DSR RTS DTR
# boxes_seen NAME WHAT CD CTS DSR RTS DTR: waits for the boxes in those colours, keeps the screen as NAME.
boxes_seen() {
    e2e_wait "$2" boxes "${@:3}"
    e2e_keep "$1"
}
click_box() { # NAME: a click in the middle of that box
    local name bl bw
    IFS=: read -r name bl bw < <(printf '%s\n' "${E2E_BOXES[@]}" | grep "^$1:") || e2e_fail "no box $1"
    e2e_click $((GX + $(e2e_px $((bl + bw / 2))))) $((TOP + $(e2e_px 128)))
}

# The port opens with DTR and RTS on, so the modem holds DSR and CTS on too.
boxes_seen start "CD green, the other four red" G R R R R
# Every control named, each line's state told.
e2e_a11y_expect "$APP" Terminal \
    "filler | CD | nieaktywna" "filler | CTS | aktywna" "filler | DSR | aktywna" \
    "filler | RTS | aktywna" "filler | DTR | aktywna" \
    "label | CD | " "label | CTS | " "label | DSR | " "label | RTS | " "label | DTR | " \
    "~text \| [^|]+ \| .*" "~label \| [^|]+ \| .*" \
    "menu item | Plik | " "menu item | About | " "menu item | Wyjdź | " \
    "menu item | Ustawienia | " "menu item | Portu | " "menu item | Modemu | "

click_box DTR
boxes_seen dtr-off "DTR green after a click, DSR following" G R G R G
e2e_a11y_expect "$APP" Terminal "filler | DTR | nieaktywna" "filler | DSR | nieaktywna" "filler | CD | nieaktywna"
click_box DTR
boxes_seen dtr-on "DTR red again, DSR following" G R R R R
click_box RTS
boxes_seen rts-off "RTS green after a click, CTS following" G G R G R
click_box RTS
boxes_seen rts-on "RTS red again, CTS following" G R R R R

# The clicks moved the focus to a box: click into the text, then dial.
e2e_click $((GX + GW / 2)) $((TOP + 200))
e2e_type "ATD123"
e2e_key Return
STEP_TIMEOUT=60 boxes_seen connected "CD red once the call connects" R R R R R
e2e_a11y_expect "$APP" Terminal "filler | CD | aktywna"

# Dropping DTR hangs up: CD goes green with it.
click_box DTR
boxes_seen hung-up "DTR, DSR and CD green after DTR drops" G R G R G
