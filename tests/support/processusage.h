// SPDX-License-Identifier: MIT
#pragma once

#include <QTest>

#include <ctime>

// What this test process itself uses: CPU time tells a busy loop from an idle one.
namespace ProcessUsage {

// CPU milliseconds spent while the event loop runs for `ms` milliseconds.
inline qint64 cpuMsWhileEventLoopRuns(int ms)
{
    const std::clock_t before = std::clock(); // all threads of the process
    QTest::qWait(ms);
    return qint64(std::clock() - before) * 1000 / CLOCKS_PER_SEC;
}

} // namespace ProcessUsage
