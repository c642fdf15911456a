#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The menus by keyboard, as a person without a mouse uses them: Alt+P, "About"
# shows its box; Alt+U, "Portu" shows "Ustawieni Portu", where 100 typed into
# the field is refused with a warning and "Anuluj" closes the dialog.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_terminal modemterm "$MODEMTERM" --port sim
e2e_focus "$WIN"

# Plik > About ("&About").
e2e_choose "$APP" alt+p plik a
about=$(e2e_window "$APP" About)
e2e_shot about
e2e_a11y_expect "$APP" About "alert message | About | " "~label \| Solvane[\\]n.*modemterm.* \| "
e2e_dismiss "$APP" About "$about"

# Ustawienia > Portu: no access key, but the first item is highlighted when
# the menu opens from the keyboard.
e2e_focus "$WIN"
e2e_choose "$APP" alt+u ustawienia Return
dialog=$(e2e_window "$APP" "Ustawieni Portu")
e2e_focus "$dialog"
e2e_geometry "$dialog"
[ "$GW,$GH" = "$(e2e_px 6615),$(e2e_px 4050)" ] || e2e_fail "the dialog is ${GW}x$GH, expected 441x270"
[ -z "$(e2e_windows "$APP" "Ostrzeżenie")" ] || e2e_fail "a warning came with the dialog"
e2e_shot dialog
e2e_a11y_expect "$APP" "Ustawieni Portu" "dialog | Ustawieni Portu | " "panel | Frame1 | " \
    "radio button | COM 1 | " "radio button | COM 2 | " "radio button | COM 3 | " \
    "radio button | COM 4 | " "radio button | COM | " "~text \| [^|]+ \| .*" \
    "push button | Zapisz | " "push button | Zastosuj | " "push button | Anuluj | "

# The field beside "COM" (in the frame: 120 + 840, 120 + 1920 twips, 375
# square): replace its "5" by 100, only the third key warns. Whether the field
# shows selected text tells when the keys so far have been handled.
fx=$((GX + $(e2e_px $((120 + 840))))) fy=$((GY + $(e2e_px $((120 + 1920))))) fs=$(e2e_px 375)
selection() { e2e_snap && [ "$(e2e_count "$SHOT" "$fx" "$fy" "$fs" "$fs" 308CC6)" "$1" 0 ]; } # -gt: shown, -eq: none
e2e_click $((fx + fs / 2)) $((fy + fs / 2))
e2e_key ctrl+a
e2e_wait "the field's 5 selected" selection -gt
e2e_type "10"
e2e_wait "the 5 replaced" selection -eq
e2e_key shift+Home
e2e_wait "the typed 10 selected" selection -gt
e2e_keep typed-10
[ -z "$(e2e_windows "$APP" "Ostrzeżenie")" ] || e2e_fail "1 or 10 gave a warning"
e2e_key End
e2e_type "0"
warning=$(e2e_window "$APP" "Ostrzeżenie")
e2e_shot range-warning
[ "$(e2e_windows "$APP" "Ostrzeżenie" | wc -l)" -eq 1 ] || e2e_fail "several warning boxes for one number out of range"
e2e_a11y_expect "$APP" "Ostrzeżenie" "alert message | Ostrzeżenie | " "label | Zły zakres wartości | "
e2e_dismiss "$APP" "Ostrzeżenie" "$warning"
[ -n "$(e2e_windows "$APP" "Ustawieni Portu")" ] || e2e_fail "the dialog closed with the warning"

# Anuluj by mouse: 4800, 3360 twips, 1455 x 495.
e2e_focus "$dialog"
e2e_click $((GX + $(e2e_px $((4800 + 727))))) $((GY + $(e2e_px $((3360 + 247)))))
e2e_gone "$APP" "Ustawieni Portu"
# The terminal takes input again.
e2e_focus "$WIN"
e2e_shot after-dialog
kill -0 "$APP" || e2e_fail "modemterm ended"
