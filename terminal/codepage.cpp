// SPDX-License-Identifier: MIT
#include "codepage.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace {

// Bytes 0x80 to 0xFF. The five bytes the code page leaves unassigned (0x81,
// 0x83, 0x88, 0x90, 0x98) map to the C1 control of the same value, so every
// byte has a character and comes back unchanged.
constexpr char16_t upperHalf[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

struct Shown
{
    std::array<char16_t, 256> glyph{};
    std::array<uchar, 0x10000> byte{}; // a byte that may show as the character: glyph[byte[c]] == c
};

const Shown &shown()
{
    static const Shown table = [] {
        Shown t;
        for (int b = 0; b < 256; ++b) {
            char16_t c = b < 0x80 ? char16_t(b) : upperHalf[b - 0x80];
            if (b < 32 || b == 127)
                c = b == 127 ? u'\u2421' : char16_t(0x2400 + b);
            else if (QChar(c).category() == QChar::Other_Control)
                c = u'\uFFFD';
            t.glyph[size_t(b)] = c;
        }
        t.glyph['\t'] = u'\t';
        t.glyph['\n'] = u'\n';
        t.glyph[0xAD] = u'\u2010';
        for (int b = 255; b >= 0; --b) // the lowest byte for U+FFFD, never keptBeside
            t.byte[t.glyph[size_t(b)]] = uchar(b);
        return t;
    }();
    return table;
}

} // namespace

namespace CodePage {

QChar shownAs(uchar byte)
{
    return QChar(shown().glyph[byte]);
}

int byteShowing(QChar ch)
{
    const Shown &t = shown();
    const uchar b = t.byte[ch.unicode()];
    return t.glyph[b] == ch.unicode() ? b : -1;
}

QChar toUnicode(uchar byte)
{
    return byte < 0x80 ? QChar(byte) : QChar(upperHalf[byte - 0x80]);
}

char fromUnicode(QChar ch)
{
    const char16_t u = ch.unicode();
    if (u < 0x80)
        return char(u);
    const auto *hit = std::find(std::begin(upperHalf), std::end(upperHalf), u);
    return hit == std::end(upperHalf) ? '?' : char(0x80 + (hit - std::begin(upperHalf)));
}

QByteArray fromUnicode(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar ch : text)
        bytes.append(fromUnicode(ch));
    return bytes;
}

} // namespace CodePage
