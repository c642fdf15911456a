// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The serial ports present on this machine, as --list-ports prints them.
namespace PortList {

struct Port
{
    QString device;       // "/dev/ttyUSB0"
    QByteArray stableName; // "/dev/serial/by-id/usb-…-if00-port0", as the file system has it; empty without one
    QString usbId;        // vendor and product, "0403:6001"; empty off USB
    QString serialNumber;
    QString description;  // as the driver describes the device
    QString holder;       // the program that has it open; empty when free
};

// Stable names are the symbolic links in `stableNames` that lead to a port.
QList<Port> present(const QString &stableNames = QStringLiteral("/dev/serial/by-id"));

// One port a line, its fields separated by tabs, "-" for what is not known:
// device, stable name, USB ids, serial number, description, "wolny" or
// "zajęty: <who>". No ports: one line saying so. Whatever a field holds, a
// port stays one line: control characters, a backslash and bytes that are
// not UTF-8 are written as escapes ("\t", "\\", "\x9f", "\u0085").
QString format(const QList<Port> &ports);

} // namespace PortList
