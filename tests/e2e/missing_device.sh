#!/usr/bin/env bash
# A port device that does not exist: the warning box "Ostrzeżenie" comes
# first, the terminal window only once it is closed, with its boxes unpainted,
# and the program still ends cleanly.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemterm "$MODEMTERM" --port "$ART/no-such-device"
app=$E2E_LAST_PID

# The first window to appear is the warning, alone.
first_window() {
    E2E_FIRST=$(xdotool search --onlyvisible --pid "$app" --name '.' 2>/dev/null || true)
    [ -n "$E2E_FIRST" ]
}
e2e_wait "the first window" first_window
warning=$(e2e_window "$app" "Ostrzeżenie")
[ -z "$(e2e_windows "$app" Terminal)" ] || e2e_fail "the terminal window came before the warning"
[ "$(wc -l <<<"$E2E_FIRST")" -eq 1 ] || e2e_fail "more than one window at first: $E2E_FIRST"
e2e_shot warning
# Its first line is fixed; a second may name the device and the reason.
E2E_A11Y_WINDOW="Ostrzeżenie" e2e_a11y_expect "$app" warning "alert message | Ostrzeżenie | " \
    "~label \| Nie mogę otworzyć portu COM 2([\\]n.*)? \| "
e2e_log "the warning came first, alone"

e2e_focus "$warning"
e2e_key Return
e2e_gone "$app" "Ostrzeżenie"
win=$(e2e_window "$app" Terminal)
e2e_geometry "$win"
e2e_log "then the terminal window"

# No port, so the boxes keep their default background: nothing red or green
# in the top band, once the window is painted (the white text area shows).
unpainted() {
    e2e_snap
    [ "$(e2e_pixel "$SHOT" $((GX + GW / 2)) $((GY + GH / 2)))" = FFFFFF ] ||
        { E2E_WHY="window not painted yet"; return 1; }
    local n
    n=$(e2e_region "$SHOT" "$GX" "$GY" "$GW" 80 |
        awk '$3 == "FF0000" || $3 == "00FF00" { n++ } END { print n + 0 }')
    [ "$n" -eq 0 ] || { E2E_WHY="$n red or green pixels"; return 1; }
}
e2e_wait "the window painted, its boxes left unpainted" unpainted
e2e_keep no-port

e2e_focus "$win"
e2e_key alt+p
e2e_key w
e2e_exit_status "$app" 20
[ "$E2E_STATUS" -eq 0 ] || e2e_fail "modemterm ended with status $E2E_STATUS after Wyjdź"
