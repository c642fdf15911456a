#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package, unpacks it into a scratch root and checks what a
# user gets: the files and their kinds, the control data, the licence, that
# the packaged programs and documents work, and that lintian finds no error.
# Usage: package_layout.sh BUILD_DIR WORK_DIR VERSION
set -euo pipefail
build=$1 work=$2 version=$3

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (Debian package dpkg-dev)"; exit 77; }
done
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { "${@:2}" >/dev/null 2>&1 || fail "$1"; } # DESCRIPTION COMMAND...
matches() { [[ "$2" == $3 ]] || fail "$1 is \"$2\", expected \"$3\""; } # WHAT ACTUAL GLOB-PATTERN
# Whether an optional checker is installed; its checks are skipped with a note if not.
have() { command -v "$1" >/dev/null || { echo "note: $1 missing, its checks skipped"; false; }; }

rm -rf "$work" && mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack -G DEB"; exit 1; }
arch=$(dpkg --print-architecture)
deb=$work/out/modemterm_${version}_$arch.deb
[ "$(echo "$work"/out/*.deb)" = "$deb" ] || { echo "FAIL: expected just $deb, found: $(ls "$work/out")"; exit 1; }

# --- control data -----------------------------------------------------------
# (Package, Version and Architecture are in the file's name, checked above.)
# Depends: what dpkg-shlibdeps found plus the fonts; runtime packages only.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(sed 's/, */\n/g' <<<"$depends" | sed 's/ *(.*//; s/:any$//')
for pkg in fonts-liberation fonts-symbola qt6-translations-l10n; do
    grep -qxF -- "$pkg" <<<"$names" || fail "Depends lacks $pkg: $depends"
done
! grep -Eq -- '-dev( |,|$)' <<<"$depends" || fail "Depends names a -dev package: $depends"
grep -Eq 'libqt6core6(t64)? \(>= 6' <<<"$depends" || fail "Depends has no Qt version bound: $depends"
[ "$(dpkg-deb -f "$deb" Recommends)" = lrzsz ] || fail "Recommends is not lrzsz: $(dpkg-deb -f "$deb" Recommends)"

# --- files ------------------------------------------------------------------
root=$work/root
dpkg -x "$deb" "$root"
expected=$(printf 'usr/%s\n' bin/modemsim bin/modemterm share/applications/modemterm.desktop \
    share/doc/modemterm/changelog.gz share/doc/modemterm/copyright share/icons/hicolor/scalable/apps/modemterm.svg \
    share/man/man1/modemsim.1.gz share/man/man1/modemterm.1.gz)
actual=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$expected" ] ||
    { fail "package contents differ from the expected layout"; diff <(echo "$expected") <(echo "$actual") || true; }
# Stripped: lintian's unstripped-binary-or-object. The packaged programs run
# against the system's Qt.
for bin in modemterm modemsim; do
    out=$(QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/$bin" --version 2>&1) && [[ "$out" == *"$version"* ]] ||
        fail "packaged $bin --version does not run or name $version: $out"
done

desktop=$root/usr/share/applications/modemterm.desktop
if have desktop-file-validate; then
    # Hints count too: an entry listed in two menus is a fault for us.
    msgs=$(desktop-file-validate "$desktop" 2>&1) && [ -z "$msgs" ] || fail "desktop-file-validate: $msgs"
fi
# The packaged program and icon (the rest of the entry: desktop-file-validate).
for kv in Exec=modemterm Icon=modemterm; do
    matches "desktop entry ${kv%%=*}" "$(sed -n "/^\[Desktop Entry\]/,/^\[/{s/^${kv%%=*}=//p}" "$desktop")" "${kv#*=}"
done

! have convert || check "icon renders" convert "$root/usr/share/icons/hicolor/scalable/apps/modemterm.svg" "$work/icon.png"

# The manual pages: no warnings from man (which reads the gzip), the version named.
for page in modemterm modemsim; do
    gz=$root/usr/share/man/man1/$page.1.gz
    have man || continue
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$gz" >/dev/null 2>"$work/man-$page.err" || fail "man $page failed"
    [ ! -s "$work/man-$page.err" ] || fail "man $page warns: $(cat "$work/man-$page.err")"
    grep -qF -- "$version" <<<"$(LC_ALL=C.UTF-8 man -l "$gz")" || fail "$page(1) does not name version $version"
done

# The licence in Debian's machine-readable format, MIT for every file.
copyright=$root/usr/share/doc/modemterm/copyright
[ "$(head -n1 "$copyright")" = "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ] ||
    fail "copyright is not in the machine-readable format"
grep -qxF "License: MIT" "$copyright" || fail "copyright lacks \"License: MIT\""
if have lintian; then
    lintian --allow-root "$deb" >"$work/lintian.txt" 2>&1 || true
    ! grep '^E:' "$work/lintian.txt" || fail "lintian reports errors (all of it in $work/lintian.txt)"
fi

echo "package: $(basename "$deb"), $(du -k "$deb" | cut -f1) KiB; $failures failed"
[ "$failures" -eq 0 ]
