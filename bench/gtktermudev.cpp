// SPDX-License-Identifier: MIT
// Preloaded with the modem-line shim (tests/support/modemlineshim.cpp), this
// lets GTKTerm accept a pseudo-terminal that has lines played by ModemLines:
// GTKTerm closes a port udev does not know, and udev knows no pseudo-terminal,
// so it is given the device of /dev/tty in its place (GTKTerm only asks
// whether there is one).
#include "modemlines.h"

#include <cstdlib>
#include <dlfcn.h>

extern "C" void *g_udev_client_query_by_device_file(void *client, const char *file)
{
    using Query = void *(*)(void *, const char *);
    static const auto next = reinterpret_cast<Query>(::dlsym(RTLD_NEXT, "g_udev_client_query_by_device_file"));
    void *device = next ? next(client, file) : nullptr;
    const char *dir = std::getenv("MODEMTERM_LINESHIM_DIR");
    const int fd = device || !dir ? -1 : ::open(file, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        const std::string lines = ModemLineState::file(dir, fd);
        ::close(fd);
        if (::access(lines.c_str(), F_OK) == 0)
            device = next(client, "/dev/tty");
    }
    return device;
}
