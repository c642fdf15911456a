// SPDX-License-Identifier: MIT
// The ZMODEM start detector. However the bytes are chunked, it finds the same
// first header, ending at the same place in the stream, as a search of the
// whole stream does.
//
// Input: the first byte says how many chunk sizes follow (0 to 7); the rest is
// received in chunks of those sizes, round and round (0 is an empty read).
#include "fuzzcheck.h"
#include "zmodemdetector.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const qsizetype count = std::min<qsizetype>(data[0] % 8, qsizetype(size - 1));
    QByteArray sizes(reinterpret_cast<const char *>(data + 1), count);
    sizes += char(1);
    const QByteArrayView received(data + 1 + count, qsizetype(size) - 1 - count);

    const qsizetype receive = received.indexOf(ZmodemDetector::header(ZmodemDetector::Start::Receive));
    const qsizetype send = received.indexOf(ZmodemDetector::header(ZmodemDetector::Start::Send));
    const qsizetype first = receive < 0 ? send : send < 0 ? receive : std::min(receive, send);

    ZmodemDetector detector;
    for (qsizetype at = 0, i = 0, n = 0; at < received.size(); ++i, at += n) {
        n = std::min(qsizetype(std::uint8_t(sizes[i % sizes.size()])), received.size() - at);
        const ZmodemDetector::Found found = detector.feed(received.sliced(at, n));
        if (found.start == ZmodemDetector::Start::None)
            continue;
        FUZZ_CHECK(first >= 0 && at + found.end == first + 6);
        FUZZ_CHECK(found.start == (first == receive ? ZmodemDetector::Start::Receive : ZmodemDetector::Start::Send));
        FUZZ_CHECK(found.textLength == std::max<qsizetype>(0, first - at));
        return 0;
    }
    FUZZ_CHECK(first < 0);
    return 0;
}
