// SPDX-License-Identifier: MIT
// The receive path from bytes to transcript text. However the bytes are
// chunked the text is the same: CR LF, CR and LF each one line break, every
// other byte one visible character, in order.
//
// Input: the first byte says how many chunk sizes follow (0 to 7); the rest is
// received in chunks of those sizes, round and round (0 is an empty read).
#include "fuzzcheck.h"
#include "receivedecoder.h"

#include <QByteArrayView>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

// A byte that is not part of a line ending shows as one visible character
// (a tab as a tab), the same wherever it stands.
QChar shown(std::uint8_t byte)
{
    const char c = char(byte);
    const QString alone = ReceiveDecoder().decode(QByteArrayView(&c, 1));
    FUZZ_CHECK(alone.size() == 1);
    FUZZ_CHECK(byte == '\t' ? alone[0] == u'\t' : alone[0].isPrint());
    return alone[0];
}

// Decoded byte by byte: CR LF, CR and LF each end a line.
QString expected(QByteArrayView bytes)
{
    QString text;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = std::uint8_t(bytes[i]);
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            text += u'\n';
            ++i;
        } else if (byte == '\r' || byte == '\n') {
            text += u'\n';
        } else {
            text += shown(byte);
        }
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(data[0] % 8, size - 1);
    std::vector<std::size_t> sizes(data + 1, data + 1 + count);
    sizes.push_back(1); // so the chunks move on
    const QByteArrayView received(data + 1 + count, qsizetype(size - 1 - count));

    const QString whole = ReceiveDecoder().decode(received);
    ReceiveDecoder decoder;
    QString chunked;
    for (qsizetype at = 0, i = 0; at < received.size(); ++i) {
        const qsizetype n = std::min(qsizetype(sizes[size_t(i) % sizes.size()]), received.size() - at);
        decoder.decode(received.sliced(at, n), chunked);
        at += n;
    }
    FUZZ_CHECK(chunked == whole);

    FUZZ_CHECK(whole == expected(received));
    return 0;
}
