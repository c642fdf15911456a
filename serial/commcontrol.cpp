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

void CommControl::setPortOpen(bool open)
{
    if (open == m_open) {
        if (open)
            throw CommError(CommError::PortAlreadyOpen, portName());
        return;
    }
    if (open) {
        // Open while the device opens, so what it reports meanwhile counts.
        ++m_openings;
        m_open = true;
        try {
            openDevice();
        } catch (...) {
            m_open = false;
            throw;
        }
        return;
    }
    closeDevice();
    m_open = false;
}

void CommControl::setOutput(const QByteArray &bytes)
{
    if (!m_open)
        throw CommError(CommError::PortNotOpen, portName());
    writeDevice(bytes);
}

QByteArray CommControl::Input()
{
    if (!m_open)
        throw CommError(CommError::PortNotOpen, portName());
    return readDevice();
}

void CommControl::portLost(const CommError &error)
{
    if (!m_open)
        return;
    m_open = false;
    try {
        closeDevice();
    } catch (const CommError &) {
        // Already gone: the loss is what is told.
    }
    QMetaObject::invokeMethod(
        this,
        [this, error, opening = m_openings] {
            if (opening == m_openings && !m_open)
                Q_EMIT PortFailed(error);
        },
        Qt::QueuedConnection);
}

void CommControl::setSettings(const QString &settings)
{
    m_settings = LineSettings::parse(settings);
}

void CommControl::setHandshaking(int handshaking)
{
    if (handshaking < comNone || handshaking > comRTS)
        throw CommError(CommError::InvalidPropertyValue, QStringLiteral("Handshaking = %1").arg(handshaking));
    m_handshaking = HandshakeConstants(handshaking);
}

QString CommControl::handshakingName(int handshaking)
{
    switch (handshaking) {
    case comRTS:
        return QStringLiteral("sterowanie przepływem RTS/CTS");
    case comXOnXoff:
        return QStringLiteral("sterowanie przepływem XON/XOFF");
    default:
        return QStringLiteral("bez sterowania przepływem");
    }
}

void CommControl::setRThreshold(int threshold)
{
    if (threshold < 0)
        throw CommError(CommError::InvalidPropertyValue,
                        QStringLiteral("RThreshold = %1").arg(threshold));
    m_rThreshold = threshold;
}

void CommControl::setSThreshold(int threshold)
{
    if (threshold < 0)
        throw CommError(CommError::InvalidPropertyValue,
                        QStringLiteral("SThreshold = %1").arg(threshold));
    m_sThreshold = threshold;
}

void CommControl::sent(qint64 stillWaiting)
{
    if (m_open && m_sThreshold > 0 && stillWaiting < m_sThreshold)
        raiseComm(comEvSend);
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
