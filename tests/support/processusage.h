// SPDX-License-Identifier: MIT
#pragma once

#include <QDir>
#include <QTest>

#include <sys/resource.h>

// What this test process itself uses: CPU time tells a busy loop from an idle one.
namespace ProcessUsage {

// CPU milliseconds spent while the event loop runs for `ms` milliseconds.
inline qint64 cpuMsWhileEventLoopRuns(int ms)
{
    const auto cpuMs = [] {
        rusage ru{};
        ::getrusage(RUSAGE_SELF, &ru);
        return (qint64(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
    };
    const qint64 before = cpuMs();
    QTest::qWait(ms);
    return cpuMs() - before;
}

inline qsizetype openFileDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot).size();
}

} // namespace ProcessUsage
