// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>

// The serial ports present on this machine, as --list-ports prints them.
namespace PortList {

struct Port
{
    QString device;       // "/dev/ttyUSB0"
    QString stableName;   // "/dev/serial/by-id/usb-…-if00-port0"; empty without one
    QString usbId;        // vendor and product, "0403:6001"; empty off USB
    QString serialNumber;
    QString description;  // as the driver describes the device
    QString holder;       // the program that has it open; empty when free
};

// Stable names are the symbolic links in `stableNames` that lead to a port.
QList<Port> present(const QString &stableNames = QStringLiteral("/dev/serial/by-id"));

// One port a line, its fields separated by tabs, "-" for what is not known:
// device, stable name, USB ids, serial number, description, "wolny" or
// "zajęty: <who>". No ports: one line saying so.
QString format(const QList<Port> &ports);

} // namespace PortList
