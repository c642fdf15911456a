#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package, unpacks it into a scratch root and checks what a
# user gets: the files and their kinds, the control data, the licence, that
# the packaged programs and documents work, and that lintian finds no error.
# Usage: package_layout.sh BUILD_DIR WORK_DIR VERSION
set -euo pipefail
build=$1 work=$2 version=$3

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps file gzip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (Debian packages dpkg-dev, file)"; exit 77; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { "${@:2}" >/dev/null 2>&1 || fail "$1"; } # DESCRIPTION COMMAND...
expect() { [ "$2" = "$3" ] || fail "$1 is \"$2\", expected \"$3\""; } # WHAT ACTUAL EXPECTED

rm -rf "$work"
mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack -G DEB"; exit 1; }
shopt -s nullglob
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: expected one .deb in $work/out, found ${#debs[@]}"; exit 1; }
deb=${debs[0]}
arch=$(dpkg --print-architecture)
expect "package file name" "$(basename "$deb")" "modemterm_${version}_${arch}.deb"

# --- control data -----------------------------------------------------------
dpkg-deb -I "$deb" >"$work/control.txt"
field() { dpkg-deb -f "$deb" "$1"; }
for kv in Package=modemterm Version="$version" Architecture="$arch" Section=comm; do
    expect "${kv%%=*}" "$(field "${kv%%=*}")" "${kv#*=}"
done
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[[ "$(field Description)" == "serial terminal for talking to a modem"$'\n'* ]] ||
    fail "Description synopsis: $(field Description)"
# Depends: what dpkg-shlibdeps found plus the fonts; runtime packages only.
depends=$(field Depends)
echo "Depends: $depends"
names=$(sed 's/, */\n/g' <<<"$depends" | sed 's/ *(.*//; s/:any$//')
for pkg in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 \
           fonts-liberation fonts-symbola; do
    grep -qxF -- "$pkg" <<<"$names" || fail "Depends lacks $pkg"
done
! grep -Eq -- '-dev( |,|$)' <<<"$depends" || fail "Depends names a -dev package"
grep -Eq 'libqt6core6(t64)? \(>= 6' <<<"$depends" || fail "Depends has no Qt version bound"

# --- files ------------------------------------------------------------------
root=$work/root
dpkg -x "$deb" "$root"
expected="usr/bin/modemsim
usr/bin/modemterm
usr/share/applications/modemterm.desktop
usr/share/doc/modemterm/changelog.gz
usr/share/doc/modemterm/copyright
usr/share/icons/hicolor/scalable/apps/modemterm.svg
usr/share/man/man1/modemsim.1.gz
usr/share/man/man1/modemterm.1.gz"
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] ||
    { fail "package contents differ from the expected layout"; diff <(echo "$expected") <(echo "$actual") || true; }
for bin in modemterm modemsim; do
    kind=$(file -b "$root/usr/bin/$bin")
    check "$bin is executable" test -x "$root/usr/bin/$bin"
    [[ "$kind" == ELF*executable* && "$kind" == *", stripped"* ]] || fail "$bin is not a stripped ELF executable: $kind"
done
# The packaged programs run against the system's Qt.
out=$(QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/modemterm" --version 2>&1) ||
    fail "packaged modemterm --version failed: $out"
[[ "$out" == *"$version"* ]] || fail "modemterm --version does not name $version: $out"
out=$(timeout 20 "$root/usr/bin/modemsim" --help 2>&1) || fail "packaged modemsim --help failed: $out"

desktop=$root/usr/share/applications/modemterm.desktop
if command -v desktop-file-validate >/dev/null; then
    # Hints count too: an entry listed in two menus is a fault for us.
    msgs=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$msgs" ] || fail "desktop-file-validate: $msgs"
else
    echo "note: desktop-file-validate missing, desktop file checked by hand only"
fi
entry() { sed -n "/^\[Desktop Entry\]/,/^\[/{s/^$1=//p}" "$desktop"; }
expect Exec "$(entry Exec)" modemterm
expect "Icon (the packaged icon)" "$(entry Icon)" modemterm
expect Name "$(entry Name)" "Terminal modemu"
[ -n "$(entry Comment)" ] || fail "no Comment"
[[ ";$(entry Categories)" == *";System;"* ]] || fail "Categories=$(entry Categories)"

icon=$root/usr/share/icons/hicolor/scalable/apps/modemterm.svg
[[ "$(file -b "$icon")" == *SVG* ]] || fail "icon is not an SVG: $(file -b "$icon")"
! command -v convert >/dev/null || check "icon renders" convert "$icon" "$work/icon.png"

for page in modemterm modemsim; do
    gz=$root/usr/share/man/man1/$page.1.gz
    check "$page.1.gz is valid gzip" gzip -t "$gz"
    command -v man >/dev/null || continue
    text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" 2>"$work/man-$page.err") || fail "man $page failed"
    [ ! -s "$work/man-$page.err" ] || fail "man $page warns: $(cat "$work/man-$page.err")"
    [[ "$text" == *"$version"* ]] || fail "man $page does not name version $version"
done
if command -v man >/dev/null; then
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$root/usr/share/man/man1/modemterm.1.gz")
    for needle in "--port NAME" "Plik" "About" "Wyjdź" "Ustawienia" "Portu" "Modemu" \
                  "Ustawieni Portu" "Zły zakres wartości" "/dev/ttyS"; do
        grep -qF -- "$needle" <<<"$text" || fail "modemterm(1) does not mention \"$needle\""
    done
fi

# The licence in Debian's machine-readable format, MIT for every file.
copyright=$root/usr/share/doc/modemterm/copyright
[ "$(head -n1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "copyright is not in the machine-readable format"
for line in "Files: *" "Copyright: 2026 modemterm developers" "License: MIT"; do
    grep -qxF "$line" "$copyright" || fail "copyright lacks \"$line\""
done
grep -q "Permission is hereby granted, free of charge" "$copyright" || fail "copyright lacks the MIT licence text"
if command -v lintian >/dev/null; then
    lintian --allow-root "$deb" >"$work/lintian.txt" 2>&1 || true
    ! grep '^E:' "$work/lintian.txt" || fail "lintian reports errors (all of it in $work/lintian.txt)"
else
    echo "note: lintian missing, the package's policy checks skipped (Debian package lintian)"
fi

echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB; $failures failed"
[ "$failures" -eq 0 ]
