// SPDX-License-Identifier: MIT
#include "keybytes.h"

#include "codepage.h"

#include <QKeyEvent>

namespace KeyBytes {

namespace {

// Qt hands over the text of Ctrl combinations differently on X11, Windows and
// off screen, so these codes are worked out from the key itself.
QByteArray controlCode(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return QByteArray(1, char(key - Qt::Key_A + 1));
    switch (key) {
    case Qt::Key_BracketLeft:
        return QByteArray(1, '\x1b');
    case Qt::Key_Backslash:
        return QByteArray(1, '\x1c');
    case Qt::Key_BracketRight:
        return QByteArray(1, '\x1d');
    default:
        return {};
    }
}

} // namespace

QByteArray fromText(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const char32_t cp : text.toUcs4()) {
        if (cp < 0x20 || cp == 0x7f)
            continue; // control characters come only from the named keys
        bytes.append(cp > 0xffff ? '?' : CodePage::fromUnicode(QChar(char16_t(cp))));
    }
    return bytes;
}

QByteArray fromKeyEvent(const QKeyEvent &event)
{
    switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return QByteArray(1, '\r');
    case Qt::Key_Backspace:
        return QByteArray(1, '\b');
    case Qt::Key_Escape:
        return QByteArray(1, '\x1b');
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return {}; // it moves the focus; Ctrl+I is the tab character
    default:
        break;
    }

    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool ctrl = mods.testFlag(Qt::ControlModifier);
    const bool alt = mods.testFlag(Qt::AltModifier);
    // Ctrl+Alt is how Windows reports AltGr, which types ordinary characters.
    if (ctrl && !alt)
        return controlCode(event.key());
    if (alt && !ctrl)
        return {};
    return fromText(event.text());
}

} // namespace KeyBytes
