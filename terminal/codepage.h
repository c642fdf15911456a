// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QChar>
#include <QStringView>

// Bytes on the wire are Windows-1250 text, one byte a character. This is the
// only place that turns bytes into characters and back.
namespace CodePage {

QChar toUnicode(uchar byte);
// A character the code page cannot hold becomes '?'.
char fromUnicode(QChar ch);
QByteArray fromUnicode(QStringView text);

} // namespace CodePage
