#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A port device that does not exist: the warning box "Ostrzeżenie" comes first
# and alone, the terminal window only once it is closed, and the program still
# ends cleanly. (Its text and the unpainted boxes: tst_window.)
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
e2e_dismiss "$app" "Ostrzeżenie" "$warning"
win=$(e2e_window "$app" Terminal)
e2e_quit "$app" "$win"
