// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// A serial port served over the network, as --port names it:
// rfc2217://HOST:PORT (Telnet with the COM-PORT option: bytes and lines) or
// socket://HOST:PORT (plain TCP: bytes only). HOST is a name, an IPv4
// address or an IPv6 address in brackets.
struct NetworkAddress
{
    enum class Scheme { Rfc2217, RawTcp };

    Scheme scheme = Scheme::Rfc2217;
    QString host; // without brackets
    quint16 port = 0;
    QString url;  // as given, for messages

    // Whether `name` is meant as a network address (it has a scheme), valid or not.
    static bool looksLikeUrl(const QString &name);
    // The address, or nothing with `why` saying in Polish what is wrong.
    static std::optional<NetworkAddress> parse(const QString &url, QString *why = nullptr);
};
