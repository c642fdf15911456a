// SPDX-License-Identifier: MIT
#include "rfc2217server.h"

#include "hayesmodem.h"
#include "telnetcodec.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#if __has_include(<poll.h>)
#include <poll.h>
#endif

namespace {

// Values of SET-CONTROL asking for the present state of a line.
constexpr quint8 AskDtr = 7;
constexpr quint8 AskRts = 10;

// Whether the client has closed its end, even with what it sent last still unread.
bool hasHungUp(QTcpSocket *socket)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return true;
#ifdef POLLRDHUP
    pollfd p{int(socket->socketDescriptor()), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
#else
    return false;
#endif
}

QTimer *singleShotTimer(int ms, QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setSingleShot(true);
    timer->setInterval(ms);
    return timer;
}

} // namespace

Rfc2217Server::Rfc2217Server(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_modem(new HayesModem(this))
    , m_stallTimer(singleShotTimer(StallTimeoutMs, this))
    , m_idleTimer(singleShotTimer(IdleTimeoutMs, this))
{
    connect(m_stallTimer, &QTimer::timeout, this, &Rfc2217Server::dropClient);
    connect(m_idleTimer, &QTimer::timeout, this, &Rfc2217Server::dropClient);
    connect(m_server, &QTcpServer::newConnection, this, &Rfc2217Server::accept);
    connect(m_modem, &HayesModem::outputReady, this, &Rfc2217Server::takeFromModem);
    for (auto changed : {&HayesModem::ctsChanged, &HayesModem::dsrChanged, &HayesModem::cdChanged})
        connect(m_modem, changed, this, [this] { notifyModemState(false); });
}

Rfc2217Server::~Rfc2217Server()
{
    // The client socket is aborted while the server is torn down; what it
    // reports then must not reach this half-destroyed object.
    if (m_client)
        m_client->disconnect(this);
    m_modem->disconnect(this);
}

bool Rfc2217Server::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

QString Rfc2217Server::errorString() const
{
    return m_server->errorString();
}

QHostAddress Rfc2217Server::address() const
{
    return m_server->serverAddress();
}

quint16 Rfc2217Server::port() const
{
    return m_server->serverPort();
}

void Rfc2217Server::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A client that closed and comes straight back may be seen coming
        // before it is seen going.
        if (m_client && hasHungUp(m_client))
            dropClient();
        if (m_client) {
            socket->write("modemsim: modem jest zajęty przez innego klienta; spróbuj później.\r\n");
            socket->disconnectFromHost();
            continue;
        }
        m_client = socket;
        m_codec = std::make_unique<TelnetCodec>(TelnetCodec::Role::Server);
        m_mask = 0xFF;
        m_notified = 0;
        // Taken in bounded pieces, so that a flood leaves the event loop its turns.
        socket->setReadBufferSize(ReadChunkBytes);
        connect(socket, &QTcpSocket::readyRead, this, &Rfc2217Server::readClient);
        connect(socket, &QTcpSocket::bytesWritten, this, &Rfc2217Server::clientTookOutput);
        connect(socket, &QTcpSocket::bytesWritten, this, &Rfc2217Server::takeFromModem);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket == m_client)
                dropClient();
        });
        // A port being opened by a new user: the modem as after ATZ, DTR and
        // RTS raised until the client says otherwise (a plain Telnet client never will).
        m_modem->reset();
        m_modem->setDtr(true);
        m_modem->setRts(true);
        m_idleTimer->start();
        send(m_codec->start());
    }
}

void Rfc2217Server::takeFromModem()
{
    // While the client is behind, output stays in the modem, where a far end
    // that minds the line (the file service) sees it and waits.
    if (m_client && m_client->bytesToWrite() >= TakeBelow && m_modem->outputAvailable() <= MaxWaiting)
        return;
    const QByteArray output = m_modem->takeOutput();
    if (!m_client)
        return; // nobody on the line
    QByteArray wire;
    TelnetCodec::encodeData(output, wire);
    send(wire);
}

void Rfc2217Server::dropClient()
{
    QTcpSocket *const client = m_client;
    if (!client)
        return;
    m_client = nullptr;
    m_codec.reset();
    m_stallTimer->stop();
    m_idleTimer->stop();
    client->disconnect(this);
    if (client->state() != QAbstractSocket::UnconnectedState)
        client->abort(); // what it did not take goes with it
    client->deleteLater();
    m_modem->setDtr(false);
    m_modem->setRts(false);
    m_modem->discardOutput();
}

void Rfc2217Server::send(const QByteArray &wire)
{
    if (m_client && !wire.isEmpty())
        m_client->write(wire);
}

