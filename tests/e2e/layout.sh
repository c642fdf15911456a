#!/usr/bin/env bash
# The layout on screen: at several window sizes, and on scaled screens
# (QT_SCALE_FACTOR 1.25, 1.5, 2), the text area starts 250 twips below the top
# of the client area and spans its whole width, the clock starts 800 twips
# before its right edge, and the line boxes keep their places. Everything is
# read from screenshots: 15 twips per logical pixel, times the scale factor
# in device pixels.
source "$(dirname "$0")/lib.sh"
e2e_init

luminance_below() { # prints the pixels of the area darker than $6 as "x y"
    e2e_region "$1" "$2" "$3" "$4" "$5" | awk -v limit="$6" '
        { r = ("0x" substr($3, 1, 2)) + 0; g = ("0x" substr($3, 3, 2)) + 0; b = ("0x" substr($3, 5, 2)) + 0 }
        { if (0.3 * r + 0.59 * g + 0.11 * b < limit) print $1, $2 }'
}
hex() { printf '%d' "0x$1"; }

# layout_holds WINDOW SCALE: whether the screen shows the layout for the
# window's present size. Sets E2E_WHY.
layout_holds() {
    local win=$1 s=$2 tol=1
    [ "$s" = 1 ] || tol=2
    e2e_geometry "$win"
    e2e_snap
    # The top of the client area, right under the menu bar: the top of the CD box.
    TOP=$(e2e_client_top "$SHOT" $((GX + $(e2e_px 787 "$s"))) "$GY" $((GY + $(e2e_px 1500 "$s"))))
    [ -n "$TOP" ] || { E2E_WHY="no indicator box"; return 1; }
    local cw=$GW ch=$((GY + GH - TOP))

    e2e_boxes_are "$SHOT" "$GX" "$TOP" "$s" G G G G G || return 1

    # Text1: left 0, top 250, width = client width. Find its frame going down
    # a column left of the first box, from the window background.
    local x=$((GX + $(e2e_px 150 "$s"))) bg edge
    bg=$(e2e_pixel "$SHOT" "$x" $((TOP + 1)))
    edge=$(e2e_region "$SHOT" "$x" "$TOP" 1 $(e2e_px 600 "$s") |
        awk -v bg="$bg" '$3 != bg { print $2; exit }')
    local want=$((TOP + $(e2e_px 250 "$s")))
    [ -n "$edge" ] && e2e_near "$edge" "$want" "$tol" ||
        { E2E_WHY="text area top at y=${edge:-none}, expected $want"; return 1; }
    # Its top frame line runs from the client's left edge to its right edge.
    local frame span
    frame=$(e2e_pixel "$SHOT" $((GX + cw / 2)) "$edge")
    span=$(e2e_region "$SHOT" "$GX" "$edge" "$cw" 1 |
        awk -v c="$frame" '$3 == c { if (l == "") l = $1; r = $1 } END { print l, r }')
    read -r l r <<<"$span"
    [ -n "$l" ] && [ "$l" -le $((GX + tol)) ] && [ "$r" -ge $((GX + cw - 1 - tol)) ] ||
        { E2E_WHY="text area spans x=${l:-?}-${r:-?}, expected $GX-$((GX + cw - 1))"; return 1; }
    # Its bottom lies below the client area: no background on the last row.
    [ "$(e2e_pixel "$SHOT" $((GX + cw / 2)) $((GY + GH - 1)))" != "$bg" ] ||
        { E2E_WHY="window background under the text area"; return 1; }

    # The clock: its text starts at client width - 800 twips (plus the first
    # glyph's bearing), on the indicator row.
    local clock_want clock_left
    clock_want=$((GX + cw - $(e2e_px 800 "$s")))
    clock_left=$(luminance_below "$SHOT" $((clock_want - $(e2e_px 450 "$s"))) "$TOP" \
                     $(( $(e2e_px 450 "$s") + 40 )) $(e2e_px 240 "$s") 110 |
                 sort -n | head -n1 | cut -d' ' -f1)
    [ -n "$clock_left" ] && [ "$clock_left" -ge $((clock_want - tol)) ] &&
        [ "$clock_left" -le $((clock_want + tol + $(e2e_px 45 "$s"))) ] ||
        { E2E_WHY="clock text starts at x=${clock_left:-none}, expected $clock_want"; return 1; }
    LAYOUT="client ${cw}x$ch, text area top $((edge - TOP)), clock at $((clock_left - GX))"
}

resize_to() { # resize_to WINDOW W H
    xdotool windowsize "$1" "$2" "$3"
    _resized() { e2e_geometry "$1"; [ "$GW" = "$2" ] && [ "$GH" = "$3" ]; }
    e2e_wait "the window at $2x$3" _resized "$@"
}

# --- unscaled, several sizes ------------------------------------------------
e2e_start modemterm "$MODEMTERM" --port sim
app=$E2E_LAST_PID
win=$(e2e_window "$app" Terminal)
e2e_wait "the first layout" layout_holds "$win" 1
e2e_keep "size-first"
e2e_log "$LAYOUT"
[ "$GW" -eq $(e2e_px 9285) ] || e2e_fail "client width $GW, expected $(e2e_px 9285)"
e2e_near $((GY + GH - TOP)) $(e2e_px 7290) 1 || e2e_fail "client height $((GY + GH - TOP)), expected $(e2e_px 7290)"

for size in 900x700 1200x900 640x260 1000x400 619x505; do
    resize_to "$win" "${size%x*}" "${size#*x}"
    e2e_wait "the layout at $size" layout_holds "$win" 1
    e2e_keep "size-$size"
    e2e_log "$LAYOUT"
done
kill -TERM "$app"
e2e_reap "$app" 10 || e2e_fail "modemterm did not end on SIGTERM"

# --- scaled screens -----------------------------------------------------------
for s in 1.25 1.5 2; do
    e2e_start "modemterm-x$s" env QT_SCALE_FACTOR="$s" "$MODEMTERM" --port sim
    app=$E2E_LAST_PID
    win=$(e2e_window "$app" Terminal)
    e2e_wait "the layout at scale $s" layout_holds "$win" "$s"
    e2e_keep "scale-$s"
    e2e_log "scale $s: $LAYOUT"
    # The client area keeps its proportions.
    e2e_near "$GW" "$(e2e_px 9285 "$s")" 2 || e2e_fail "scale $s: client width $GW, expected $(e2e_px 9285 "$s")"
    e2e_near $((GY + GH - TOP)) "$(e2e_px 7290 "$s")" 2 ||
        e2e_fail "scale $s: client height $((GY + GH - TOP)), expected $(e2e_px 7290 "$s")"
    if [ "$s" = 2 ]; then
        resize_to "$win" 1100 800
        e2e_wait "the layout at scale 2 after a resize" layout_holds "$win" 2
        e2e_keep "scale-2-resized"
        e2e_log "scale 2 resized: $LAYOUT"
    fi
    kill -TERM "$app"
    e2e_reap "$app" 10 || e2e_fail "modemterm did not end on SIGTERM"
done
