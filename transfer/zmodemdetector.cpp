// SPDX-License-Identifier: MIT
#include "zmodemdetector.h"

namespace {

// ZPAD ZPAD ZDLE ZHEX and the first digit of the frame type; the second digit
// says which header it is.
constexpr char Prefix[] = {'*', '*', '\x18', 'B', '0'};
constexpr int PrefixLength = int(sizeof Prefix);

} // namespace

ZmodemDetector::Found ZmodemDetector::feed(QByteArrayView chunk)
{
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const char c = chunk[i];
        if (m_matched == PrefixLength) {
            if (c == '0' || c == '1') {
                Found found;
                found.start = c == '0' ? Start::Receive : Start::Send;
                found.end = i + 1;
                found.textLength = std::max<qsizetype>(0, found.end - PrefixLength - 1);
                m_matched = 0;
                return found;
            }
            m_matched = 0;
        }
        if (c == Prefix[m_matched])
            ++m_matched;
        else if (c == '*')
            m_matched = m_matched == 2 ? 2 : 1; // a header may start at the last two stars, or at this one
        else
            m_matched = 0;
    }
    return {};
}

QByteArray ZmodemDetector::header(Start start)
{
    QByteArray bytes(Prefix, PrefixLength);
    bytes += start == Start::Send ? '1' : '0';
    return bytes;
}
