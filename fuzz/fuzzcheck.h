// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant is a crash the fuzzer keeps; assert() would vanish in
// release builds.
#define FUZZ_CHECK(condition)                                                                        \
    ((condition) ? void() : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))

// An input read as chunk sizes and the bytes to feed: the first byte says how
// many sizes follow (0 to 7); the rest is fed in chunks of those sizes (their
// bits in `mask`), round and round, 0 being an empty read. Needs a byte at least.
struct Chunks
{
    const std::size_t count;
    const QByteArray sizes;
    const QByteArrayView bytes;

    Chunks(const std::uint8_t *data, std::size_t size)
        : count(std::min<std::size_t>(data[0] % 8, size - 1))
        , sizes(QByteArray(reinterpret_cast<const char *>(data + 1), count) + char(1)) // so the chunks move on
        , bytes(data + 1 + count, qsizetype(size - 1 - count))
    {
    }
    // feed(where the chunk starts, the chunk, its size byte)
    template <typename Feed>
    void feed(std::uint8_t mask, Feed feed) const
    {
        for (qsizetype at = 0, i = 0, n = 0; at < bytes.size(); ++i, at += n) {
            const std::uint8_t step = sizes[i % sizes.size()];
            n = std::min<qsizetype>(step & mask, bytes.size() - at);
            feed(at, bytes.sliced(at, n), step);
        }
    }
};
