// SPDX-License-Identifier: MIT
#include "portlist.h"

#include "devicelock.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <algorithm>

namespace PortList {

namespace {

// Device (as its real path) to the first of its stable names.
QHash<QString, QString> stableNamesByDevice(const QString &directory)
{
    QHash<QString, QString> names;
    const QDir dir(directory);
    for (const QString &entry : dir.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString link = dir.filePath(entry);
        const QString device = QFileInfo(link).canonicalFilePath();
        if (!device.isEmpty() && !names.contains(device))
            names.insert(device, link);
    }
    return names;
}

QString orDash(const QString &field)
{
    return field.isEmpty() ? QStringLiteral("-") : field;
}

} // namespace

QList<Port> present(const QString &stableNames)
{
    const QHash<QString, QString> stable = stableNamesByDevice(stableNames);
    QList<Port> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        Port port;
        port.device = info.systemLocation();
        port.stableName = stable.value(QFileInfo(port.device).canonicalFilePath());
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            port.usbId = QStringLiteral("%1:%2")
                             .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                             .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        port.serialNumber = info.serialNumber();
        port.description = info.description();
        port.holder = DeviceLock::lockFileHolder(port.device);
        if (port.holder.isEmpty())
            port.holder = DeviceLock::processesHolding(port.device);
        ports.append(port);
    }
    std::sort(ports.begin(), ports.end(), [](const Port &a, const Port &b) { return a.device < b.device; });
    return ports;
}

QString format(const QList<Port> &ports)
{
    if (ports.isEmpty())
        return QStringLiteral("Nie znaleziono żadnego portu szeregowego.\n");
    QString out;
    for (const Port &port : ports) {
        const QString state = port.holder.isEmpty() ? QStringLiteral("wolny")
                                                    : QStringLiteral("zajęty: ") + port.holder;
        out += QStringList{port.device, orDash(port.stableName), orDash(port.usbId),
                           orDash(port.serialNumber), orDash(port.description), state}
                   .join(u'\t')
               + u'\n';
    }
    return out;
}

} // namespace PortList
