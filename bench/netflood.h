// SPDX-License-Identifier: MIT
#pragma once

#include <string>

// The far end of a network port for the benchmark: a loopback TCP server the
// terminal connects to (modemterm --port url()), answering like ser2net does
// for RFC 2217 (it agrees to COM-PORT and reports the modem lines) or as a
// plain socket. The benchmark writes data to it and reads what the terminal
// sends from fd().
class NetFlood
{
public:
    enum class Kind { Rfc2217, RawTcp };

    explicit NetFlood(Kind kind);
    ~NetFlood();
    NetFlood(const NetFlood &) = delete;
    NetFlood &operator=(const NetFlood &) = delete;

    std::string url() const;
    // Waits for the terminal to connect and greets it; false after `timeoutMs`.
    bool accept(int timeoutMs);
    // The connection, for reading what the terminal sends (raw, Telnet included).
    int fd() const { return m_connection; }
    // Sends data bytes (0xFF escaped for RFC 2217), blocking until the system took them.
    void writeAll(const char *data, size_t size);

private:
    void writeRaw(const char *data, size_t size);

    Kind m_kind;
    int m_listener = -1;
    int m_connection = -1;
    int m_port = 0;
    std::string m_escaped;
};
