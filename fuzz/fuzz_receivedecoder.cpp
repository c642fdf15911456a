// SPDX-License-Identifier: MIT
// The receive path from bytes to transcript text. However the bytes are
// chunked the text is the same: CR LF, CR and LF each one line break, every
// other byte one visible character of its own, in order.
//
// Input: the first byte says how many chunk sizes follow (0 to 7); the rest is
// received in chunks of those sizes, round and round (0 is an empty read).
#include "fuzzcheck.h"
#include "receivedecoder.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cstdint>

namespace {

// Decoded byte by byte: CR LF, CR and LF each end a line; any other byte shows
// as one visible character (a tab as a tab), the same wherever it stands, the
// one Windows-1250 has where that is printable, and never one another byte
// shows as (but for the replacement mark of the bytes Windows-1250 leaves out).
QString expected(QByteArrayView bytes)
{
    static QHash<QChar, char> shownFor; // over all inputs
    QString text;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && bytes.sliced(i + 1).startsWith('\n'))
            continue; // the LF ends the line
        const bool lineEnd = bytes[i] == '\r' || bytes[i] == '\n';
        const QString alone = lineEnd ? u"\n"_qs : ReceiveDecoder().decode(bytes.sliced(i, 1));
        FUZZ_CHECK(alone.size() == 1 && (lineEnd || (bytes[i] == '\t' ? alone[0] == u'\t' : alone[0].isPrint())));
        if (!lineEnd && alone[0] != u'\uFFFD') {
            FUZZ_CHECK(shownFor.value(alone[0], bytes[i]) == bytes[i]);
            shownFor.insert(alone[0], bytes[i]);
            const QString theirs = QStringDecoder("windows-1250").decode(bytes.sliced(i, 1));
            FUZZ_CHECK(uchar(bytes[i]) < 0x20 || bytes[i] == 0x7f || theirs.size() != 1 || !theirs[0].isPrint()
                       || theirs == alone);
        }
        text += alone;
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype count = std::min<qsizetype>(data[0] % 8, qsizetype(size - 1));
    QByteArray sizes(reinterpret_cast<const char *>(data + 1), count);
    sizes += char(1); // so the chunks move on
    const QByteArrayView received(data + 1 + count, qsizetype(size) - 1 - count);

    const QString whole = ReceiveDecoder().decode(received);
    ReceiveDecoder decoder;
    QString chunked;
    for (qsizetype at = 0, i = 0, n = 0; at < received.size(); ++i, at += n) {
        n = std::min(qsizetype(std::uint8_t(sizes[i % sizes.size()])), received.size() - at);
        decoder.decode(received.sliced(at, n), chunked);
    }
    FUZZ_CHECK(chunked == whole && whole == expected(received));
    return 0;
}
