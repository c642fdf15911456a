// SPDX-License-Identifier: MIT
#include "unixsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Made once and kept for the life of the process: a handler may still be
// running when the last object goes.
int signalPipe[2] = {-1, -1};
QList<UnixSignals *> listeners;

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    // A full pipe already has a wake-up on its way.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool setAction(int number, void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(number, &action, nullptr) == 0;
}

} // namespace

UnixSignals::UnixSignals(QList<int> numbers, QObject *parent)
    : QObject(parent)
    , m_numbers(std::move(numbers))
{
    listeners.append(this);
}

UnixSignals::~UnixSignals()
{
    listeners.removeOne(this);
    for (const int number : std::as_const(m_numbers)) {
        const bool wanted = std::any_of(listeners.cbegin(), listeners.cend(),
                                        [number](const UnixSignals *l) { return l->m_numbers.contains(number); });
        if (!wanted)
            setAction(number, SIG_DFL);
    }
}

UnixSignals *UnixSignals::catchSignals(std::initializer_list<int> numbers, QObject *parent)
{
    if (signalPipe[0] < 0) {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return nullptr;
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        connect(notifier, &QSocketNotifier::activated, [] {
            char byte = 0;
            while (::read(signalPipe[0], &byte, 1) == 1)
                deliver(int(uchar(byte)));
        });
    }
    for (const int number : numbers) {
        if (!setAction(number, onSignal))
            return nullptr;
    }
    return new UnixSignals(QList<int>(numbers), parent);
}

void UnixSignals::deliver(int number)
{
    for (UnixSignals *listener : QList<UnixSignals *>(listeners)) {
        if (listeners.contains(listener) && listener->m_numbers.contains(number))
            Q_EMIT listener->received(number);
    }
}
