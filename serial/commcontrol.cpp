// SPDX-License-Identifier: MIT
#include "commcontrol.h"

CommControl::CommControl(QObject *parent)
    : QObject(parent)
{
}

CommControl::~CommControl() = default;

void CommControl::setCommPort(int port)
{
    if (PortOpen())
        throw CommError(CommError::PortAlreadyOpen);
    if (port < 1 || port > 255)
        throw CommError(CommError::PortNotFound, QStringLiteral("COM%1").arg(port));
    m_commPort = port;
}

void CommControl::setSettings(const QString &settings)
{
    m_settings = LineSettings::parse(settings);
}

void CommControl::setRThreshold(int threshold)
{
    if (threshold < 0)
        throw CommError(CommError::InvalidPropertyValue,
                        QStringLiteral("RThreshold = %1").arg(threshold));
    m_rThreshold = threshold;
}

void CommControl::setOutBufferCount(int count)
{
    if (count != 0)
        throw CommError(CommError::InvalidPropertyValue, QStringLiteral("OutBufferCount = %1").arg(count));
}

void CommControl::setDTREnable(bool on)
{
    m_dtr = on;
}

void CommControl::setRTSEnable(bool on)
{
    m_rts = on;
}

void CommControl::raiseComm(int code)
{
    m_commEvent = code;
    Q_EMIT OnComm();
}
