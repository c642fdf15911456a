// SPDX-License-Identifier: MIT
#include "portnaming.h"

#include <QRegularExpression>

namespace PortNaming {

QString deviceForNumber(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(port);
#else
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString systemDeviceName(const QString &name)
{
#ifdef Q_OS_WIN
    return name;
#else
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,2})$"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = comName.match(name);
    return m.hasMatch() ? deviceForNumber(m.captured(1).toInt()) : name;
#endif
}

} // namespace PortNaming
