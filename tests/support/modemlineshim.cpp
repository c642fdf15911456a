// SPDX-License-Identifier: MIT
// Answers the modem-line calls on pseudo-terminals that have lines played by
// ModemLines (modemlines.h); every other call goes to the system. Linked into
// a test program (exporting its symbols, so that Qt Serial Port's calls come
// here too) or preloaded into a program (LD_PRELOAD) by the benchmark.
// Never part of what is installed.
#include "modemlines.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <linux/serial.h>

namespace {

int failWith(int error)
{
    errno = error;
    return -1;
}

// The transitions counted so far. Every caller waits on CD, CTS and DSR
// together, so TIOCMIWAIT's mask is not looked at.
uint32_t counted(const ModemLineState &s)
{
    return s.cts + s.dsr + s.dcd;
}

int waitForChange(ModemLineState &s)
{
    if (s.refuse)
        return failWith(EINVAL);
    const uint32_t before = counted(s);
    ++s.waiting;
    for (uint32_t sequence = s.sequence; !s.gone && counted(s) == before; sequence = s.sequence)
        if (::syscall(SYS_futex, &s.sequence, FUTEX_WAIT, sequence, nullptr, nullptr, 0) != 0 && errno == EINTR)
            break; // a signal ends the wait, as in a driver
    --s.waiting;
    return counted(s) != before ? 0 : failWith(s.gone ? EIO : EINTR);
}

int answer(ModemLineState &s, unsigned long request, void *arg)
{
    if (s.gone)
        return failWith(EIO);
    switch (request) {
    case TIOCMGET:
        ++s.reads;
        *static_cast<int *>(arg) = int(s.lines.load());
        return 0;
    case TIOCMBIS:
        s.lines |= uint32_t(*static_cast<int *>(arg));
        return 0;
    case TIOCMBIC:
        s.lines &= ~uint32_t(*static_cast<int *>(arg));
        return 0;
    case TIOCGICOUNT:
        if (s.refuse >= 2)
            return failWith(ENOTTY);
        auto *c = static_cast<serial_icounter_struct *>(arg);
        *c = serial_icounter_struct{};
        c->cts = int(s.cts);
        c->dsr = int(s.dsr);
        c->dcd = int(s.dcd);
        return 0;
    }
    return waitForChange(s); // TIOCMIWAIT
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    static const auto next = reinterpret_cast<int (*)(int, unsigned long, ...)>(::dlsym(RTLD_NEXT, "ioctl"));
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    const char *dir = std::getenv("MODEMTERM_LINESHIM_DIR");
    const bool lineCall = request == TIOCMGET || request == TIOCMBIS || request == TIOCMBIC || request == TIOCMIWAIT
                          || request == TIOCGICOUNT;
    ModemLineState *state = lineCall && dir ? ModemLineState::map(ModemLineState::file(dir, fd), false) : nullptr;
    if (!state)
        return next(fd, request, arg);
    const int result = answer(*state, request, arg);
    ::munmap(state, sizeof(ModemLineState)); // leaves errno as it is
    return result;
}
