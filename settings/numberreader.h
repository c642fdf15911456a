// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>
#include <QtGlobal>

#include <optional>

// Reads typed text as a number the way the forms runtime's numeric reading does:
// blanks, tabs and line feeds are ignored wherever they stand; a leading sign;
// '.' is the decimal point whatever the locale; an E or D exponent; &H and &O
// introduce hexadecimal and octal numbers. Reading stops at the first character
// that cannot continue the number, and text that starts with none reads as 0.
// This is the only parser of user-typed text in the program: it must accept any
// text, of any length, in linear time.
namespace NumberReader {

// The number at the start of `text`. Never NaN; may be infinite when an exponent
// is too large for a double.
double read(QStringView text);

// read() rounded to a whole number, an exact half going to the even neighbour,
// if that fits an unsigned byte; nothing otherwise.
std::optional<quint8> readByte(QStringView text);

} // namespace NumberReader
