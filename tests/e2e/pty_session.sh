#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# modemterm on modemsim through a real pseudo-terminal: the greeting goes out
# exactly once, a typed line goes out as typed and is answered, and "Wyjdź"
# ends with status 0 (the port freed with it: tst_startup; the answer shown in
# the text area: tst_window, copied by Ctrl+A Ctrl+C: tst_terminalview).
# What came in is modemterm's --log-raw; what went out, the modem's echo in it
# (in command mode every byte comes back, a command's CR just before its
# answer's CR LF).
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemsim "$MODEMSIM"
e2e_wait "modemsim to print its terminal" grep '^/dev/' "$ART/modemsim.log"
log=$ART/received

# sent_is LINES: whether exactly these command lines, each ending CR CR, came
# back (so far, as their answers began).
sent_is() {
    [ "$(grep -a $'\r\r$' "$log")" = "$1" ]
}

e2e_terminal modemterm "$MODEMTERM" --port "$(head -n1 "$ART/modemsim.log")" --log-raw "$log"
e2e_wait "the greeting AT and a carriage return sent" sent_is $'AT\r\r'

e2e_focus "$WIN"
xdotool type --clearmodifiers --delay 40 ATI
e2e_key Return
e2e_wait "ATI and a carriage return sent in addition" sent_is $'AT\r\r\nATI\r\r'
# Ustawienia > Modemu (the second item) asks for the settings; all sent so
# far is the greeting, the typed line and that.
e2e_key alt+u
e2e_menu_open "$APP"
e2e_key Down Return
e2e_wait "AT&V and a carriage return sent in addition" sent_is $'AT\r\r\nATI\r\r\nAT&V\r\r'

e2e_quit "$APP" "$WIN"
