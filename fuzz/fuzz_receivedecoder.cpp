// SPDX-License-Identifier: MIT
// The receive path from bytes to transcript text. However the bytes are
// chunked the text is the same, and every byte that is not part of a line
// ending shows as one character that is not a line break.
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

    // CR LF, CR and LF are each one line break.
    const QByteArray bytes = received.toByteArray();
    const qsizetype breaks = bytes.count('\r') + bytes.count('\n') - bytes.count("\r\n");
    FUZZ_CHECK(whole.count(u'\n') == breaks);
    FUZZ_CHECK(whole.size() == received.size() - bytes.count("\r\n"));
    return 0;
}
