#!/usr/bin/env bash
# modemterm on modemsim through a real pseudo-terminal and the Qt Serial Port
# code: the greeting goes out exactly once, a typed line goes out as typed,
# the answer shows in the text area, "Modemu" sends AT&V, and "Wyjdź" ends the
# program with status 0 and frees the port for the next program at once.
#
# A tap between the two (ptytap) records every byte on the wire.
source "$(dirname "$0")/lib.sh"
e2e_init

e2e_start modemsim "$MODEMSIM"
modemsim_log=$ART/modemsim.log
sim_ready() { head -n1 "$modemsim_log" 2>/dev/null | grep -q '^/dev/'; }
e2e_wait "modemsim to print its terminal" sim_ready
device=$(head -n1 "$modemsim_log")
e2e_log "modemsim serves $device"

port=$ART/modem
wire=$ART/wire
e2e_start ptytap "$PTYTAP" "$device" "$port" "$wire"
e2e_wait "the tap's port $port" test -L "$port"

sent() { cat "$wire.out" 2>/dev/null; }
received() { cat "$wire.in" 2>/dev/null; }
# Shows bytes with C escapes, for messages.
shown() { printf '%s' "$1" | od -An -c | tr -s ' \n' ' '; }

# sent_is BYTES: whether the terminal has sent exactly BYTES so far.
sent_is() {
    local now
    now=$(sent; printf x)
    now=${now%x}
    [ "$now" = "$1" ] || { E2E_WHY="sent so far: $(shown "$now")"; return 1; }
}
# received_count NEEDLE N: whether NEEDLE came from the modem N times or more
# (NEEDLE holds no line feed: grep reads lines).
received_count() {
    local n
    n=$(received | grep -a -o -F -- "$1" | wc -l)
    [ "$n" -ge "$2" ] || { E2E_WHY="\"$1\" received $n times"; return 1; }
}

e2e_start modemterm "$MODEMTERM" --port "$port"
app=$E2E_LAST_PID
win=$(e2e_window "$app" Terminal)
e2e_log "window \"Terminal\" is up"

# The greeting: the modem answers it, and by then exactly "AT" CR went out.
e2e_wait "the modem's OK to the greeting" received_count $'OK\r' 1
e2e_wait "exactly AT and a carriage return sent" sent_is $'AT\r'
e2e_shot greeted

e2e_focus "$win"
before=$(received | wc -c)
e2e_type "ATI"
e2e_key Return
e2e_wait "ATI and a carriage return sent in addition" sent_is $'AT\rATI\r'
e2e_wait "the modem's answer to ATI" received_count $'OK\r' 2

# What the modem sent after the typed line, with its line endings as the
# text area shows them, must be the end of the text area's contents.
answer=$(received | tail -c +$((before + 1)) | perl -0777 -pe 's/\r\n|\r|\n/\n/g'; printf x)
answer=${answer%x}
e2e_log "ATI answer: $(printf '%s' "$answer" | tr '\n' '|')"
transcript_ends_with_answer() {
    e2e_clear_clipboard
    e2e_key ctrl+a ctrl+c
    local text
    text=$(e2e_clipboard; printf x)
    text=${text%x}
    printf '%s' "$text" >"$ART/transcript.txt"
    [[ "$text" == *"$answer" ]] || { E2E_WHY="text area ends: $(shown "${text: -80}")"; return 1; }
}
e2e_wait "the answer in the text area (read through the clipboard)" transcript_ends_with_answer
e2e_shot answered

# Ustawienia > Modemu asks the modem for its settings: "AT&V" CR, nothing more.
e2e_key alt+u
e2e_menu_open "$app"
e2e_key Down Return
e2e_wait "AT&V and a carriage return sent in addition" sent_is $'AT\rATI\rAT&V\r'
e2e_wait "the modem's settings listing" received_count $'OK\r' 3
e2e_shot settings-listed

# Plik > Wyjdź by keyboard.
e2e_key alt+p
e2e_key w
e2e_exit_status "$app" 20
[ "$E2E_STATUS" -eq 0 ] || e2e_fail "modemterm ended with status $E2E_STATUS after Wyjdź"
e2e_log "Wyjdź: modemterm ended with status 0"
# Nothing else was sent: the keys of the copy stayed in the unsent line.
sent_is $'AT\rATI\rAT&V\r' || e2e_fail "bytes sent after the listing: $E2E_WHY"

# The port is free at once: a second terminal opens it without a warning and
# greets the modem.
e2e_start modemterm2 "$MODEMTERM" --port "$port"
app2=$E2E_LAST_PID
win2=$(e2e_window "$app2" Terminal)
[ -z "$(e2e_windows "$app2" "Ostrzeżenie")" ] || e2e_fail "the second terminal could not open the port"
e2e_wait "the second terminal's greeting" sent_is $'AT\rATI\rAT&V\rAT\r'
e2e_shot second-terminal
e2e_focus "$win2"
e2e_key alt+p
e2e_key w
e2e_exit_status "$app2" 20
[ "$E2E_STATUS" -eq 0 ] || e2e_fail "the second modemterm ended with status $E2E_STATUS"