void Rfc2217Server::readClient()
{
    if (!m_client)
        return;
    if (m_client->bytesToWrite() > OutputLimitBytes) {
        // Answering more would only pile up; the rest waits in the system.
        if (!m_stallTimer->isActive())
            m_stallTimer->start();
        return;
    }
    const QByteArray in = m_client->read(ReadChunkBytes);
    if (in.isEmpty())
        return;
    m_idleTimer->start();
    QByteArray data;
    QByteArray reply;
    m_codec->decode(in, data, reply);
    send(reply);
    // In the order sent: "ATD" before a DTR drop is not the same as after.
    qsizetype given = 0;
    for (const TelnetCodec::Event &event : m_codec->takeEvents()) {
        m_modem->receive(QByteArrayView(data).sliced(given, event.at - given));
        given = event.at;
        if (!m_client)
            return;
        if (event.kind == TelnetCodec::Event::Kind::ComPortAgreed) {
            notifyModemState(true);
        } else if (event.kind == TelnetCodec::Event::Kind::Command) {
            command(event.command, event.value);
        }
    }
    if (given < data.size())
        m_modem->receive(QByteArrayView(data).sliced(given));
}

void Rfc2217Server::clientTookOutput()
{
    if (!m_client || !m_stallTimer->isActive())
        return;
    m_stallTimer->start(); // it took some: it gets its time again
    if (m_client->bytesToWrite() > OutputLimitBytes)
        return;
    m_stallTimer->stop();
    // What waited is read from the event loop, not inside the socket's signal.
    QMetaObject::invokeMethod(this, &Rfc2217Server::readClient, Qt::QueuedConnection);
}

void Rfc2217Server::command(quint8 code, const QByteArray &value)
{
    const auto answer = [this, code](const QByteArray &v) {
        send(m_codec->command(TelnetCodec::Command(code), v));
    };
    switch (code) {
    case TelnetCodec::SetBaudRate:
    case TelnetCodec::SetDataSize:
    case TelnetCodec::SetParity:
    case TelnetCodec::SetStopSize: {
        LineSettings settings = m_modem->lineSettings();
        if (TelnetCodec::applySetting({TelnetCodec::Event::Kind::Command, code, value}, settings))
            m_modem->setLineSettings(settings);
        answer(TelnetCodec::settingValue(TelnetCodec::Command(code), m_modem->lineSettings()));
        break;
    }
    case TelnetCodec::SetControl: {
        const quint8 v = value.size() == 1 ? quint8(value.at(0)) : 0;
        if (v == TelnetCodec::DtrOn || v == TelnetCodec::DtrOff)
            m_modem->setDtr(v == TelnetCodec::DtrOn);
        else if (v == TelnetCodec::RtsOn || v == TelnetCodec::RtsOff)
            m_modem->setRts(v == TelnetCodec::RtsOn);
        quint8 state = v;
        if (v == AskDtr)
            state = m_modem->dtr() ? TelnetCodec::DtrOn : TelnetCodec::DtrOff;
        else if (v == AskRts)
            state = m_modem->rts() ? TelnetCodec::RtsOn : TelnetCodec::RtsOff;
        answer(QByteArray(1, char(state)));
        break;
    }
    case TelnetCodec::SetModemStateMask:
        m_mask = value.size() == 1 ? quint8(value.at(0)) : m_mask;
        answer(value);
        notifyModemState(true);
        break;
    case TelnetCodec::Signature:
        answer(value.isEmpty() ? QByteArrayLiteral("modemsim") : value);
        break;
    case TelnetCodec::SetLineStateMask:
    case TelnetCodec::PurgeData:
        answer(value);
        break;
    default: // suspending flow and the like: nothing to do for a simulated line
        break;
    }
}

void Rfc2217Server::notifyModemState(bool afresh)
{
    if (!m_client || m_codec->comPort() != TelnetCodec::ComPort::Agreed)
        return;
    quint8 lines = 0;
    if (m_modem->cts())
        lines |= TelnetCodec::Cts;
    if (m_modem->dsr())
        lines |= TelnetCodec::Dsr;
    if (m_modem->cd())
        lines |= TelnetCodec::Cd;
    // A report asked for states the lines; one for a change also marks what changed.
    const quint8 changed = afresh ? 0 : quint8(lines ^ m_notified);
    if (!afresh && !changed)
        return;
    quint8 state = lines;
    if (changed & TelnetCodec::Cts)
        state |= TelnetCodec::DeltaCts;
    if (changed & TelnetCodec::Dsr)
        state |= TelnetCodec::DeltaDsr;
    if (changed & TelnetCodec::Cd)
        state |= TelnetCodec::DeltaCd;
    m_notified = lines;
    send(m_codec->command(TelnetCodec::NotifyModemState, quint8(state & m_mask)));
}
