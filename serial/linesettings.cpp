// SPDX-License-Identifier: MIT
#include "linesettings.h"

#include "commerror.h"

#include <QStringList>

namespace {

[[noreturn]] void reject(const QString &text, const QString &why)
{
    // The reason is the description itself: it is what the user has to fix.
    throw CommError(int(CommError::InvalidPropertyValue),
                    QStringLiteral("Nieprawidłowe ustawienia portu: %1").arg(why),
                    QStringLiteral("Settings = \"%1\"").arg(text));
}

} // namespace

LineSettings LineSettings::parse(const QString &text)
{
    const QStringList parts = text.split(u',');
    if (parts.size() != 4)
        reject(text, QStringLiteral("oczekiwano czterech pól: prędkość,parzystość,bity danych,bity stopu"));

    LineSettings s;
    bool ok = false;
    const QString baud = parts[0].trimmed();
    const qlonglong rate = baud.toLongLong(&ok);
    if (!ok || rate < 50 || rate > 4000000)
        reject(text, QStringLiteral("prędkość musi być liczbą od 50 do 4000000"));
    s.baudRate = qint32(rate);

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == u"N")
        s.parity = Parity::None;
    else if (parity == u"E")
        s.parity = Parity::Even;
    else if (parity == u"O")
        s.parity = Parity::Odd;
    else if (parity == u"M")
        s.parity = Parity::Mark;
    else if (parity == u"S")
        s.parity = Parity::Space;
    else
        reject(text, QStringLiteral("parzystość musi być jedną z liter N, E, O, M, S"));

    const int data = parts[2].trimmed().toInt(&ok);
    if (!ok || data < 5 || data > 8)
        reject(text, QStringLiteral("liczba bitów danych musi wynosić od 5 do 8"));
    s.dataBits = data;

    const QString stop = parts[3].trimmed();
    if (stop == u"1")
        s.stopBits = StopBits::One;
    else if (stop == u"1.5")
        s.stopBits = StopBits::OneAndHalf;
    else if (stop == u"2")
        s.stopBits = StopBits::Two;
    else
        reject(text, QStringLiteral("liczba bitów stopu musi wynosić 1, 1.5 lub 2"));

    return s;
}

QString LineSettings::toString() const
{
    static constexpr char16_t parityLetters[] = u"NEOMS";
    const QString stop = stopBits == StopBits::One          ? QStringLiteral("1")
                         : stopBits == StopBits::OneAndHalf ? QStringLiteral("1.5")
                                                            : QStringLiteral("2");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QChar(parityLetters[int(parity)]))
        .arg(dataBits)
        .arg(stop);
}
