// SPDX-License-Identifier: MIT
// ptytap DEVICE LINK 3>SENT 4>RECEIVED: a new pseudo-terminal, LINK pointing
// at its terminal side, relayed to DEVICE until DEVICE hangs up. What the
// program on LINK writes is copied to descriptor 3, what DEVICE answers to
// descriptor 4, as it passes.
//
// Both sides are read every 20 ms whether or not poll() says so: some kernels
// (seen on Linux 6.18) now and then leave bytes in a pseudo-terminal without
// reporting it readable until a read() looks.
#include "pseudoterminal.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 3)
        return std::fprintf(stderr, "usage: ptytap DEVICE LINK 3>SENT 4>RECEIVED\n"), 2;
    PseudoTerminal tap;
    const int device = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios raw{};
    if (!tap.open() || device < 0 || ::tcgetattr(device, &raw) != 0)
        return std::perror("ptytap"), 1;
    ::cfmakeraw(&raw);
    ::tcsetattr(device, TCSANOW, &raw);
    if (::symlink(tap.path().toLocal8Bit().constData(), argv[2]) != 0)
        return std::perror("ptytap: symlink"), 1;

    for (char buf[4096];;) {
        pollfd fds[2] = {{tap.masterFd(), POLLIN, 0}, {device, POLLIN, 0}};
        if (::poll(fds, 2, 20) < 0 && errno != EINTR)
            return std::perror("ptytap: poll"), 1;
        const QByteArray sent = tap.readAvailable();
        if (::write(3, sent.constData(), size_t(sent.size())) != sent.size())
            return std::perror("ptytap: descriptor 3"), 1;
        for (qsizetype done = 0; done < sent.size();) { // the device takes all before we go on
            const ssize_t n = ::write(device, sent.constData() + done, size_t(sent.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return std::perror("ptytap: device"), 1;
            } else {
                pollfd room{device, POLLOUT, 0};
                ::poll(&room, 1, 20);
            }
        }
        const ssize_t n = ::read(device, buf, sizeof buf);
        if (n > 0 && ::write(4, buf, size_t(n)) == n)
            tap.write(QByteArrayView(buf, n));
        if ((n < 0 && errno == EIO) || (fds[1].revents & (POLLHUP | POLLERR))) // the device's side is gone
            return std::fprintf(stderr, "ptytap: device hung up\n"), 0;
    }
}
