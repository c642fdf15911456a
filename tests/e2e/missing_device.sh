#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A port device that does not exist: the warning box "Ostrzeżenie" comes first
# and alone, the terminal window only once it is closed, with its boxes
# unpainted, and the program still ends cleanly.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemterm "$MODEMTERM" --port "$ART/no-such-device"
app=$E2E_LAST_PID
first_window() { FIRST=$(e2e_windows "$app" '.+'); [ -n "$FIRST" ]; }
e2e_wait "the first window" first_window
warning=$(e2e_window "$app" "Ostrzeżenie")
[ -z "$(e2e_windows "$app" Terminal)" ] || e2e_fail "the terminal window came before the warning"
[ "$(wc -l <<<"$FIRST")" -eq 1 ] || e2e_fail "more than one window at first: $FIRST"
e2e_shot warning
# The first line is fixed; a second may name the device and the reason.
e2e_a11y_expect "$app" "Ostrzeżenie" "alert message | Ostrzeżenie | " \
    "~label \| Nie mogę otworzyć portu COM 2([\\]n.*)? \| "
e2e_dismiss "$app" "Ostrzeżenie" "$warning"
win=$(e2e_window "$app" Terminal)
e2e_geometry "$win"
# No port: once the window is painted (the white text area shows), nothing
# red or green in the boxes' band.
unpainted() {
    e2e_snap
    [ "$(e2e_pixel "$SHOT" $((GX + GW / 2)) $((GY + GH / 2)))" = FFFFFF ] || { E2E_WHY="window not painted yet"; return 1; }
    local n=$(e2e_count "$SHOT" "$GX" "$GY" "$GW" 80 FF0000 00FF00)
    [ "$n" -eq 0 ] || { E2E_WHY="$n red or green pixels"; return 1; }
}
e2e_wait "the window painted, its boxes left unpainted" unpainted
e2e_keep no-port
e2e_quit "$app" "$win"
