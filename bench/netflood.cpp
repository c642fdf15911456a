// SPDX-License-Identifier: MIT
#include "netflood.h"

#include "benchprocess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// What ser2net says first (options agreed, COM-PORT asked for), then the
// modem lines as a NOTIFY-MODEMSTATE: CTS and DSR on.
constexpr unsigned char Rfc2217Greeting[] = {
    255, 251, 3, 255, 253, 3, 255, 253, 0, 255, 251, 0, 255, 253, 44,
    255, 250, 44, 107, 0x30, 255, 240,
};

} // namespace

NetFlood::NetFlood(Kind kind)
    : m_kind(kind)
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr *>(&addr), length) != 0
        || listen(m_listener, 1) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &length) != 0)
        fail("listening on 127.0.0.1");
    m_port = ntohs(addr.sin_port);
}

NetFlood::~NetFlood()
{
    if (m_connection >= 0)
        close(m_connection);
    close(m_listener);
}

std::string NetFlood::url() const
{
    return std::string(m_kind == Kind::Rfc2217 ? "rfc2217" : "socket") + "://127.0.0.1:" + std::to_string(m_port);
}

bool NetFlood::accept(int timeoutMs)
{
    pollfd p{m_listener, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0)
        return false;
    m_connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (m_connection < 0)
        fail("accept");
    const int on = 1;
    setsockopt(m_connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (m_kind == Kind::Rfc2217)
        writeRaw(reinterpret_cast<const char *>(Rfc2217Greeting), sizeof Rfc2217Greeting);
    return true;
}

void NetFlood::writeAll(const char *data, size_t size)
{
    if (m_kind == Kind::RawTcp || !std::memchr(data, 0xFF, size)) {
        writeRaw(data, size);
        return;
    }
    m_escaped.clear();
    for (size_t i = 0; i < size; ++i) {
        m_escaped += data[i];
        if (static_cast<unsigned char>(data[i]) == 0xFF)
            m_escaped += data[i];
    }
    writeRaw(m_escaped.data(), m_escaped.size());
}

void NetFlood::writeRaw(const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = send(m_connection, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail("write to the connection");
        }
        data += n;
        size -= size_t(n);
    }
}
