// SPDX-License-Identifier: MIT
// The ZMODEM start detector. However the bytes are chunked (see Chunks), it
// finds the same first header, ending at the same place in the stream, as a
// search of the whole stream does.
#include "fuzzcheck.h"
#include "zmodemdetector.h"

using Start = ZmodemDetector::Start;

void fuzz(QByteArrayView in)
{
    const Chunks input(in);
    const qsizetype receive = input.bytes.indexOf(ZmodemDetector::header(Start::Receive));
    const qsizetype send = input.bytes.indexOf(ZmodemDetector::header(Start::Send));
    const qsizetype first = qMin<size_t>(receive, send); // as size_t, "not found" (-1) is the largest

    ZmodemDetector detector;
    bool found = false;
    input.feed(255, [&](qsizetype at, auto chunk, auto) {
        if (found)
            return;
        const auto header = detector.feed(chunk);
        if (header.start == Start::None)
            return;
        found = true;
        FUZZ_CHECK(at + header.end == first + 6);
        FUZZ_CHECK(ZmodemDetector::header(header.start) == input.bytes.sliced(first, 6));
        FUZZ_CHECK(header.textLength == qMax<qsizetype>(0, first - at));
    });
    FUZZ_CHECK(found == (first >= 0));
}
