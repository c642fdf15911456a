// SPDX-License-Identifier: MIT
#include "unixsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

extern "C" void onSignal(int number)
{
    const int saved = errno;
    const char byte = char(number);
    // A full pipe already has a wake-up on its way.
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

// Gives every signal still routed into the pipe back its default action.
void restoreDefaults()
{
    struct sigaction byDefault{};
    byDefault.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number) {
        struct sigaction current{};
        if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == onSignal)
            ::sigaction(number, &byDefault, nullptr);
    }
}

void closePipe()
{
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

} // namespace

UnixSignals::UnixSignals(QObject *parent)
    : QObject(parent)
{
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &UnixSignals::drain);
}

UnixSignals::~UnixSignals()
{
    restoreDefaults();
    closePipe();
}

UnixSignals *UnixSignals::catchSignals(std::initializer_list<int> numbers, QObject *parent)
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return nullptr;
    struct sigaction action{};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : numbers) {
        if (::sigaction(number, &action, nullptr) != 0) {
            restoreDefaults();
            closePipe();
            return nullptr;
        }
    }
    return new UnixSignals(parent);
}

void UnixSignals::drain()
{
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        Q_EMIT received(int(uchar(byte)));
}
