// SPDX-License-Identifier: MIT
// ptytap DEVICE LINK LOG: a new pseudo-terminal, LINK pointing at its terminal
// side, relayed to DEVICE until DEVICE hangs up. What the program on LINK
// writes is appended to LOG.out, what DEVICE answers to LOG.in, as it passes.
#include "pseudoterminal.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc != 4)
        return std::fprintf(stderr, "usage: ptytap DEVICE LINK LOG\n"), 2;
    PseudoTerminal tap;
    const int device = ::open(argv[1], O_RDWR | O_NOCTTY);
    termios raw{};
    const QString log = QString::fromLocal8Bit(argv[3]);
    QFile out(log + QStringLiteral(".out")), in(log + QStringLiteral(".in"));
    if (!tap.open() || device < 0 || ::tcgetattr(device, &raw) != 0 || !out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
        || !in.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return std::perror("ptytap"), 1;
    ::cfmakeraw(&raw);
    ::tcsetattr(device, TCSANOW, &raw);
    ::unlink(argv[2]);
    if (::symlink(tap.path().toLocal8Bit().constData(), argv[2]) != 0)
        return std::perror("ptytap: symlink"), 1;

    for (char buf[4096];;) {
        pollfd fds[2] = {{tap.masterFd(), POLLIN, 0}, {device, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return std::perror("ptytap: poll"), 1;
        if (fds[0].revents & POLLIN) { // the device blocks until it has taken all
            const QByteArray sent = tap.readAvailable();
            out.write(sent);
            for (qsizetype done = 0, n = 0; done < sent.size() && n >= 0; done += std::max<qsizetype>(n, 0))
                n = ::write(device, sent.constData() + done, size_t(sent.size() - done));
        }
        const ssize_t n = fds[1].revents & POLLIN ? ::read(device, buf, sizeof buf) : 0;
        if (n > 0 && in.write(buf, n) == n)
            tap.write(QByteArrayView(buf, n));
        if (fds[1].revents & (POLLHUP | POLLERR))
            return std::fprintf(stderr, "ptytap: device hung up\n"), 0;
    }
}
