// SPDX-License-Identifier: MIT
#include "receivedecoder.h"

#include "codepage.h"

#include <array>

namespace {

constexpr char16_t lineBreak = u'\n';

// What each byte shows as, line endings aside: always one visible character
// (a tab is a tab).
const std::array<char16_t, 256> &glyphs()
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b)
            t[b] = CodePage::toUnicode(uchar(b)).unicode();
        for (int b = 0; b < 32; ++b)
            t[b] = char16_t(0x2400 + b);
        t['\t'] = u'\t';
        t[127] = u'\u2421';
        // Characters that draw nothing would hide a byte that arrived: the
        // bytes the code page leaves unassigned show as the replacement
        // character, the soft hyphen as a hyphen.
        for (char16_t &c : t) {
            if (c != u'\t' && QChar(c).category() == QChar::Other_Control)
                c = u'\uFFFD';
        }
        t[0xAD] = u'\u2010';
        return t;
    }();
    return table;
}

} // namespace

void ReceiveDecoder::decode(QByteArrayView bytes, QString &out)
{
    const auto &glyph = glyphs();
    const qsizetype start = out.size();
    out.resize(start + bytes.size());
    char16_t *dst = reinterpret_cast<char16_t *>(out.data()) + start;
    bool afterCR = m_afterCR;
    for (const char c : bytes) {
        const uchar b = uchar(c);
        if (b == '\r') {
            *dst++ = lineBreak;
            afterCR = true;
        } else if (b == '\n') {
            if (!afterCR)
                *dst++ = lineBreak;
            afterCR = false;
        } else {
            *dst++ = glyph[b];
            afterCR = false;
        }
    }
    m_afterCR = afterCR;
    out.truncate(dst - reinterpret_cast<const char16_t *>(out.constData()));
}

QString ReceiveDecoder::decode(QByteArrayView bytes)
{
    QString out;
    decode(bytes, out);
    return out;
}
