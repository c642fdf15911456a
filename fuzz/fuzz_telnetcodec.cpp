// SPDX-License-Identifier: MIT
// The Telnet and COM-PORT decoder both ends of RFC 2217 use. Whatever the
// peer sends, however TCP cuts it: the same data, answers and events come
// out, data encoded by the other end comes back unchanged, and answers stay
// bounded (no negotiation loop can be provoked).
//
// Input: the first byte picks the role (low bit) and the chunk size (the
// rest); the remaining bytes are what the peer sent.
#include "fuzzcheck.h"
#include "telnetcodec.h"

#include <cstdint>

namespace {

struct Decoded
{
    QByteArray data;
    QByteArray reply;
    QList<TelnetCodec::Event> events;
};

Decoded decode(TelnetCodec::Role role, QByteArrayView in, qsizetype chunk)
{
    TelnetCodec codec(role);
    Decoded out;
    codec.start();
    for (qsizetype at = 0; at < in.size(); at += chunk) {
        codec.decode(in.sliced(at, std::min(chunk, in.size() - at)), out.data, out.reply);
        out.events += codec.takeEvents();
    }
    return out;
}

bool sameEvents(const QList<TelnetCodec::Event> &a, const QList<TelnetCodec::Event> &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].command != b[i].command || a[i].value != b[i].value
            || a[i].at != b[i].at)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const auto role = (data[0] & 1) ? TelnetCodec::Role::Server : TelnetCodec::Role::Client;
    const qsizetype chunk = (data[0] >> 1) + 1;
    const QByteArrayView in(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));

    const Decoded whole = decode(role, in, qMax<qsizetype>(in.size(), 1));
    const Decoded pieces = decode(role, in, chunk);
    FUZZ_CHECK(whole.data == pieces.data);
    FUZZ_CHECK(whole.reply == pieces.reply);
    FUZZ_CHECK(sameEvents(whole.events, pieces.events));
    FUZZ_CHECK(whole.data.size() <= in.size());
    // At most one three-byte answer per three-byte command.
    FUZZ_CHECK(whole.reply.size() <= in.size());
    for (const TelnetCodec::Event &event : whole.events) {
        FUZZ_CHECK(event.at >= 0 && event.at <= whole.data.size());
        FUZZ_CHECK(event.value.size() <= 64);
    }

    // The same bytes as data from the other end: nothing but themselves.
    QByteArray wire;
    TelnetCodec::encodeData(in, wire);
    const Decoded echo = decode(role, wire, chunk);
    FUZZ_CHECK(echo.data == in);
    FUZZ_CHECK(echo.reply.isEmpty() && echo.events.isEmpty());
    return 0;
}
