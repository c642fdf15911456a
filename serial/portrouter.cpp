// SPDX-License-Identifier: MIT
#include "portrouter.h"

#include "networkaddress.h"
#include "networkcomm.h"
#include "portnaming.h"
#include "serialportcomm.h"

#include <QFileInfo>
#ifdef Q_OS_WIN
#include <QSerialPortInfo>
#endif

PortRouter::PortRouter(QObject *parent)
    : CommControl(parent)
{
}

PortRouter::~PortRouter()
{
    dropBackEnd();
}

void PortRouter::bindPort(int port, const QString &deviceName)
{
    m_bindings.insert(port, deviceName);
}

QString PortRouter::deviceName(int port) const
{
    return m_bindings.value(port, PortNaming::deviceForNumber(port));
}

void PortRouter::registerDevice(const QString &name, Factory factory)
{
    m_factories.insert(name.toLower(), std::move(factory));
}

bool PortRouter::deviceExists(int port) const
{
    const QString name = deviceName(port);
    if (m_factories.contains(name.toLower()) || NetworkAddress::looksLikeUrl(name))
        return true;
#ifdef Q_OS_WIN
    return !QSerialPortInfo(name).isNull();
#else
    // Follows a symbolic link (a by-id name, a modemsim link) to its device.
    return QFileInfo::exists(PortNaming::systemDeviceName(name));
#endif
}

CommControl *PortRouter::createBackEnd(const QString &name)
{
    const auto special = m_factories.constFind(name.toLower());
    if (special != m_factories.cend())
        return (*special)(this);
    if (NetworkAddress::looksLikeUrl(name)) {
        QString why;
        const std::optional<NetworkAddress> address = NetworkAddress::parse(name, &why);
        if (!address)
            throw CommError(CommError::PortNotFound, why);
        return new NetworkComm(*address, this);
    }
    return new SerialPortComm(PortNaming::systemDeviceName(name), this);
}

void PortRouter::openDevice()
{
    m_backEnd = openBackEnd();
}

void PortRouter::closeDevice()
{
    dropBackEnd();
}

CommControl *PortRouter::openBackEnd()
{
    CommControl *backEnd = createBackEnd(deviceName(CommPort()));
    if (!backEnd)
        throw CommError(CommError::PortNotFound, deviceName(CommPort()));
    try {
        backEnd->setSettings(Settings());
        backEnd->setHandshaking(Handshaking());
        backEnd->setRThreshold(RThreshold());
        backEnd->setSThreshold(SThreshold());
        backEnd->setDTREnable(DTREnable());
        backEnd->setRTSEnable(rtsWanted());
        backEnd->setPortOpen(true);
    } catch (...) {
        backEnd->deleteLater();
        throw;
    }
    connect(backEnd, &CommControl::OnComm, this, [this, backEnd] { raiseComm(backEnd->CommEvent()); });
    connect(backEnd, &CommControl::PortFailed, this, &PortRouter::portLost);
    return backEnd;
}

void PortRouter::dropBackEnd()
{
    CommControl *backEnd = m_backEnd;
    m_backEnd = nullptr;
    if (!backEnd)
        return;
    backEnd->disconnect(this);
    try {
        backEnd->setPortOpen(false);
    } catch (...) {
        // Closing is best effort: the back end goes away regardless.
    }
    // It may be the sender whose signal we are handling.
    backEnd->deleteLater();
}

void PortRouter::setSettings(const QString &settings)
{
    if (m_backEnd)
        m_backEnd->setSettings(settings);
    CommControl::setSettings(settings);
}

void PortRouter::setHandshaking(int handshaking)
{
    if (m_backEnd)
        m_backEnd->setHandshaking(handshaking);
    CommControl::setHandshaking(handshaking);
}

void PortRouter::setSThreshold(int threshold)
{
    CommControl::setSThreshold(threshold);
    if (m_backEnd)
        m_backEnd->setSThreshold(threshold);
}

void PortRouter::setRThreshold(int threshold)
{
    CommControl::setRThreshold(threshold);
    if (m_backEnd)
        m_backEnd->setRThreshold(threshold);
}

void PortRouter::writeDevice(const QByteArray &bytes)
{
    m_backEnd->setOutput(bytes);
}

QByteArray PortRouter::readDevice()
{
    return m_backEnd->Input();
}

int PortRouter::OutBufferCount() const
{
    return m_backEnd ? m_backEnd->OutBufferCount() : 0;
}

void PortRouter::setOutBufferCount(int count)
{
    if (m_backEnd)
        m_backEnd->setOutBufferCount(count);
    else
        CommControl::setOutBufferCount(count);
}

bool PortRouter::CDHolding() const
{
    return m_backEnd && m_backEnd->CDHolding();
}

bool PortRouter::CTSHolding() const
{
    return m_backEnd && m_backEnd->CTSHolding();
}

bool PortRouter::DSRHolding() const
{
    return m_backEnd && m_backEnd->DSRHolding();
}

void PortRouter::setDTREnable(bool on)
{
    if (m_backEnd)
        m_backEnd->setDTREnable(on);
    CommControl::setDTREnable(on);
}

void PortRouter::setRTSEnable(bool on)
{
    if (m_backEnd)
        m_backEnd->setRTSEnable(on);
    CommControl::setRTSEnable(on);
}

bool PortRouter::RTSEnable() const
{
    return m_backEnd ? m_backEnd->RTSEnable() : CommControl::RTSEnable();
}
