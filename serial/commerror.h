// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <exception>

// Every failure of the serial layer is one of these: a number the user can quote
// and a Polish description. `detail` optionally names the device and the
// operating system's own reason; it is shown on a second line, never instead.
class CommError : public std::exception
{
public:
    enum Number : int {
        InvalidPropertyValue = 380, // a malformed Settings string, a negative threshold
        PortAlreadyOpen = 8005,     // CommPort changed while open
        PortNotFound = 8002,        // no such port, or its number is invalid
        PortInUse = 8003,           // another program holds the device
        PermissionDenied = 8004,    // the user may not open the device
        PortNotOpen = 8012,         // an operation that needs an open port
        SettingsRejected = 8015,    // the device refused the line settings
        WriteFailed = 8020,
        ReadFailed = 8021,
        DeviceLost = 8022,          // the device went away while open
        LineControlFailed = 8023,   // DTR or RTS could not be switched
        UnknownFailure = 8099,
    };

    // No error (number 0); lets signal spies and QVariant hold a CommError.
    CommError() : CommError(0, QString()) {}
    CommError(int number, QString description, QString detail = {});
    // The description comes from the table of numbers.
    explicit CommError(Number number, QString detail = {});

    int number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const QString &detail() const noexcept { return m_detail; }
    const char *what() const noexcept override;

    // The Polish description of a number from the table; empty for unknown numbers.
    static QString describe(int number);

private:
    int m_number;
    QString m_description;
    QString m_detail;
    QByteArray m_what;
};
