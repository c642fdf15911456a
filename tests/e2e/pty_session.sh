#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# modemterm on modemsim through a real pseudo-terminal, with ptytap between
# them recording every byte: the greeting goes out exactly once, a typed line
# goes out as typed, the answer shows in the text area, and "Wyjdź" ends with
# status 0 (the port freed with it: tst_startup).
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemsim "$MODEMSIM"
e2e_wait "modemsim to print its terminal" grep -q '^/dev/' "$ART/modemsim.log"
port=$ART/modem wire=$ART/wire
e2e_start ptytap "$PTYTAP" "$(head -n1 "$ART/modemsim.log")" "$port" 3>"$wire.out" 4>"$wire.in"
e2e_wait "the tap's port $port" test -L "$port"

received() { cat "$wire.in" 2>/dev/null; }
# (What went each way is kept in wire.out and wire.in.)
sent_is() { # BYTES: whether exactly BYTES went out so far
    [ "$(cat "$wire.out"; printf x)" = "$1"x ]
}
received_count() { # NEEDLE N: whether NEEDLE (no line feed) came N times or more
    [ "$(received | grep -a -o -F -- "$1" | wc -l)" -ge "$2" ]
}

e2e_terminal modemterm "$MODEMTERM" --port "$port"
e2e_wait "the modem's OK to the greeting" received_count $'OK\r' 1

e2e_focus "$WIN"
before=$(received | wc -c)
xdotool type --clearmodifiers --delay 40 ATI
e2e_key Return
e2e_wait "the modem's answer to ATI" received_count $'OK\r' 2
# The text area, read through the clipboard, ends with what the modem sent
# since, line endings as the text area shows them.
answer=$(received | tail -c +$((before + 1)) | perl -0777 -pe 's/\r\n|\r|\n/\n/g'; printf x)
transcript_ends_with_answer() {
    printf '' | xclip -i -selection clipboard
    e2e_key ctrl+a ctrl+c
    local text=$(xclip -o -selection clipboard; printf x)
    [[ "${text%x}" == *"${answer%x}" ]] || { E2E_WHY="text area ends: ${text: -80}"; return 1; }
}
e2e_wait "the answer in the text area" transcript_ends_with_answer
# Ustawienia > Modemu (the second item) asks for the settings; all sent so
# far is the greeting, the typed line and that.
e2e_key alt+u
e2e_menu_open "$APP"
e2e_key Down Return
e2e_wait "AT&V and a carriage return sent in addition" sent_is $'AT\rATI\rAT&V\r'

e2e_quit "$APP" "$WIN"
# The keys of the copy stayed in the unsent line.
sent_is $'AT\rATI\rAT&V\r' || e2e_fail "bytes sent after Modemu"
