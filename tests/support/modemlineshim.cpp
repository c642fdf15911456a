// SPDX-License-Identifier: MIT
// Answers the modem-line calls on pseudo-terminals that have lines played by
// ModemLines (modemlines.h); every other call goes to the system. Linked into
// a test program (exporting its symbols, so that Qt Serial Port's calls come
// here too) or preloaded into a program (LD_PRELOAD) by the benchmark.
// Never part of what is installed.
//
// Preloaded, it also lets GTKTerm accept such a pseudo-terminal: GTKTerm
// closes a port udev does not know, and udev knows no pseudo-terminal, so it
// is given the device of /dev/tty in its place (GTKTerm only asks whether
// there is one).
#include "modemlines.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>
#include <linux/serial.h>

namespace {

using IoctlFunction = int (*)(int, unsigned long, ...);

int realIoctl(int fd, unsigned long request, void *arg)
{
    static const auto next = reinterpret_cast<IoctlFunction>(::dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, arg);
}

int failWith(int error)
{
    errno = error;
    return -1;
}

uint32_t counted(const ModemLineState &s, uint32_t mask)
{
    return ((mask & TIOCM_CTS) ? s.cts.load() : 0) + ((mask & TIOCM_DSR) ? s.dsr.load() : 0)
           + ((mask & TIOCM_CAR) ? s.dcd.load() : 0) + ((mask & TIOCM_RNG) ? s.rng.load() : 0);
}

int waitForChange(ModemLineState &s, uint32_t mask)
{
    if (s.refuse)
        return failWith(EINVAL);
    const uint32_t before = counted(s, mask);
    ++s.waiting;
    int result = 0;
    while (true) {
        const uint32_t sequence = s.sequence;
        if (s.gone) {
            result = failWith(EIO);
            break;
        }
        if (counted(s, mask) != before)
            break;
        if (::syscall(SYS_futex, &s.sequence, FUTEX_WAIT, sequence, nullptr, nullptr, 0) != 0 && errno == EINTR) {
            result = -1; // a signal ends the wait, as in a driver
            break;
        }
    }
    --s.waiting;
    return result;
}

int answer(ModemLineState &s, unsigned long request, void *arg)
{
    if (s.gone)
        return failWith(EIO);
    constexpr uint32_t outputs = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
    case TIOCMGET:
        ++s.reads;
        *static_cast<int *>(arg) = int(s.lines.load());
        return 0;
    case TIOCMSET:
        s.lines = (s.lines & ~outputs) | (uint32_t(*static_cast<int *>(arg)) & outputs);
        return 0;
    case TIOCMBIS:
        s.lines |= uint32_t(*static_cast<int *>(arg)) & outputs;
        return 0;
    case TIOCMBIC:
        s.lines &= ~(uint32_t(*static_cast<int *>(arg)) & outputs);
        return 0;
    case TIOCGICOUNT: {
        if (s.refuse >= 2)
            return failWith(ENOTTY);
        auto *c = static_cast<serial_icounter_struct *>(arg);
        *c = serial_icounter_struct{};
        c->cts = int(s.cts);
        c->dsr = int(s.dsr);
        c->rng = int(s.rng);
        c->dcd = int(s.dcd);
        return 0;
    }
    default: // TIOCMIWAIT: the mask is the argument itself
        return waitForChange(s, uint32_t(reinterpret_cast<uintptr_t>(arg)));
    }
}

} // namespace

#ifdef MODEMLINESHIM_PRELOAD
extern "C" void *g_udev_client_query_by_device_file(void *client, const char *file)
{
    using Query = void *(*)(void *, const char *);
    static const auto next = reinterpret_cast<Query>(::dlsym(RTLD_NEXT, "g_udev_client_query_by_device_file"));
    void *device = next ? next(client, file) : nullptr;
    const char *dir = std::getenv("MODEMTERM_LINESHIM_DIR");
    const int fd = device || !dir ? -1 : ::open(file, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const int pts = ModemLineState::ptsNumber(fd);
        ::close(fd);
        if (pts >= 0 && ::access(ModemLineState::file(dir, unsigned(pts)).c_str(), F_OK) == 0)
            device = next(client, "/dev/tty");
    }
    return device;
}
#endif

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    switch (request) {
    case TIOCMGET:
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCMIWAIT:
    case TIOCGICOUNT:
        break;
    default:
        return realIoctl(fd, request, arg);
    }
    const char *dir = std::getenv("MODEMTERM_LINESHIM_DIR");
    const int pts = dir ? ModemLineState::ptsNumber(fd) : -1;
    ModemLineState *state = pts >= 0 ? ModemLineState::map(ModemLineState::file(dir, unsigned(pts)), false) : nullptr;
    if (!state)
        return realIoctl(fd, request, arg);
    const int saved = errno;
    errno = 0;
    const int result = answer(*state, request, arg);
    const int error = errno;
    ::munmap(state, sizeof(ModemLineState));
    errno = result == 0 ? saved : error;
    return result;
}
