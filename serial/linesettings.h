// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// "baud,parity,data,stop" as the serial control's Settings property spells it,
// for example "9600,N,8,1".
struct LineSettings
{
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    qint32 baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Throws CommError(InvalidPropertyValue) with a description that says what is
    // wrong; never falls back to a default.
    static LineSettings parse(const QString &text);
    QString toString() const;

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};
