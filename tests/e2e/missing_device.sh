#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A port device that does not exist: the warning box "Ostrzeżenie" comes first
# and alone, the terminal window only once it is closed, and the program still
# ends cleanly. (Its text and the unpainted boxes: tst_window.)
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemterm "$MODEMTERM" --port "$ART/no-such-device"
app=$!
e2e_wait "the first window" e2e_found "$app" '.+'
warning=$(e2e_window "$app" "Ostrzeżenie")
[ "$FOUND" = "$warning" ] || e2e_fail "first windows $FOUND, not the warning $warning alone"
e2e_focus "$warning"
e2e_key Return
e2e_quit "$app" "$(e2e_window "$app" Terminal)"
