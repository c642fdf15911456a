// SPDX-License-Identifier: MIT
#include "portlist.h"

#include "devicelock.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstdlib>

#include <dirent.h>

namespace PortList {

namespace {

// Device (as its real path) to the first of its stable names, read as bytes:
// a name need not be UTF-8.
QHash<QByteArray, QByteArray> stableNamesByDevice(const QString &directory)
{
    QHash<QByteArray, QByteArray> names;
    const QByteArray dirName = QFile::encodeName(directory);
    DIR *dir = ::opendir(dirName.constData());
    if (!dir)
        return names;
    QList<QByteArray> links;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            links.append(dirName + '/' + name);
    }
    ::closedir(dir);
    std::sort(links.begin(), links.end());
    for (const QByteArray &link : std::as_const(links)) {
        if (char *real = ::realpath(link.constData(), nullptr)) {
            const QByteArray device(real);
            std::free(real);
            if (!names.contains(device))
                names.insert(device, link);
        }
    }
    return names;
}

QString orDash(const QString &field)
{
    return field.isEmpty() ? QStringLiteral("-") : field;
}

// A character that must not reach the terminal as it is: it would end the
// line, split a field or move the cursor.
bool needsEscape(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == u'\\' || c == 0x2028 || c == 0x2029;
}

QString escape(char32_t c)
{
    switch (c) {
    case u'\t':
        return QStringLiteral("\\t");
    case u'\n':
        return QStringLiteral("\\n");
    case u'\r':
        return QStringLiteral("\\r");
    case u'\\':
        return QStringLiteral("\\\\");
    default:
        return c < 0x80 ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                        : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'));
    }
}

// One field, each port on one line whatever it holds: UTF-8 as it is, control
// characters escaped, bytes that are not UTF-8 as "\x9f".
QString printable(QByteArrayView bytes)
{
    QString out;
    for (qsizetype i = 0; i < bytes.size();) {
        const uchar lead = uchar(bytes[i]);
        const qsizetype length = lead < 0x80 ? 1 : (lead & 0xe0) == 0xc0 ? 2 : (lead & 0xf0) == 0xe0 ? 3
                               : (lead & 0xf8) == 0xf0                 ? 4 : 0;
        QString character;
        if (length > 0 && i + length <= bytes.size()) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            character = utf8(bytes.sliced(i, length));
            if (utf8.hasError())
                character.clear();
        }
        if (character.isEmpty()) {
            out += QStringLiteral("\\x%1").arg(uint(lead), 2, 16, QLatin1Char('0'));
            ++i;
            continue;
        }
        const char32_t c = character.toUcs4().value(0);
        out += needsEscape(c) ? escape(c) : character;
        i += length;
    }
    return out;
}

QString printable(const QString &field)
{
    return printable(QByteArrayView(field.toUtf8()));
}

} // namespace

QList<Port> present(const QString &stableNames)
{
    const QHash<QByteArray, QByteArray> stable = stableNamesByDevice(stableNames);
    QList<Port> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        Port port;
        port.device = info.systemLocation();
        port.stableName = stable.value(QFile::encodeName(QFileInfo(port.device).canonicalFilePath()));
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
        out += QStringList{printable(port.device), orDash(printable(QByteArrayView(port.stableName))),
                           orDash(printable(port.usbId)), orDash(printable(port.serialNumber)),
                           orDash(printable(port.description)), printable(state)}
                   .join(u'\t')
               + u'\n';
    }
    return out;
}

} // namespace PortList
