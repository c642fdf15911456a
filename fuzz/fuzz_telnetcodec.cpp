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

#include <QDataStream>

namespace {

// What came out of one decoding.
struct Decoded
{
    QByteArray data, reply, events;
    bool operator==(const Decoded &) const = default;
};

} // namespace

void fuzz(QByteArrayView in)
{
    const auto role = TelnetCodec::Role(in[0] & 1);
    const qsizetype chunk = uchar(in[0]) / 2 + 1;
    in = in.sliced(1);

    const auto decode = [role](QByteArrayView in, qsizetype chunk) {
        TelnetCodec codec(role);
        codec.start();
        Decoded out;
        for (qsizetype at = 0; at < in.size(); at += chunk) {
            codec.decode(in.sliced(at, qMin(chunk, in.size() - at)), out.data, out.reply);
            for (const auto &e : codec.takeEvents()) {
                // An event sits where the data had reached (read byte by byte:
                // the other readings must give the same), its value bounded.
                FUZZ_CHECK(chunk > 1 || e.at == out.data.size());
                FUZZ_CHECK(e.value.size() <= 64);
                QDataStream(&out.events, QIODeviceBase::Append) << int(e.kind) << e.command << e.value << e.at;
            }
        }
        return out;
    };

    const Decoded whole = decode(in, in.size());
    FUZZ_CHECK(decode(in, chunk) == whole && decode(in, 1) == whole);
    // No more data than came, and at most one three-byte answer per three-byte command.
    FUZZ_CHECK(whole.data.size() <= in.size() && whole.reply.size() <= in.size());

    // The same bytes as data from the other end: nothing but themselves.
    QByteArray wire;
    TelnetCodec::encodeData(in, wire);
    FUZZ_CHECK((decode(wire, chunk) == Decoded{in.toByteArray(), {}, {}}));
}
