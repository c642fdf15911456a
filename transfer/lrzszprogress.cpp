// SPDX-License-Identifier: MIT
#include "lrzszprogress.h"

#include <QRegularExpression>

void LrzszProgress::feed(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!m_partial.isEmpty())
                line(QString::fromUtf8(m_partial).trimmed());
            m_partial.clear();
        } else if (m_partial.size() < 4096) {
            m_partial += c;
        }
    }
}

void LrzszProgress::line(const QString &text)
{
    static const QRegularExpression bytesLine(QStringLiteral(R"(^Bytes (?:Sent|received):\s*(\d+)(?:/\s*(\d+))?)"));
    static const QRegularExpression sectorsLine(QStringLiteral(R"(^[XY]modem sectors/kbytes sent:\s*(\d+)/)"));
    static const QRegularExpression xmodemSending(QStringLiteral(R"(^Sending (.*), \d+ blocks:)"));
    static const QRegularExpression fileLine(QStringLiteral(R"(^(?:Sending|Receiving): (.*)$)"));

    if (text.isEmpty())
        return;
    QRegularExpressionMatch m;
    if ((m = bytesLine.match(text)).hasMatch()) {
        done = m.captured(1).toLongLong();
        if (m.lastCapturedIndex() >= 2 && !m.captured(2).isEmpty())
            total = m.captured(2).toLongLong();
    } else if ((m = sectorsLine.match(text)).hasMatch()) {
        done = m.captured(1).toLongLong() * 128;
        if (total >= 0)
            done = std::min(done, total);
    } else if ((m = xmodemSending.match(text)).hasMatch() || (m = fileLine.match(text)).hasMatch()) {
        if (m.captured(1).isEmpty())
            return; // YMODEM's closing empty header
        fileName = m.captured(1);
        ++filesStarted;
        done = 0;
        total = -1;
    } else if (text.startsWith(QLatin1String("Blocks received:"))) {
        // counted from the file's growth instead
    } else if (text == QLatin1String("Transfer complete")) {
        complete = true;
    } else {
        if (text.contains(QLatin1String("ZCAN"), Qt::CaseInsensitive)
            || text.contains(QLatin1String("cancelled"), Qt::CaseInsensitive)
            || text.contains(QLatin1String("canceled"), Qt::CaseInsensitive))
            farCancelled = true;
        lastMessage = text;
    }
}
