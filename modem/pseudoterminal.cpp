// SPDX-License-Identifier: MIT
#include "pseudoterminal.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
    if (m_terminal >= 0)
        ::close(m_terminal);
}

bool PseudoTerminal::open()
{
    char name[256] = {};
    int master = -1;
    int terminal = -1;
    if (::openpty(&master, &terminal, name, nullptr, nullptr) != 0)
        return false;
    termios tio{};
    ::tcgetattr(terminal, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B9600);
    ::tcsetattr(terminal, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
    m_master = master;
    m_terminal = terminal;
    m_path = QString::fromLocal8Bit(name);
    return true;
}

bool PseudoTerminal::write(QByteArrayView bytes, const std::function<void()> &whileFull)
{
    qsizetype done = 0;
    while (done < bytes.size() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            if (whileFull)
                whileFull();
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, whileFull ? 5 : 100);
        }
    }
    return done == bytes.size();
}

QByteArray PseudoTerminal::readAvailable()
{
    QByteArray out;
    char buf[65536];
    while (m_master >= 0) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    return out;
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
