// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>

// Watches received bytes for the far end starting a ZMODEM transfer: its
// sender's request to receive (`**` ZDLE `B00`, ZRQINIT) or its receiver's
// announcement (`**` ZDLE `B01`, ZRINIT), however the bytes are split
// between reads. Sans I/O: it is given bytes and says where a header ended.
class ZmodemDetector
{
public:
    enum class Start { None, Receive, Send };

    struct Found
    {
        Start start = Start::None;
        // Where in the chunk the header's bytes start (0 when it began in an
        // earlier chunk): what comes before is ordinary text.
        qsizetype textLength = 0;
        // Where in the chunk the header ends: what follows belongs to the
        // transfer too.
        qsizetype end = 0;
    };

    // Looks at the next chunk. Once a header is found the detector starts
    // afresh after it.
    Found feed(QByteArrayView chunk);
    void reset() { m_matched = 0; }

    // The header's own bytes, to hand to the program that takes the transfer over.
    static QByteArray header(Start start);

private:
    int m_matched = 0; // how many bytes of a header the last bytes were
};
