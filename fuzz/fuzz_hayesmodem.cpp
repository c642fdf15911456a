// SPDX-License-Identifier: MIT
// The simulated modem's command interpreter, with pacing off and every delay
// cut to the next turn of the event loop, so calls connect, ring and hang up
// within one run.
//
// Input: the first byte sets the lines at power-up (bit 0 clear: DTR on; bit 1:
// RTS on; bit 2: a call rings in). The second says how many chunk sizes follow
// (0 to 7). Each size byte is a chunk of (size & 63) bytes; after the chunk the
// event loop turns, DTR flips if bit 6 is set, and a call rings if bit 7 is.
#include "hayesmodem.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_hayesmodem", *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    if (size < 2)
        return 0;
    HayesModem modem;
    modem.setPacing(false);
    modem.setTimeScale(0);
    modem.setDtr(!(data[0] & 1));
    modem.setRts(data[0] & 2);
    if (data[0] & 4)
        modem.ring();
    // Delays cut to nothing fire within these turns; the terminal reads everything.
    const auto settle = [&modem] {
        for (int turn = 0; turn < 4; ++turn)
            QCoreApplication::processEvents();
        modem.takeOutput();
    };
    const qsizetype count = std::min<qsizetype>(data[1] % 8, qsizetype(size - 2));
    QByteArray sizes(reinterpret_cast<const char *>(data + 2), count);
    if (std::none_of(sizes.begin(), sizes.end(), [](char s) { return s & 63; }))
        sizes += char(63); // so the chunks move on
    const QByteArrayView sent(data + 2 + count, qsizetype(size) - 2 - count);
    for (qsizetype at = 0, i = 0, n = 0; at < sent.size() || i < sizes.size(); ++i, at += n) {
        const std::uint8_t step = sizes[i % sizes.size()];
        n = std::min(qsizetype(step & 63), sent.size() - at);
        modem.receive(sent.sliced(at, n));
        settle();
        modem.setDtr(modem.dtr() != bool(step & 64)); // flipped when the bit is set
        if (step & 128)
            modem.ring();
        settle();
    }
    return 0;
}
