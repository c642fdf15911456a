// SPDX-License-Identifier: MIT
#pragma once

#include "pseudoterminal.h"

#include <QTest>

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

} // namespace PtyIo
