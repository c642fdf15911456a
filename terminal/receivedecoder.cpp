// SPDX-License-Identifier: MIT
#include "receivedecoder.h"

#include "codepage.h"

#include <array>

namespace {

// What each byte is stored as, line endings aside: itself, but for the bytes
// that show as U+FFFD, which all become the one that stands for it (another
// of them marks characters kept beside the text).
const std::array<char, 256> &storedBytes()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const int same = CodePage::byteShowing(CodePage::shownAs(uchar(b)));
            t[size_t(b)] = char(same);
        }
        return t;
    }();
    return table;
}

} // namespace

void ReceiveDecoder::decode(QByteArrayView bytes, QByteArray &out)
{
    const auto &stored = storedBytes();
    const qsizetype start = out.size();
    out.resize(start + bytes.size());
    char *dst = out.data() + start;
    bool afterCR = m_afterCR;
    for (const char c : bytes) {
        const uchar b = uchar(c);
        if (b == '\r') {
            *dst++ = '\n';
            afterCR = true;
        } else if (b == '\n') {
            if (!afterCR)
                *dst++ = '\n';
            afterCR = false;
        } else {
            *dst++ = stored[b];
            afterCR = false;
        }
    }
    m_afterCR = afterCR;
    out.truncate(dst - out.constData());
}

void ReceiveDecoder::appendShown(QByteArrayView stored, QString &out)
{
    const qsizetype start = out.size();
    out.resize(start + stored.size());
    QChar *dst = out.data() + start;
    for (const char c : stored)
        *dst++ = CodePage::shownAs(uchar(c));
}

void ReceiveDecoder::decode(QByteArrayView bytes, QString &out)
{
    QByteArray stored;
    decode(bytes, stored);
    appendShown(stored, out);
}

QString ReceiveDecoder::decode(QByteArrayView bytes)
{
    QString out;
    decode(bytes, out);
    return out;
}
