// SPDX-License-Identifier: MIT
// ptytap DEVICE LINK 3>SENT 4>RECEIVED: a new pseudo-terminal, LINK pointing
// at its terminal side, relayed to DEVICE until ptytap is ended. What the
// program on LINK writes is copied to descriptor 3, what DEVICE answers to
// descriptor 4, as it passes.
//
// Both sides are read every 20 ms whether or not poll() says so: some kernels
// (seen on Linux 6.18) now and then leave bytes in a pseudo-terminal without
// reporting it readable until a read() looks.
#include "pseudoterminal.h"

#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    PseudoTerminal tap;
    // Reading the device never waits; writing to it waits until it took all.
    const int reader = ::open(argv[1], O_RDONLY | O_NOCTTY | O_NONBLOCK);
    const int writer = ::open(argv[1], O_WRONLY | O_NOCTTY);
    if (reader < 0 || writer < 0 || !tap.open() || ::symlink(tap.path().toLocal8Bit().constData(), argv[2]) != 0)
        return std::perror("ptytap DEVICE LINK 3>SENT 4>RECEIVED"), 1;
    for (char buf[4096];;) {
        pollfd fds[2] = {{tap.masterFd(), POLLIN, 0}, {reader, POLLIN, 0}};
        ::poll(fds, 2, 20);
        const QByteArray sent = tap.readAvailable();
        const ssize_t n = ::read(reader, buf, sizeof buf);
        if (::write(3, sent.constData(), size_t(sent.size())) != sent.size()
            || ::write(writer, sent.constData(), size_t(sent.size())) != sent.size()
            || (n > 0 && ::write(4, buf, size_t(n)) != n) || (n > 0 && !tap.write(QByteArrayView(buf, n))))
            return std::perror("ptytap"), 1;
    }
}
