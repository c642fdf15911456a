// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

class QKeyEvent;

// The bytes a key press sends, as the terminal collects them for the port:
// a character key gives its Windows-1250 byte ('?' when the code page has no
// such character), Enter 13, Backspace 8, Escape 27, and Ctrl with a letter
// 1 to 26 (Ctrl+I is the tab, 9; Ctrl+[ \ ] 27 to 29). Keys without a
// character (arrows, function keys, modifiers alone, Tab, which moves the
// focus, Alt combinations meant for the menus) give nothing.
namespace KeyBytes {

QByteArray fromKeyEvent(const QKeyEvent &event);
// Text an input method commits, one byte a character.
QByteArray fromText(QStringView text);

} // namespace KeyBytes
