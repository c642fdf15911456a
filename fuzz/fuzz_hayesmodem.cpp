// SPDX-License-Identifier: MIT
// The simulated modem's command interpreter, with pacing off and every delay
// cut to the next turn of the event loop, so calls connect, ring and hang up
// within one run.
//
// Input: the first byte sets the lines at power-up (bit 0 clear: DTR on; bit 1:
// RTS on; bit 2: a call rings in). The rest is fed in chunks (see Chunks) of
// up to 63 bytes; after each the event loop turns, DTR flips if bit 6 of its
// size is set, and a call rings if bit 7 is.
#include "fuzzcheck.h"
#include "hayesmodem.h"

#include <QCoreApplication>

void fuzz(QByteArrayView in)
{
    static int argc = 0;
    static QCoreApplication app(argc, nullptr);
    if (in.size() < 2)
        return;
    HayesModem modem;
    modem.setPacing(false);
    modem.setTimeScale(0);
    modem.setDtr(!(in[0] & 1));
    modem.setRts(in[0] & 2);
    if (in[0] & 4)
        modem.ring();
    // Delays cut to nothing fire within these turns; the terminal reads everything.
    const auto settle = [&] {
        for (int turn = 0; turn < 4; ++turn)
            QCoreApplication::processEvents();
        modem.takeOutput();
    };
    Chunks(in.sliced(1)).feed(63, [&](auto, auto chunk, auto step) {
        modem.receive(chunk);
        settle();
        modem.setDtr(modem.dtr() != bool(step & 64)); // flipped when the bit is set
        if (step & 128)
            modem.ring();
        settle();
    });
}
