// SPDX-License-Identifier: MIT
#include "networkcomm.h"

#include "insidecall.h"
#include "telnetcodec.h"

#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace {

quint8 flowControlValue(CommControl::HandshakeConstants handshaking)
{
    switch (handshaking) {
    case CommControl::comRTS:
        return TelnetCodec::HardwareFlowControl;
    case CommControl::comXOnXoff:
        return TelnetCodec::XonXoffFlowControl;
    case CommControl::comNone:
        break;
    }
    return TelnetCodec::NoFlowControl;
}

} // namespace

NetworkComm::NetworkComm(const NetworkAddress &address, QObject *parent)
    : CommControl(parent)
    , m_address(address)
    , m_socket(new QTcpSocket(this))
    , m_connectTimer(new QTimer(this))
    , m_stallTimer(new QTimer(this))
{
    // Take what arrives in bounded pieces: each is shown before the next is
    // read, so typing and the clock keep their turns under a flood, and the
    // rest waits in the system, slowing the server down as a slow reader should.
    m_socket->setReadBufferSize(ReadChunkBytes);
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(ConnectTimeoutMs);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        fail(CommError::PortNotFound,
             QStringLiteral("serwer nie odpowiedział w ciągu %1 s").arg(ConnectTimeoutMs / 1000));
    });
    m_stallTimer->setSingleShot(true);
    m_stallTimer->setInterval(StallTimeoutMs);
    connect(m_stallTimer, &QTimer::timeout, this, [this] {
        fail(CommError::DeviceLost,
             QStringLiteral("serwer nie odbiera danych od %1 s").arg(StallTimeoutMs / 1000));
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, &NetworkComm::onBytesWritten);
    connect(m_socket, &QTcpSocket::connected, this, &NetworkComm::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkComm::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &NetworkComm::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkComm::onError);
}

NetworkComm::~NetworkComm()
{
    // The socket outlives this part of the object; it must not call back.
    m_socket->disconnect(this);
    closeDevice();
}

