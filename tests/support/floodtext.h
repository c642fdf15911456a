// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

// Flood text for the tests and the benchmark: numbered lines that all differ,
// so a lost, doubled or reordered line shows. Line n is 80 printable
// characters (n in ten digits, a blank, filler from all of ASCII that shifts
// with n) and CR LF; in an endless line two letters stand for the CR LF. No
// line ends in "ATI", so a typed "ATI" and Enter can be told from the flood.
class FloodText
{
public:
    static constexpr qsizetype LineBytes = 82;

    bool endless = false;

    // Lines [first, first + count) as the device sends them.
    QByteArray lines(qint64 first, qint64 count) const
    {
        QByteArray out(count * LineBytes, Qt::Uninitialized);
        for (char *line = out.data(); count--; line += LineBytes, ++first) {
            const int row = int(first % 95);
            for (qint64 i = 9, digits = first; i >= 0; --i, digits /= 10)
                line[i] = char('0' + digits % 10);
            line[10] = ' ';
            // Filler character i of line n is ' ' + (31 n + 7 i) mod 95.
            for (int i = 11, c = (31 * row + 77) % 95; i < LineBytes - 2; ++i, c = c < 88 ? c + 7 : c - 88)
                line[i] = char(' ' + c);
            line[LineBytes - 2] = endless ? char('a' + row % 26) : '\r';
            line[LineBytes - 1] = endless ? char('A' + row % 26) : '\n';
        }
        return out;
    }
    // Line n as the transcript shows it, with its line break.
    QString shown(qint64 n) const { return QString::fromLatin1(lines(n, 1)).remove(u'\r'); }
};
