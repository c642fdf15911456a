// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QStringView>

// Bytes on the wire are Windows-1250 text, one byte a character. This is the
// only place that turns bytes into characters and back.
namespace CodePage {

QChar toUnicode(uchar byte);
// A character the code page cannot hold becomes '?'.
char fromUnicode(QChar ch);
QByteArray fromUnicode(QStringView text);

// The transcript keeps text one byte a character, each byte standing for the
// character it shows as: line feed is the line break, tab a tab, the other
// bytes 0 to 31 and 127 their control pictures (U+2400 onwards, U+2421), the
// bytes the code page leaves unassigned the replacement character U+FFFD and
// the soft hyphen a visible hyphen, so that no received byte is invisible.
QChar shownAs(uchar byte);
// The byte that shows as `ch`, or -1 if none does.
int byteShowing(QChar ch);
// One of the unassigned bytes that shows as nothing of its own: the
// transcript marks with it a character no byte shows, kept beside the text.
constexpr uchar keptBeside = 0x83;


} // namespace CodePage