bool NetworkComm::isConnected() const
{
    return PortOpen() && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool NetworkComm::hasModemLines() const
{
    return PortOpen() && m_codec && m_codec->comPort() == TelnetCodec::ComPort::Agreed;
}

void NetworkComm::openDevice()
{
    ++m_connections;
    m_modemState = 0;
    m_linesOwed = true;
    m_unsent.clear();
    m_received.clear();
    m_codec.reset(m_address.scheme == NetworkAddress::Scheme::Rfc2217
                      ? new TelnetCodec(TelnetCodec::Role::Client)
                      : nullptr);
    m_held.clear();
    m_holding = m_codec && (!(lineSettings() == LineSettings()) || Handshaking() != comNone);
    m_connectTimer->start();
    const InsideCall call(m_callDepth);
    m_socket->connectToHost(m_address.host, m_address.port);
}

void NetworkComm::closeDevice()
{
    m_connectTimer->stop();
    m_stallTimer->stop();
    m_modemState = 0;
    m_unsent.clear();
    m_held.clear();
    m_received.clear();
    const InsideCall call(m_callDepth);
    // What the socket took is handed to the system before the connection goes.
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->flush();
    m_socket->abort();
}

void NetworkComm::onConnected()
{
    if (!PortOpen())
        return;
    m_connectTimer->stop();
    QByteArray first = m_codec ? m_codec->start() : QByteArray();
    first += std::exchange(m_unsent, {});
    send(first);
    if (m_holding)
        QTimer::singleShot(ComPortWaitMs, this, [this, connection = m_connections] {
            if (connection == m_connections)
                releaseHeld();
        });
}

void NetworkComm::releaseHeld()
{
    m_holding = false;
    if (PortOpen())
        send(std::exchange(m_held, {}));
}

void NetworkComm::send(const QByteArray &wire)
{
    if (wire.isEmpty())
        return;
    if (!isConnected()) {
        m_unsent += wire;
        return;
    }
    const InsideCall call(m_callDepth);
    m_socket->write(wire);
    // Hand it to the system now, not at the socket's next turn in the event
    // loop: under a flood from the server that turn comes late, and a typed
    // line must not wait for it.
    m_socket->flush();
}

qint64 NetworkComm::backlog() const
{
    return m_unsent.size() + m_held.size() + m_socket->bytesToWrite();
}

void NetworkComm::writeDevice(const QByteArray &bytes)
{
    if (backlog() >= OutputLimitBytes)
        throw CommError(CommError::WriteFailed,
                        m_address.url + QLatin1String(": serwer nie odbiera danych; wiersz nie został wysłany"));
    if (!m_codec) {
        send(bytes);
        return;
    }
    QByteArray wire;
    wire.reserve(bytes.size() + 16);
    TelnetCodec::encodeData(bytes, wire);
    if (m_holding)
        m_held += wire;
    else
        send(wire);
}

QByteArray NetworkComm::readDevice()
{
    return std::exchange(m_received, {});
}

int NetworkComm::OutBufferCount() const
{
    return PortOpen() ? int(backlog()) : 0;
}

// What the socket holds cannot be taken back; only what waits for the
// connection can.
void NetworkComm::setOutBufferCount(int count)
{
    CommControl::setOutBufferCount(count);
    m_unsent.clear();
}

void NetworkComm::onReadyRead()
{
    if (!PortOpen())
        return;
    if (backlog() > OutputLimitBytes) {
        // Answering more would only pile up; the rest waits in the system,
        // until the server takes some of ours.
        if (!m_stallTimer->isActive())
            m_stallTimer->start();
        return;
    }
    const QByteArray chunk = m_socket->readAll();
    if (!m_codec) {
        m_received += chunk;
    } else {
        m_replies.clear();
        m_codec->decode(chunk, m_received, m_replies);
        send(m_replies);
        handleEvents();
    }
    if (PortOpen() && RThreshold() >= 1 && !m_received.isEmpty())
        raiseComm(comEvReceive);
}

void NetworkComm::onBytesWritten()
{
    sent(backlog());
    if (!PortOpen() || !m_stallTimer->isActive())
        return;
    m_stallTimer->start(); // the server took some: it gets its time again
    if (backlog() > OutputLimitBytes)
        return;
    m_stallTimer->stop();
    // What waited is read from the event loop, not inside the socket's signal.
    QMetaObject::invokeMethod(this, &NetworkComm::onReadyRead, Qt::QueuedConnection);
}

void NetworkComm::handleEvents()
{
    const QList<TelnetCodec::Event> events = m_codec->takeEvents();
    for (const TelnetCodec::Event &event : events) {
        if (!PortOpen()) // a handler closed the port
            return;
        switch (event.kind) {
        case TelnetCodec::Event::Kind::ComPortAgreed:
            // A server switching COM-PORT off and on gets nothing it has already.
            if (std::exchange(m_linesOwed, false))
                sendLines();
            releaseHeld();
            break;
        case TelnetCodec::Event::Kind::ComPortRefused:
            setModemState(0);
            releaseHeld();
            break;
        case TelnetCodec::Event::Kind::Command:
            if (event.command == TelnetCodec::NotifyModemState && event.value.size() == 1
                && hasModemLines())
                setModemState(quint8(event.value.at(0)));
            // Acknowledgements change nothing: what we asked for is what we remember.
            break;
        }
    }
}

void NetworkComm::sendLines()
{
    send(m_codec->lineSettingsCommands(lineSettings()));
    if (Handshaking() != comNone)
        send(m_codec->command(TelnetCodec::SetControl, flowControlValue(Handshaking())));
    sendControl(DTREnable(), TelnetCodec::DtrOn, TelnetCodec::DtrOff);
    if (Handshaking() != comRTS)
        sendControl(rtsWanted(), TelnetCodec::RtsOn, TelnetCodec::RtsOff);
    send(m_codec->command(TelnetCodec::SetModemStateMask,
                          quint8(TelnetCodec::Cd | TelnetCodec::Dsr | TelnetCodec::Cts
                                 | TelnetCodec::DeltaCd | TelnetCodec::DeltaDsr
                                 | TelnetCodec::DeltaCts)));
}

void NetworkComm::sendControl(bool on, quint8 onValue, quint8 offValue)
{
    send(m_codec->command(TelnetCodec::SetControl, on ? onValue : offValue));
}

void NetworkComm::setSettings(const QString &settings)
{
    CommControl::setSettings(settings);
    if (hasModemLines())
        send(m_codec->lineSettingsCommands(lineSettings()));
    else
        m_linesOwed = true;
}

void NetworkComm::setHandshaking(int handshaking)
{
    const HandshakeConstants before = Handshaking();
    CommControl::setHandshaking(handshaking);
    if (Handshaking() == before)
        return;
    if (!hasModemLines()) {
        m_linesOwed = true;
        return;
    }
    send(m_codec->command(TelnetCodec::SetControl, flowControlValue(Handshaking())));
    if (Handshaking() != comRTS)
        sendControl(rtsWanted(), TelnetCodec::RtsOn, TelnetCodec::RtsOff);
}

void NetworkComm::setDTREnable(bool on)
{
    CommControl::setDTREnable(on);
    if (hasModemLines())
        sendControl(on, TelnetCodec::DtrOn, TelnetCodec::DtrOff);
    else
        m_linesOwed = true;
}

void NetworkComm::setRTSEnable(bool on)
{
    CommControl::setRTSEnable(on);
    if (!hasModemLines())
        m_linesOwed = true;
    else if (Handshaking() != comRTS)
        sendControl(on, TelnetCodec::RtsOn, TelnetCodec::RtsOff);
}

bool NetworkComm::CDHolding() const
{
    return hasModemLines() && (m_modemState & TelnetCodec::Cd);
}

bool NetworkComm::CTSHolding() const
{
    return hasModemLines() && (m_modemState & TelnetCodec::Cts);
}

bool NetworkComm::DSRHolding() const
{
    return hasModemLines() && (m_modemState & TelnetCodec::Dsr);
}

void NetworkComm::setModemState(quint8 state)
{
    const quint8 changed = state ^ m_modemState;
    m_modemState = state;
    // A handler may close the port; stop announcing once it did.
    if ((changed & TelnetCodec::Cts) && PortOpen())
        raiseComm(comEvCTS);
    if ((changed & TelnetCodec::Dsr) && PortOpen())
        raiseComm(comEvDSR);
    if ((changed & TelnetCodec::Cd) && PortOpen())
        raiseComm(comEvCD);
}

void NetworkComm::onDisconnected()
{
    if (PortOpen())
        onError(QAbstractSocket::RemoteHostClosedError);
}

void NetworkComm::onError(QAbstractSocket::SocketError error)
{
    if (!PortOpen())
        return;
    const bool wasConnected = !m_connectTimer->isActive();
    // Whatever came before the end is still shown.
    if (wasConnected && m_socket->bytesAvailable() > 0)
        onReadyRead();
    fail(wasConnected ? CommError::DeviceLost : CommError::PortNotFound, reasonFor(error));
}

QString NetworkComm::reasonFor(QAbstractSocket::SocketError error) const
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("serwer odmówił połączenia");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("nie znaleziono hosta „%1”").arg(m_address.host);
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("serwer zamknął połączenie");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("serwer nie odpowiada");
    default:
        return QStringLiteral("błąd połączenia (%1)").arg(m_socket->errorString());
    }
}

void NetworkComm::fail(int number, const QString &reason)
{
    if (!PortOpen())
        return;
    if (m_callDepth > 0) {
        // Raised inside one of our own calls: finish it first.
        QMetaObject::invokeMethod(
            this,
            [this, number, reason, connection = m_connections] {
                if (connection == m_connections)
                    fail(number, reason);
            },
            Qt::QueuedConnection);
        return;
    }
    portLost(CommError(CommError::Number(number), m_address.url + QLatin1String(": ") + reason));
}
