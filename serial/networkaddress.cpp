// SPDX-License-Identifier: MIT
#include "networkaddress.h"

#include <QHostAddress>

namespace {

std::optional<NetworkAddress> refuse(QString *why, const QString &text)
{
    if (why)
        *why = text;
    return std::nullopt;
}

bool isHostName(QStringView host)
{
    for (QChar c : host) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'.' && c != u'_')
            return false;
    }
    return !host.isEmpty();
}

} // namespace

bool NetworkAddress::looksLikeUrl(const QString &name)
{
    return name.contains(QLatin1String("://"));
}

std::optional<NetworkAddress> NetworkAddress::parse(const QString &url, QString *why)
{
    NetworkAddress address;
    address.url = url;
    const qsizetype schemeEnd = url.indexOf(QLatin1String("://"));
    const QString scheme = url.left(schemeEnd).toLower();
    if (scheme == QLatin1String("rfc2217"))
        address.scheme = Scheme::Rfc2217;
    else if (scheme == QLatin1String("socket"))
        address.scheme = Scheme::RawTcp;
    else
        return refuse(why, QStringLiteral("nieznany rodzaj adresu „%1”; port sieciowy to "
                                          "rfc2217://HOST:PORT albo socket://HOST:PORT")
                               .arg(url));

    QStringView rest = QStringView(url).mid(schemeEnd + 3);
    if (rest.endsWith(u'/'))
        rest.chop(1);
    QStringView host;
    QStringView port;
    bool hasPort = false;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 0)
            return refuse(why, QStringLiteral("w adresie „%1” brak nawiasu ] po adresie IPv6").arg(url));
        host = rest.mid(1, close - 1);
        if (QHostAddress(host.toString()).protocol() != QAbstractSocket::IPv6Protocol)
            return refuse(why, QStringLiteral("w adresie „%1” w nawiasach nie ma adresu IPv6").arg(url));
        hasPort = rest.mid(close + 1).startsWith(u':');
        port = rest.mid(close + 2);
        if (!hasPort && close + 1 < rest.size())
            return refuse(why, QStringLiteral("w adresie „%1” po nawiasie ] musi stać :PORT").arg(url));
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        hasPort = colon >= 0;
        host = hasPort ? rest.left(colon) : rest;
        port = hasPort ? rest.mid(colon + 1) : QStringView();
        if (host.contains(u':'))
            return refuse(why, QStringLiteral("w adresie „%1” adres IPv6 musi stać w nawiasach, "
                                              "np. rfc2217://[::1]:2217")
                                   .arg(url));
        if (host.isEmpty())
            return refuse(why, QStringLiteral("w adresie „%1” brak nazwy lub adresu hosta").arg(url));
        if (!isHostName(host))
            return refuse(why, QStringLiteral("„%1” nie jest nazwą hosta").arg(host.toString()));
    }
    if (!hasPort || port.isEmpty())
        return refuse(why, QStringLiteral("w adresie „%1” brak numeru portu TCP (…:PORT)").arg(url));
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number < 1 || number > 65535 || !port.front().isDigit())
        return refuse(why, QStringLiteral("numer portu TCP w „%1” musi być liczbą od 1 do 65535").arg(url));
    address.host = host.toString();
    address.port = quint16(number);
    return address;
}
