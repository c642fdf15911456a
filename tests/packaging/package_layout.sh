#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package, unpacks it into a scratch root and checks what a
# user gets: the files, the control data, the licence, that the packaged
# programs and documents work, and that lintian finds no error or warning. What is seen
# is written one fact a line and compared with what should be.
# Usage: package_layout.sh BUILD_DIR WORK_DIR VERSION
set -euo pipefail
build=$1 work=$2 version=$3
hash cpack dpkg-deb dpkg-shlibdeps lintian desktop-file-validate convert man ||
    { echo "SKIP: the tool named above is not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B out
deb=$(echo out/*.deb)
dpkg-deb -x "$deb" root

seen() {
    echo "$deb"
    # Depends: dpkg-shlibdeps' libraries, and by hand only runtime packages.
    dpkg-deb -f "$deb" Depends | sed 's/, */\n/g; s/ *(.*//' | awk '!/^lib/ || /-dev$/' | paste -sd' '
    dpkg-deb -f "$deb" Recommends
    (cd root && find . -type f -o -type l | LC_ALL=C sort)
    # Each program and its manual page tell the version.
    for program in modemterm modemsim; do
        QT_QPA_PLATFORM=offscreen timeout 20 "root/usr/bin/$program" --version 2>&1 | grep -m1 -cF "$version"
        LC_ALL=C.UTF-8 man -l "root/usr/share/man/man1/$program.1.gz" | grep -m1 -cF "$version"
    done
    grep '^Icon=' root/usr/share/applications/modemterm.desktop
    # Hints count too: an entry listed in two menus is a fault for us.
    desktop-file-validate root/usr/share/applications/modemterm.desktop 2>&1
    convert root/usr/share/icons/hicolor/scalable/apps/modemterm.svg icon.png 2>&1 && echo icon renders
    head -n1 root/usr/share/doc/modemterm/copyright
    grep -x "License: .*" root/usr/share/doc/modemterm/copyright | sort -u
    # Its warnings count too: they cover the manual pages' groff messages and
    # a desktop entry's command missing from the package.
    lintian --allow-root "$deb" 2>&1 | grep -E '^(E|W):' || :
}
expected() {
    echo "out/modemterm_${version}_$(dpkg --print-architecture).deb"
    echo fonts-liberation fonts-symbola qt6-translations-l10n
    echo lrzsz
    printf './usr/%s\n' bin/modemsim bin/modemterm share/applications/modemterm.desktop \
        share/doc/modemterm/changelog.gz share/doc/modemterm/copyright share/icons/hicolor/scalable/apps/modemterm.svg \
        share/man/man1/modemsim.1.gz share/man/man1/modemterm.1.gz
    printf '%s\n' 1 1 1 1 Icon=modemterm 'icon renders'
    echo "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
    echo "License: MIT"
}
diff <(expected) <(seen) || { echo "FAIL: the package differs (< expected, > seen)"; exit 1; }
