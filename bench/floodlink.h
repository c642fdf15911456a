// SPDX-License-Identifier: MIT
#pragma once

#include "netflood.h"
#include "pseudoterminal.h"

#include <QByteArray>

#include <memory>
#include <string>
#include <string_view>

// Characters the program shows for these bytes: CR LF, CR and LF are each one
// line break, every other byte one character. `afterCR` carries a CR at the
// end of one piece over to the next.
inline long long shownChars(std::string_view bytes, bool &afterCR)
{
    long long n = 0;
    for (const char c : bytes) {
        if (c == '\n' && afterCR) {
            afterCR = false;
            continue;
        }
        afterCR = c == '\r';
        ++n;
    }
    return n;
}

// A pseudo-terminal whose master blocks when the program falls behind, as a
// device's driver would.
struct Pty : PseudoTerminal
{
    Pty();
    std::string slave() const { return path().toStdString(); }
    // Bytes the reading side has not taken yet.
    int pending() const;
    void writeAll(const QByteArray &bytes);
};

// The device end of the program's port, played by the benchmark: the master
// of a pseudo-terminal, or a loopback server the program connects to over
// RFC 2217 or raw TCP. Either way the flood goes in through writeAll() and
// what the program sends comes out of fd().
class FloodLink
{
public:
    enum class Kind { Pty, Rfc2217, RawTcp };

    explicit FloodLink(Kind kind);

    Kind kind() const { return m_kind; }
    // The port the program opens (--port): a device path or a URL.
    std::string port() const;
    // Waits for the program to connect; a pseudo-terminal is there at once.
    // False after `timeoutMs`.
    bool connect(int timeoutMs);
    // Where the program's bytes arrive (Telnet included); valid from connect() on.
    int fd() const;
    void writeAll(const QByteArray &bytes);

private:
    Kind m_kind;
    std::unique_ptr<Pty> m_pty;
    std::unique_ptr<NetFlood> m_net;
};
