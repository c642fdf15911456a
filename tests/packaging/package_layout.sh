#!/usr/bin/env bash
# Builds the Debian package from the build folder, unpacks it into a scratch
# root and checks what a user gets: the files, their kinds, the control data,
# and that the packaged programs and documents actually work.
# Usage: package_layout.sh BUILD_DIR WORK_DIR VERSION
set -euo pipefail

build=$1
work=$2
version=$3

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps file gzip; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (Debian packages dpkg-dev, file)"
        exit 77
    fi
done

failures=0
checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    checks=$((checks + 1))
    if ! "$@" >/dev/null 2>&1; then
        fail "$what"
    fi
}

rm -rf "$work"
mkdir -p "$work"
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack -G DEB"
    exit 1
fi

shopt -s nullglob
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    echo "FAIL: expected one .deb in $work/out, found ${#debs[@]}"
    exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
checks=$((checks + 1))
[ "$(basename "$deb")" = "modemterm_${version}_${arch}.deb" ] ||
    fail "package file name $(basename "$deb")"

# --- control data -----------------------------------------------------------
dpkg-deb -I "$deb" >"$work/control.txt"
field() { dpkg-deb -f "$deb" "$1"; }
checks=$((checks + 6))
[ "$(field Package)" = modemterm ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = comm ] || fail "Section: $(field Section)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
desc=$(field Description)
[[ "$desc" == "serial terminal for talking to a modem"$'\n'* ]] || fail "Description synopsis: $desc"

# Depends: the libraries dpkg-shlibdeps found, plus the font. Every entry a
# runtime package, never a development one.
depends=$(field Depends)
echo "Depends: $depends"
depends_names=$(sed 's/, */\n/g' <<<"$depends" | sed 's/ *(.*//; s/:any$//')
for pkg in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 \
           fonts-liberation fonts-symbola; do
    checks=$((checks + 1))
    grep -qxF -- "$pkg" <<<"$depends_names" || fail "Depends lacks $pkg"
done
checks=$((checks + 1))
if grep -Eq -- '-dev( |,|$)' <<<"$depends"; then fail "Depends names a -dev package"; fi
checks=$((checks + 1))
grep -Eq 'libqt6core6(t64)? \(>= 6' <<<"$depends" || fail "Depends has no Qt version bound"

# --- files ------------------------------------------------------------------
root=$work/root
dpkg -x "$deb" "$root"
expected=(
    usr/bin/modemsim
    usr/bin/modemterm
    usr/share/applications/modemterm.desktop
    usr/share/icons/hicolor/scalable/apps/modemterm.svg
    usr/share/man/man1/modemsim.1.gz
    usr/share/man/man1/modemterm.1.gz
)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
checks=$((checks + 1))
if [ "$actual" != "$(printf '%s\n' "${expected[@]}")" ]; then
    fail "package contents differ from the expected layout"
    diff <(printf '%s\n' "${expected[@]}") <(echo "$actual") || true
fi

for bin in modemterm modemsim; do
    f=$root/usr/bin/$bin
    check "$bin is executable" test -x "$f"
    checks=$((checks + 1))
    kind=$(file -b "$f")
    [[ "$kind" == ELF*executable* && "$kind" == *", stripped"* ]] ||
        fail "$bin is not a stripped ELF executable: $kind"
done
# The packaged programs run against the system's Qt.
checks=$((checks + 1))
out=$(QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/modemterm" --version 2>&1) ||
    fail "packaged modemterm --version failed: $out"
[[ "$out" == *"$version"* ]] || fail "modemterm --version does not name $version: $out"
checks=$((checks + 1))
out=$(timeout 20 "$root/usr/bin/modemsim" --help 2>&1) || fail "packaged modemsim --help failed: $out"

desktop=$root/usr/share/applications/modemterm.desktop
if command -v desktop-file-validate >/dev/null; then
    checks=$((checks + 1))
    # Hints count too: an entry listed in two menus is a fault for us.
    msgs=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $msgs"
    [ -z "$msgs" ] || fail "desktop-file-validate: $msgs"
else
    echo "note: desktop-file-validate missing, desktop file checked by hand only"
fi
entry() { sed -n "/^\[Desktop Entry\]/,/^\[/{s/^$1=//p}" "$desktop"; }
checks=$((checks + 5))
[ "$(entry Exec)" = modemterm ] || fail "Exec=$(entry Exec)"
[ "$(entry Icon)" = modemterm ] || fail "Icon=$(entry Icon) does not name the packaged icon"
[ "$(entry Name)" = "Terminal modemu" ] || fail "Name=$(entry Name)"
[ -n "$(entry Comment)" ] || fail "no Comment"
[[ ";$(entry Categories)" == *";System;"* ]] || fail "Categories=$(entry Categories)"

icon=$root/usr/share/icons/hicolor/scalable/apps/modemterm.svg
checks=$((checks + 1))
[[ "$(file -b "$icon")" == *SVG* ]] || fail "icon is not an SVG: $(file -b "$icon")"
if command -v convert >/dev/null; then
    check "icon renders" convert "$icon" "$work/icon.png"
fi

for page in modemterm modemsim; do
    gz=$root/usr/share/man/man1/$page.1.gz
    check "$page.1.gz is valid gzip" gzip -t "$gz"
    if command -v man >/dev/null; then
        checks=$((checks + 1))
        text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>"$work/man-$page.err") ||
            fail "man $page failed"
        [ ! -s "$work/man-$page.err" ] || fail "man $page warns: $(cat "$work/man-$page.err")"
        [[ "$text" == *"$version"* ]] || fail "man $page does not name version $version"
    fi
done
if command -v man >/dev/null; then
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/modemterm.1.gz")
    for needle in "--port NAME" "Plik" "About" "Wyjdź" "Ustawienia" "Portu" "Modemu" \
                  "Ustawieni Portu" "Zły zakres wartości" "/dev/ttyS"; do
        checks=$((checks + 1))
        grep -qF -- "$needle" <<<"$text" || fail "modemterm(1) does not mention \"$needle\""
    done
fi

echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB"
echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
