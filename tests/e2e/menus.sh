#!/usr/bin/env bash
# The menus by keyboard, the way a person without a mouse uses them: Alt+P
# opens "Plik" and "About" shows its box; Alt+U opens "Ustawienia" and "Portu"
# shows "Ustawieni Portu", where 100 typed into the field is refused with a
# warning and "Anuluj" closes the dialog.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemterm "$MODEMTERM" --port sim
app=$E2E_LAST_PID
win=$(e2e_window "$app" Terminal)
e2e_focus "$win"

# Plik > About ("&About": A selects it).
e2e_key alt+p
e2e_menu_open "$app"
e2e_shot plik
e2e_key a
about=$(e2e_window "$app" About)
e2e_shot about
E2E_A11Y_WINDOW=About e2e_a11y_expect "$app" about "alert message | About | " "~label \| Solvane[\\]n.*modemterm.* \| "
e2e_focus "$about"
e2e_key Return
e2e_gone "$app" About
e2e_log "About box shown and closed"

# Ustawienia > Portu: the first item, already highlighted when the menu opens
# from the keyboard ("Portu" has no access key).
e2e_focus "$win"
e2e_key alt+u
e2e_menu_open "$app"
e2e_shot ustawienia
e2e_key Return
dialog=$(e2e_window "$app" "Ustawieni Portu")
e2e_focus "$dialog"
e2e_geometry "$dialog"
e2e_log "dialog at $GX,$GY size ${GW}x$GH"
[ -z "$(e2e_windows "$app" "Ostrzeżenie")" ] || e2e_fail "a warning came with the dialog"
e2e_shot dialog
E2E_A11Y_WINDOW="Ustawieni Portu" e2e_a11y_expect "$app" dialog "dialog | Ustawieni Portu | " \
    "radio button | COM 1 | " "radio button | COM 2 | " "radio button | COM 3 | " \
    "radio button | COM 4 | " "radio button | COM | " "~text \| [^|]+ \| .*" \
    "push button | Zapisz | " "push button | Zastosuj | " "push button | Anuluj | "

# Into the field beside "COM" (inside the frame: 120 + 840, 120 + 1920 twips,
# 375 twips square), replace its "5" by 100: only the third key warns.
fx=$((GX + $(e2e_px $((120 + 840))))) fy=$((GY + $(e2e_px $((120 + 1920))))) fs=$(e2e_px 375)
# Whether the field shows selected text (the selection colour), which tells
# when the keys typed so far have been handled.
selection() {
    e2e_snap
    local n
    n=$(e2e_region "$SHOT" "$fx" "$fy" "$fs" "$fs" | awk '$3 == "308CC6" { n++ } END { print n + 0 }')
    if [ "$1" = shown ]; then [ "$n" -gt 0 ]; else [ "$n" -eq 0 ]; fi
}
e2e_click $((fx + fs / 2)) $((fy + fs / 2))
e2e_key ctrl+a
e2e_wait "the field's 5 selected" selection shown
e2e_type "10"
e2e_wait "the 5 replaced" selection none
e2e_key shift+Home
e2e_wait "the typed 10 selected" selection shown
e2e_keep typed-10
[ -z "$(e2e_windows "$app" "Ostrzeżenie")" ] || e2e_fail "1 or 10 gave a warning"
e2e_key End
e2e_type "0"
warning=$(e2e_window "$app" "Ostrzeżenie")
e2e_shot range-warning
count=$(e2e_windows "$app" "Ostrzeżenie" | wc -l)
[ "$count" -eq 1 ] || e2e_fail "$count warning boxes for one number out of range"
E2E_A11Y_WINDOW="Ostrzeżenie" e2e_a11y_expect "$app" range-warning "alert message | Ostrzeżenie | " "label | Zły zakres wartości | "
e2e_focus "$warning"
e2e_key Return
e2e_gone "$app" "Ostrzeżenie"
[ -n "$(e2e_windows "$app" "Ustawieni Portu")" ] || e2e_fail "the dialog closed with the warning"
e2e_log "100 refused with a warning; the dialog stays"

# Anuluj, by mouse: 4800, 3360 twips, 1455 x 495.
e2e_focus "$dialog"
e2e_click $((GX + $(e2e_px $((4800 + 727))))) $((GY + $(e2e_px $((3360 + 247)))))
e2e_gone "$app" "Ustawieni Portu"
e2e_log "Anuluj closed the dialog"

# The terminal takes input again.
e2e_focus "$win"
e2e_shot after-dialog
kill -0 "$app" || e2e_fail "modemterm ended"
