// SPDX-License-Identifier: MIT
// The receive path from bytes to transcript text. However the bytes are
// chunked (see Chunks) the text is the same: CR LF, CR and LF each one line
// break, every other byte one visible character of its own, in order.
#include "fuzzcheck.h"
#include "receivedecoder.h"

#include <QStringDecoder>

#include <map>

namespace {

// Decoded byte by byte: CR LF, CR and LF each end a line; any other byte shows
// as one visible character (a tab as a tab), the same wherever it stands, the
// one Windows-1250 has where that is printable, and never one another byte
// shows as (but for the replacement mark of the bytes Windows-1250 leaves out).
QString expected(QByteArrayView bytes)
{
    static std::map<QChar, char> shownFor; // over all inputs
    QString text;
    for (const QByteArray lines = bytes.toByteArray().replace("\r\n", "\n"); const char c : lines) {
        const bool lineEnd = c == '\r' || c == '\n';
        const QByteArrayView byte(&c, 1);
        const QString alone = lineEnd ? "\n" : ReceiveDecoder().decode(byte);
        FUZZ_CHECK(alone.size() == 1 && (lineEnd || (c == '\t' ? alone[0] == u'\t' : alone[0].isPrint())));
        if (!lineEnd && alone[0] != u'\uFFFD') {
            FUZZ_CHECK(shownFor.try_emplace(alone[0], c).first->second == c);
            const QString theirs = QStringDecoder("windows-1250").decode(byte);
            FUZZ_CHECK(!theirs[0].isPrint() || theirs == alone);
        }
        text += alone;
    }
    return text;
}

} // namespace

void fuzz(QByteArrayView in)
{
    const Chunks input(in);
    ReceiveDecoder decoder;
    QString chunked;
    input.feed(255, [&](auto, auto chunk, auto) { decoder.decode(chunk, chunked); });
    FUZZ_CHECK(chunked == ReceiveDecoder().decode(input.bytes));
    FUZZ_CHECK(chunked == expected(input.bytes));
}
