#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layout on screen at the start and after resizing, read from screenshots
# (15 twips to a pixel): the client area starts at 9285 x 7290 twips, the line
# boxes keep their places and colours, the text area starts 250 twips below
# the client area's top and fills the rest of it, the clock's text starts 800
# twips before its right edge.
source "$(dirname "$0")/lib.sh"
e2e_init

# pixels X Y W H: "x y RRGGBB" for each pixel of that area of the screenshot,
# x counted from the window's left edge.
pixels() {
    convert "$ART/screen.png" -crop "$3x$4+$((X + $1))+$2" +repage -depth 8 txt:- | awk -v ox="$1" -v oy="$2" \
        -F'[,: ]+' '!/^#/ { print $1 + ox, $2 + oy, toupper(substr($0, index($0, "#") + 1, 6)) }'
}
# colour X Y: that pixel's colour.
colour() { pixels "$1" "$2" 1 1 | cut -d' ' -f3; }

# Sets SEEN to the layout on screen now, CLIENT to the client area's size.
seen() {
    # The window's X, Y, WIDTH and HEIGHT.
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    import -silent -window root "$ART/screen.png"
    # The client area's top: the CD box's first row below the menu bar.
    local top=$(pixels 52 "$Y" 1 100 | awk '$3 == "FF0000" || $3 == "00FF00" { print $2; exit }')
    [ -n "$top" ] || return 1
    CLIENT=${WIDTH}x$((Y + HEIGHT - top))
    # Along a row through the boxes: how many pixels in a row are pure red,
    # pure green or neither.
    local boxes=$(pixels 0 $((top + 8)) 420 1 | awk '{ print $3 == "FF0000" ? "R" : $3 == "00FF00" ? "G" : "-" }' |
        uniq -c | awk '{ printf " %d%s", $1, $2 }')
    # The text area's top frame: the first change from the background down a
    # column left of the boxes; the row it runs along.
    local bg=$(colour 10 "$top") text span clock
    text=$(pixels 10 "$top" 1 40 | awk -v bg="$bg" '$3 != bg { print $2; exit }')
    span=$(pixels 0 "${text:-$top}" "$WIDTH" 1 | awk -v c="$(colour $((WIDTH / 2)) "${text:-$top}")" \
        '$3 == c { if (l == "") l = $1; r = $1 } END { print l "-" r }')
    # The clock's text: its dark pixels (red below 0x70) on the boxes' rows.
    # (The first glyph's bearing may take up to 3 pixels.)
    clock=$(pixels $((WIDTH - 90)) "$top" 80 16 | awk -v w="$WIDTH" '$3 < "7" && (!m || $1 < m) { m = $1 }
        END { print (w - m > 53 || w - m < 50) ? w - m : 53 }')
    SEEN="boxes $(pixels 52 "$top" 1 40 | grep -cE 'FF0000|00FF00') high:$boxes; text area from y $((${text:-$top} - top)) across x $span"
    [ "$(colour $((WIDTH / 2)) $((Y + HEIGHT - 1)))" = "$bg" ] || SEEN+=" to the bottom"
    SEEN+="; clock $clock pixels from the right"
}
# layout_holds WIDTH: whether the window is WIDTH pixels wide and its layout holds.
layout_holds() {
    seen || return 1
    local want="boxes 17 high: 32- 41G 55- 33R 63- 25R 55- 25R 47- 25R 19-; text area from y 17 across x 0-$(($1 - 1))"
    want+=" to the bottom; clock 53 pixels from the right"
    [ "$SEEN" = "$want" ] || { E2E_WHY="seen: $SEEN"; return 1; }
}

e2e_terminal modemterm "$MODEMTERM" --port sim
e2e_wait "the layout at the start" layout_holds 619
[ "$CLIENT" = 619x486 ] || e2e_fail "client area $CLIENT at the start, expected 619x486"
for size in 1200x900 640x260; do
    xdotool windowsize "$WIN" "${size%x*}" "${size#*x}"
    e2e_wait "the layout at $size" layout_holds "${size%x*}"
done
