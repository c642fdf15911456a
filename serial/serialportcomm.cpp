// SPDX-License-Identifier: MIT
#include "serialportcomm.h"

#include "insidecall.h"
#include "linewatcher.h"
#include "openfailure.h"

#include <QTimer>

namespace {

QSerialPort::Parity toQt(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    case LineSettings::Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits stop)
{
    switch (stop) {
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    case LineSettings::StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl toQt(CommControl::HandshakeConstants handshaking)
{
    switch (handshaking) {
    case CommControl::comRTS:
        return QSerialPort::HardwareControl;
    case CommControl::comXOnXoff:
        return QSerialPort::SoftwareControl;
    case CommControl::comNone:
        break;
    }
    return QSerialPort::NoFlowControl;
}

} // namespace

SerialPortComm::SerialPortComm(const QString &deviceName, QObject *parent)
    : CommControl(parent)
    , m_deviceName(deviceName)
    , m_port(new QSerialPort(deviceName, this))
    , m_linePoll(new QTimer(this))
{
    m_linePoll->setInterval(LinePollMs);
    connect(m_linePoll, &QTimer::timeout, this, [this] { readLines(true); });
#ifdef Q_OS_LINUX
    m_lineWatcher = new LineWatcher(this);
    connect(m_lineWatcher, &LineWatcher::changed, this, [this](int moved) { readLines(true, moved); });
    connect(m_lineWatcher, &LineWatcher::refused, this, [this] {
        m_lineWatcher->stop();
        m_linePoll->start();
    });
    connect(m_lineWatcher, &LineWatcher::failed, this, [this] {
        if (PortOpen())
            lose();
    });
#endif
    connect(m_port, &QSerialPort::readyRead, this, &SerialPortComm::onReadyRead);
    connect(m_port, &QSerialPort::bytesWritten, this, [this] { sent(m_port->bytesToWrite()); });
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialPortComm::onError);
}

SerialPortComm::~SerialPortComm()
{
    closeDevice();
}

bool SerialPortComm::linesPolled() const
{
    return m_linePoll->isActive();
}

bool SerialPortComm::linesWatched() const
{
#ifdef Q_OS_LINUX
    return m_lineWatcher->isWatching();
#else
    return false;
#endif
}

void SerialPortComm::watchLines()
{
#ifdef Q_OS_LINUX
    if (m_lineWatcher->start(int(m_port->handle())))
        return;
#endif
    m_linePoll->start();
}

void SerialPortComm::stopWatchingLines()
{
    m_linePoll->stop();
#ifdef Q_OS_LINUX
    m_lineWatcher->stop();
#endif
}

void SerialPortComm::setSettings(const QString &settings)
{
    const LineSettings wanted = LineSettings::parse(settings);
    if (PortOpen()) {
        try {
            applySettings(wanted);
        } catch (const CommError &) {
            // Leave the device as it was before the refused change.
            try {
                applySettings(lineSettings());
            } catch (const CommError &) {
            }
            throw;
        }
    }
    CommControl::setSettings(settings);
}

void SerialPortComm::openDevice()
{
    const InsideCall call(m_callDepth);
    checkBeforeOpening(m_deviceName);
#ifdef Q_OS_UNIX
    // One device, one lock, whichever link it is reached through.
    m_port->setPortName(DeviceLock::realDevicePath(m_deviceName));
#endif
    m_port->clearError();
    if (!m_port->open(QIODevice::ReadWrite))
        throw openFailure(m_deviceName, m_port->error(), m_port->errorString());
    m_hasModemLines = true;
    try {
        applySettings(lineSettings());
        applyOutputLine(&QSerialPort::setDataTerminalReady, DTREnable());
        applyHandshaking();
    } catch (const CommError &) {
        m_port->close(); // a port opened half way is no use to anyone
        throw;
    }
    // Watched from before the first reading, so no change falls between.
    if (m_hasModemLines)
        watchLines();
    readLines(false);
}

void SerialPortComm::closeDevice()
{
    stopWatchingLines(); // before the descriptor closes
    m_cts = m_dsr = m_cd = false;
    if (!m_port->isOpen())
        return;
    const InsideCall call(m_callDepth);
    m_port->close();
}

void SerialPortComm::applySettings(const LineSettings &s)
{
    const InsideCall call(m_callDepth);
    m_port->clearError();
    const bool ok = m_port->setBaudRate(s.baudRate)
                    && m_port->setDataBits(QSerialPort::DataBits(s.dataBits))
                    && m_port->setParity(toQt(s.parity))
                    && m_port->setStopBits(toQt(s.stopBits));
    if (!ok) {
        throw CommError(CommError::SettingsRejected,
                        QStringLiteral("%1 (%2): %3")
                            .arg(m_deviceName, s.toString(), m_port->errorString()));
    }
}

void SerialPortComm::setHandshaking(int handshaking)
{
    const HandshakeConstants before = Handshaking();
    CommControl::setHandshaking(handshaking);
    if (!PortOpen())
        return;
    try {
        applyHandshaking();
    } catch (const CommError &) {
        CommControl::setHandshaking(before);
        try {
            applyHandshaking();
        } catch (const CommError &) {
        }
        throw;
    }
}

// Qt refuses to switch RTS while the driver drives it; once the driver lets
// go, the line takes the state last asked for.
void SerialPortComm::applyHandshaking()
{
    {
        const InsideCall call(m_callDepth);
        m_port->clearError();
        if (!m_port->setFlowControl(toQt(Handshaking())))
            throw CommError(CommError::SettingsRejected,
                            QStringLiteral("%1 (%2): %3")
                                .arg(m_deviceName, handshakingName(Handshaking()), m_port->errorString()));
    }
    if (Handshaking() != comRTS)
        applyOutputLine(&QSerialPort::setRequestToSend, rtsWanted());
}

void SerialPortComm::applyOutputLine(bool (QSerialPort::*set)(bool), bool on)
{
    if (!m_hasModemLines)
        return;
    const InsideCall call(m_callDepth);
    m_port->clearError();
    if ((m_port->*set)(on))
        return;
    if (m_port->error() == QSerialPort::UnsupportedOperationError) {
        m_hasModemLines = false;
        stopWatchingLines();
        return;
    }
    throw CommError(CommError::LineControlFailed, m_deviceName + QLatin1String(": ") + m_port->errorString());
}

void SerialPortComm::setDTREnable(bool on)
{
    if (PortOpen())
        applyOutputLine(&QSerialPort::setDataTerminalReady, on);
    CommControl::setDTREnable(on);
}

void SerialPortComm::setRTSEnable(bool on)
{
    if (PortOpen() && Handshaking() != comRTS)
        applyOutputLine(&QSerialPort::setRequestToSend, on);
    CommControl::setRTSEnable(on);
}

bool SerialPortComm::RTSEnable() const
{
    if (Handshaking() != comRTS || !PortOpen() || !m_hasModemLines)
        return CommControl::RTSEnable();
    m_port->clearError();
    const QSerialPort::PinoutSignals lines = m_port->pinoutSignals();
    if (m_port->error() != QSerialPort::NoError)
        return CommControl::RTSEnable();
    return lines.testFlag(QSerialPort::RequestToSendSignal);
}

void SerialPortComm::readLines(bool announce, int moved)
{
    if (!m_hasModemLines)
        return;
    QSerialPort::PinoutSignals lines;
    {
        const InsideCall call(m_callDepth);
        m_port->clearError();
        lines = m_port->pinoutSignals();
    }
    switch (m_port->error()) {
    case QSerialPort::NoError:
        break;
    case QSerialPort::ResourceError:
        if (announce) { // from the poll timer: the device is gone
            lose();
            return;
        }
        [[fallthrough]];
    default:
        // No modem lines here (ENOTTY on a pseudo-terminal), or none we can
        // read: show them inactive and stop asking.
        m_hasModemLines = false;
        stopWatchingLines();
        m_cts = m_dsr = m_cd = false;
        return;
    }

    const bool cts = lines.testFlag(QSerialPort::ClearToSendSignal);
    const bool dsr = lines.testFlag(QSerialPort::DataSetReadySignal);
    const bool cd = lines.testFlag(QSerialPort::DataCarrierDetectSignal);
    const bool ctsChanged = cts != m_cts || (moved & LineWatcher::Cts);
    const bool dsrChanged = dsr != m_dsr || (moved & LineWatcher::Dsr);
    const bool cdChanged = cd != m_cd || (moved & LineWatcher::Cd);
    m_cts = cts;
    m_dsr = dsr;
    m_cd = cd;
    if (!announce)
        return;
    // A handler may close the port; stop announcing once it did.
    if (ctsChanged)
        raiseComm(comEvCTS);
    if (dsrChanged && PortOpen())
        raiseComm(comEvDSR);
    if (cdChanged && PortOpen())
        raiseComm(comEvCD);
}

void SerialPortComm::writeDevice(const QByteArray &bytes)
{
    const InsideCall call(m_callDepth);
    if (m_port->write(bytes) != bytes.size())
        throw CommError(CommError::WriteFailed, m_deviceName + QLatin1String(": ") + m_port->errorString());
}

QByteArray SerialPortComm::readDevice()
{
    return m_port->readAll();
}

int SerialPortComm::OutBufferCount() const
{
    return PortOpen() ? int(m_port->bytesToWrite()) : 0;
}

void SerialPortComm::setOutBufferCount(int count)
{
    CommControl::setOutBufferCount(count);
    // Both Qt's buffer and the system's, so the line falls quiet at once.
    if (PortOpen())
        m_port->clear(QSerialPort::Output);
}

void SerialPortComm::onReadyRead()
{
    if (RThreshold() >= 1 && m_port->bytesAvailable() > 0)
        raiseComm(comEvReceive);
}

void SerialPortComm::onError(QSerialPort::SerialPortError error)
{
    if (m_callDepth > 0 || !m_port->isOpen())
        return;
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::UnsupportedOperationError:
        return;
    default:
        break;
    }
    lose();
}

void SerialPortComm::lose()
{
    // The device is gone (unplugged, hung up); Qt would report it again at
    // every turn of the event loop, so the port closes now. One cause, one
    // message: Qt's own text names whatever errno was left over (a hang-up
    // reads as end of file).
    portLost(CommError(CommError::DeviceLost, m_deviceName + QStringLiteral(": połączenie zerwane")));
}
