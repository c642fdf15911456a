#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <sys/resource.h>

// What this test process itself uses, to tell an idle process from a busy one
// and to count its open files.
namespace ProcessUsage {

inline qint64 cpuTimeMs()
{
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return (qint64(ru.ru_utime.tv_sec) + ru.ru_stime.tv_sec) * 1000
           + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000;
}

// CPU time spent while the event loop runs for `ms` milliseconds. A process
// caught in a busy loop spends about all of it; an idle one next to nothing.
inline qint64 cpuMsWhileEventLoopRuns(int ms)
{
    const qint64 before = cpuTimeMs();
    QTest::qWait(ms);
    return cpuTimeMs() - before;
}

inline int openFileDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::NoDotAndDotDot).size());
}

} // namespace ProcessUsage
