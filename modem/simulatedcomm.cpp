// SPDX-License-Identifier: MIT
#include "simulatedcomm.h"

#include "hayesmodem.h"

SimulatedComm::SimulatedComm(QObject *parent)
    : CommControl(parent)
    , m_modem(new HayesModem(this))
{
    // Queued: the modem may answer while the caller is still inside setOutput()
    // or setDTREnable(), and OnComm must not run in the middle of that.
    connect(m_modem, &HayesModem::outputReady, this, &SimulatedComm::announceReceived,
            Qt::QueuedConnection);
    connect(m_modem, &HayesModem::ctsChanged, this, [this] { announceLine(comEvCTS); },
            Qt::QueuedConnection);
    connect(m_modem, &HayesModem::dsrChanged, this, [this] { announceLine(comEvDSR); },
            Qt::QueuedConnection);
    connect(m_modem, &HayesModem::cdChanged, this, [this] { announceLine(comEvCD); },
            Qt::QueuedConnection);
}

SimulatedComm::~SimulatedComm() = default;

void SimulatedComm::setSettings(const QString &settings)
{
    CommControl::setSettings(settings);
    m_modem->setLineSettings(lineSettings());
}

// Under comRTS the "driver" keeps RTS up: the line never fills here.
void SimulatedComm::setHandshaking(int handshaking)
{
    CommControl::setHandshaking(handshaking);
    if (PortOpen())
        m_modem->setRts(RTSEnable());
}

void SimulatedComm::setRThreshold(int threshold)
{
    CommControl::setRThreshold(threshold);
    // Bytes already waiting may now be enough for an event.
    QMetaObject::invokeMethod(this, &SimulatedComm::announceReceived, Qt::QueuedConnection);
}

void SimulatedComm::openDevice()
{
    // A port opens with empty buffers.
    m_modem->discardOutput();
    m_modem->setLineSettings(lineSettings());
    m_modem->setDtr(DTREnable());
    m_modem->setRts(RTSEnable());
}

void SimulatedComm::closeDevice()
{
    m_modem->setDtr(false);
    m_modem->setRts(false);
    m_modem->discardOutput();
}

void SimulatedComm::writeDevice(const QByteArray &bytes)
{
    m_modem->receive(bytes);
}

QByteArray SimulatedComm::readDevice()
{
    return m_modem->takeOutput();
}

QString SimulatedComm::portName() const
{
    return QStringLiteral("sim");
}

bool SimulatedComm::CDHolding() const
{
    return PortOpen() && m_modem->cd();
}

bool SimulatedComm::CTSHolding() const
{
    return PortOpen() && m_modem->cts();
}

bool SimulatedComm::DSRHolding() const
{
    return PortOpen() && m_modem->dsr();
}

void SimulatedComm::setDTREnable(bool on)
{
    CommControl::setDTREnable(on);
    if (PortOpen())
        m_modem->setDtr(on);
}

void SimulatedComm::setRTSEnable(bool on)
{
    CommControl::setRTSEnable(on);
    if (PortOpen())
        m_modem->setRts(RTSEnable());
}

void SimulatedComm::announceReceived()
{
    const int threshold = RThreshold();
    if (PortOpen() && threshold > 0 && m_modem->outputAvailable() >= threshold)
        raiseComm(comEvReceive);
}

void SimulatedComm::announceLine(int code)
{
    if (PortOpen())
        raiseComm(code);
}
