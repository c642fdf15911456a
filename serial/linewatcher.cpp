// SPDX-License-Identifier: MIT
#include "linewatcher.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <system_error>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// The signal that wakes a waiting thread; nothing else in the program uses it.
int wakeSignal()
{
    return SIGRTMIN + 5;
}

void installWakeHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action{};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the wait must fail with EINTR
        sigaction(wakeSignal(), &action, nullptr);
    });
}

int moved(const serial_icounter_struct &before, const serial_icounter_struct &after)
{
    return (before.cts != after.cts ? LineWatcher::Cts : 0) | (before.dsr != after.dsr ? LineWatcher::Dsr : 0)
           | (before.dcd != after.dcd ? LineWatcher::Cd : 0);
}

enum Report { Changed, Refused, Failed };

} // namespace

LineWatcher::LineWatcher(QObject *parent)
    : QObject(parent)
{
}

LineWatcher::~LineWatcher()
{
    stop();
}

bool LineWatcher::start(int descriptor)
{
    stop();
    serial_icounter_struct counts{};
    if (::ioctl(descriptor, TIOCGICOUNT, &counts) != 0)
        return false;
    m_descriptor = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (m_descriptor < 0)
        return false;
    installWakeHandler();
    m_stop = false;
    m_done = false;
    try {
        m_thread = std::thread([this, counts, generation = m_generation] { run(counts, generation); });
    } catch (const std::system_error &) { // no thread to be had: poll instead
        ::close(m_descriptor);
        m_descriptor = -1;
        return false;
    }
    return true;
}

void LineWatcher::stop()
{
    if (!m_thread.joinable())
        return;
    ++m_generation; // whatever the thread posted is now stale
    m_stop = true;
    {
        std::unique_lock lock(m_mutex);
        while (!m_done) {
            ::pthread_kill(m_thread.native_handle(), wakeSignal());
            m_ended.wait_for(lock, std::chrono::milliseconds(1));
        }
    }
    m_thread.join();
    ::close(m_descriptor);
    m_descriptor = -1;
}

void LineWatcher::run(serial_icounter_struct last, quint64 generation)
{
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, wakeSignal());
    ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);

    const int descriptor = m_descriptor;
    bool woken = false;
    while (!m_stop) {
        serial_icounter_struct now{};
        if (::ioctl(descriptor, TIOCGICOUNT, &now) != 0) {
            report(generation, Failed, 0);
            break;
        }
        // Counted since the last look, waiting or not: report, then look again.
        const int lines = moved(last, now);
        last = now;
        if (lines || woken) {
            report(generation, Changed, lines);
            if (!lines) {
                // Woken with nothing counted: a driver that does not count.
                // The lines are then told by their state, and waited for no
                // more often than a poll would read them.
                const timespec pause{0, 50'000'000};
                ::nanosleep(&pause, nullptr);
            }
            woken = false;
            continue;
        }
        if (::ioctl(descriptor, TIOCMIWAIT, TIOCM_CD | TIOCM_CTS | TIOCM_DSR) == 0) {
            woken = true;
            continue;
        }
        if (errno == EINTR)
            continue;
        report(generation, errno == ENOTTY || errno == EINVAL ? Refused : Failed, 0);
        break;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_ended.notify_all();
}

void LineWatcher::report(quint64 generation, int what, int moved)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation, what, moved] {
            if (generation != m_generation)
                return;
            if (what == Changed)
                Q_EMIT changed(moved);
            else if (what == Refused)
                Q_EMIT refused();
            else
                Q_EMIT failed();
        },
        Qt::QueuedConnection);
}
