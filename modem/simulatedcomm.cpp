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

void SimulatedComm::setRThreshold(int threshold)
{
    CommControl::setRThreshold(threshold);
    // Bytes already waiting may now be enough for an event.
    QMetaObject::invokeMethod(this, &SimulatedComm::announceReceived, Qt::QueuedConnection);
}

void SimulatedComm::setPortOpen(bool open)
{
    if (open == m_open) {
        if (open)
            throw CommError(CommError::PortAlreadyOpen, QStringLiteral("sim"));
        return;
    }
    m_open = open;
    if (open) {
        // A port opens with empty buffers.
        m_modem->discardOutput();
        m_modem->setLineSettings(lineSettings());
        m_modem->setDtr(DTREnable());
        m_modem->setRts(RTSEnable());
    } else {
        m_modem->setDtr(false);
        m_modem->setRts(false);
        m_modem->discardOutput();
    }
}

void SimulatedComm::setOutput(const QByteArray &bytes)
{
    requireOpen();
    m_modem->receive(bytes);
}

QByteArray SimulatedComm::Input()
{
    requireOpen();
    return m_modem->takeOutput();
}

bool SimulatedComm::CDHolding() const
{
    return m_open && m_modem->cd();
}

bool SimulatedComm::CTSHolding() const
{
    return m_open && m_modem->cts();
}

bool SimulatedComm::DSRHolding() const
{
    return m_open && m_modem->dsr();
}

void SimulatedComm::setDTREnable(bool on)
{
    CommControl::setDTREnable(on);
    if (m_open)
        m_modem->setDtr(on);
}

void SimulatedComm::setRTSEnable(bool on)
{
    CommControl::setRTSEnable(on);
    if (m_open)
        m_modem->setRts(on);
}

void SimulatedComm::requireOpen() const
{
    if (!m_open)
        throw CommError(CommError::PortNotOpen, QStringLiteral("sim"));
}

void SimulatedComm::announceReceived()
{
    const int threshold = RThreshold();
    if (m_open && threshold > 0 && m_modem->outputAvailable() >= threshold)
        raiseComm(comEvReceive);
}

void SimulatedComm::announceLine(int code)
{
    if (m_open)
        raiseComm(code);
}
