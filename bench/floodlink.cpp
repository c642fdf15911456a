// SPDX-License-Identifier: MIT
#include "floodlink.h"

#include "benchprocess.h"

#include <fcntl.h>
#include <sys/ioctl.h>

Pty::Pty()
{
    if (!open())
        fail("openpty");
    fcntl(masterFd(), F_SETFL, fcntl(masterFd(), F_GETFL) & ~O_NONBLOCK);
}

int Pty::pending() const
{
    int n = 0;
    ioctl(terminalFd(), FIONREAD, &n);
    return n;
}

void Pty::writeAll(const QByteArray &bytes)
{
    if (!write(bytes))
        fail("write to the pseudo-terminal");
}

FloodLink::FloodLink(Kind kind)
    : m_kind(kind)
{
    if (kind == Kind::Pty)
        m_pty = std::make_unique<Pty>();
    else
        m_net = std::make_unique<NetFlood>(kind == Kind::Rfc2217 ? NetFlood::Kind::Rfc2217 : NetFlood::Kind::RawTcp);
}

std::string FloodLink::port() const
{
    return m_pty ? m_pty->slave() : m_net->url();
}

bool FloodLink::connect(int timeoutMs)
{
    return m_pty || m_net->accept(timeoutMs);
}

int FloodLink::fd() const
{
    return m_pty ? m_pty->masterFd() : m_net->fd();
}

void FloodLink::writeAll(const QByteArray &bytes)
{
    if (m_pty)
        m_pty->writeAll(bytes);
    else
        m_net->writeAll(bytes.constData(), size_t(bytes.size()));
}
