// SPDX-License-Identifier: MIT
// Included once by each fuzz target, which defines fuzz(): the entry point
// libFuzzer calls is here (replay.cpp calls fuzz() itself).
#pragma once

#include <QByteArray>

// A broken invariant is a crash (an abort) the fuzzer keeps; assert() would
// vanish in release builds.
#define FUZZ_CHECK(condition) ((condition) ? void() : qFatal("broken: %s", #condition))

// One input, never empty.
void fuzz(QByteArrayView in);

extern "C" int LLVMFuzzerTestOneInput(const uchar *data, size_t size)
{
    if (size)
        fuzz({data, qsizetype(size)});
    return 0;
}

// An input read as chunk sizes and the bytes to feed: the first byte says how
// many sizes follow (0 to 7); the rest is fed in chunks of those sizes (their
// bits in `mask`), round and round, 0 being an empty read.
struct Chunks
{
    const QByteArray sizes;
    const QByteArrayView bytes;

    explicit Chunks(QByteArrayView in)
        : sizes(in.toByteArray().mid(1, in[0] & 7) + '\1') // so the chunks move on
        , bytes(in.sliced(sizes.size()))
    {
    }
    // feed(where the chunk starts, the chunk, its size byte)
    void feed(int mask, auto feed) const
    {
        for (qsizetype at = 0, i = 0, n = 0; at < bytes.size(); ++i, at += n) {
            const uchar step = sizes[i % sizes.size()];
            n = qMin(step & mask, bytes.size() - at);
            feed(at, bytes.sliced(at, n), step);
        }
    }
};
