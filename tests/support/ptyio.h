// SPDX-License-Identifier: MIT
#pragma once

#include "pseudoterminal.h"

#include <QTest>

#include <termios.h>

// The device's side of a pseudo-terminal in a test: the code under test runs
// on the same thread, so the event loop keeps running while the test waits.
namespace PtyIo {

inline bool write(PseudoTerminal &pty, const QByteArray &bytes)
{
    return pty.write(bytes, [] { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); });
}

// What the terminal side wrote, once there are `count` bytes or after `timeoutMs`.
inline QByteArray read(PseudoTerminal &pty, qsizetype count, int timeoutMs = 5000)
{
    QByteArray out;
    (void)QTest::qWaitFor([&] { return (out += pty.readAvailable()).size() >= count; }, timeoutMs);
    return out;
}

// The terminal side's line as its driver holds it, in stty's words:
// "115200 cs8 -parenb -cstopb crtscts -ixon -ixoff" (Linux: the master reads
// the terminal side's attributes).
inline QString lineAttributes(const PseudoTerminal &pty)
{
    termios t{};
    ::tcgetattr(pty.masterFd(), &t);
    const speed_t speed = cfgetospeed(&t);
    QString words = speed == B115200 ? "115200" : speed == B57600 ? "57600" : "other";
    words += u" cs%1"_qs.arg(5 + (t.c_cflag & CSIZE) / CS6);
    for (const auto &[on, name] : {std::pair(t.c_cflag & PARENB, "parenb"), {t.c_cflag & CSTOPB, "cstopb"},
                                   {t.c_cflag & CRTSCTS, "crtscts"}, {t.c_iflag & IXON, "ixon"}, {t.c_iflag & IXOFF, "ixoff"}})
        words += (on ? " " : " -") + QString::fromLatin1(name);
    return words;
}

} // namespace PtyIo
