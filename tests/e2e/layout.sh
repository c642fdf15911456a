#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layout on screen, at several window sizes and scale factors: the text
# area starts 250 twips below the client area's top and spans its width, the
# clock starts 800 twips before its right edge, the line boxes keep their
# places. All read from screenshots (15 twips per logical pixel).
source "$(dirname "$0")/lib.sh"
e2e_init

# layout_holds WINDOW SCALE: whether the screen shows the layout for the
# window's present size. Sets E2E_WHY.
layout_holds() {
    local win=$1 s=$2 tol=$(e2e_tol "$2")
    e2e_geometry "$win"
    e2e_find_top "$s" "$(e2e_px 1500 "$s")" || return 1
    local cw=$GW ch=$((GY + GH - TOP))
    e2e_boxes_are "$s" G R R R R || return 1

    # Text1's top frame: the first change from the background down a column
    # left of the first box; it runs the whole client width.
    local x=$((GX + $(e2e_px 150 "$s"))) bg edge want l r
    bg=$(e2e_pixel "$SHOT" "$x" $((TOP + 1)))
    edge=$(e2e_region "$SHOT" "$x" "$TOP" 1 "$(e2e_px 600 "$s")" | awk -v bg="$bg" '$3 != bg { print $2; exit }')
    want=$((TOP + $(e2e_px 250 "$s")))
    [ -n "$edge" ] && e2e_near "$edge" "$want" "$tol" ||
        { E2E_WHY="text area top at y=${edge:-none}, expected $want"; return 1; }
    read -r l r < <(e2e_region "$SHOT" "$GX" "$edge" "$cw" 1 | awk -v c="$(e2e_pixel "$SHOT" $((GX + cw / 2)) "$edge")" \
                        '$3 == c { if (l == "") l = $1; r = $1 } END { print l, r }')
    [ -n "$l" ] && [ "$l" -le $((GX + tol)) ] && [ "$r" -ge $((GX + cw - 1 - tol)) ] ||
        { E2E_WHY="text area spans x=${l:-?}-${r:-?}, expected $GX-$((GX + cw - 1))"; return 1; }
    # Its bottom lies below the client area: no background on the last row.
    [ "$(e2e_pixel "$SHOT" $((GX + cw / 2)) $((GY + GH - 1)))" != "$bg" ] ||
        { E2E_WHY="window background under the text area"; return 1; }

    # The clock's text (its dark pixels) starts at client width - 800 twips,
    # plus the first glyph's bearing, on the indicator row.
    local clock=$((GX + cw - $(e2e_px 800 "$s"))) clock_left
    clock_left=$(e2e_region "$SHOT" $((clock - $(e2e_px 450 "$s"))) "$TOP" \
                            $(( $(e2e_px 450 "$s") + 40 )) "$(e2e_px 240 "$s")" |
        awk '{ r = ("0x" substr($3, 1, 2)) + 0; g = ("0x" substr($3, 3, 2)) + 0; b = ("0x" substr($3, 5, 2)) + 0 }
             0.3 * r + 0.59 * g + 0.11 * b < 110 { print $1 }' | sort -n | head -n1)
    [ -n "$clock_left" ] && [ "$clock_left" -ge $((clock - tol)) ] &&
        [ "$clock_left" -le $((clock + tol + $(e2e_px 45 "$s"))) ] ||
        { E2E_WHY="clock text starts at x=${clock_left:-none}, expected $clock"; return 1; }
    LAYOUT="client ${cw}x$ch, text area top $((edge - TOP)), clock at $((clock_left - GX))"
}

_resized() { e2e_geometry "$1"; [ "$GW" = "$2" ] && [ "$GH" = "$3" ]; }

# Unscaled at several sizes; scaled, with the client area in proportion and
# one resize at 2.
declare -A resizes=([1]="900x700 1200x900 640x260 1000x400 619x505" [2]="1100x800")
for s in 1 1.25 1.5 2; do
    e2e_terminal "modemterm-x$s" env QT_SCALE_FACTOR="$s" "$MODEMTERM" --port sim
    e2e_wait "the layout at scale $s" layout_holds "$WIN" "$s"
    e2e_keep "scale-$s"
    e2e_log "scale $s: $LAYOUT"
    tol=$(e2e_tol "$s") wtol=$((tol == 1 ? 0 : 2)) # the width exact at scale 1
    e2e_near "$GW" "$(e2e_px 9285 "$s")" $wtol ||
        e2e_fail "scale $s: client width $GW, expected $(e2e_px 9285 "$s")"
    e2e_near $((GY + GH - TOP)) "$(e2e_px 7290 "$s")" $tol ||
        e2e_fail "scale $s: client height $((GY + GH - TOP)), expected $(e2e_px 7290 "$s")"
    for size in ${resizes[$s]:-}; do
        xdotool windowsize "$WIN" "${size%x*}" "${size#*x}"
        e2e_wait "the window at $size" _resized "$WIN" "${size%x*}" "${size#*x}"
        e2e_wait "the layout at scale $s, $size" layout_holds "$WIN" "$s"
        e2e_keep "scale-$s-$size"
        e2e_log "$LAYOUT"
    done
    kill -TERM "$APP"
    e2e_reap "$APP" 10 || e2e_fail "modemterm did not end on SIGTERM"
done
