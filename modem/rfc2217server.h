// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <memory>

class HayesModem;
class QTcpServer;
class QTcpSocket;
class QTimer;
class TelnetCodec;

// The simulated modem served over TCP with Telnet and the COM-PORT option
// (RFC 2217), for a terminal on another machine or a test of the line path.
// Unlike on a pseudo-terminal, the modem has its real lines here: the
// client's SET-CONTROL switches DTR and RTS, and every change of CTS, DSR or
// CD goes back as NOTIFY-MODEMSTATE. SET-BAUDRATE and the other settings set
// the speed the modem paces at.
//
// One client at a time, as one terminal on one port: a second is told so in
// a line of text and closed, and the first goes on undisturbed, unless the
// first has already closed its end (a terminal reopening its port). Each
// client finds the modem as after ATZ. A client going away is a port being
// closed: DTR and RTS drop, which hangs up a call.
//
// A client cannot make us hold more than OutputLimitBytes for it: past that
// it is not read (so nothing more is answered or echoed) until it takes some.
// One that takes nothing for StallTimeoutMs, or says nothing for
// IdleTimeoutMs, is closed.
class Rfc2217Server : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 ReadChunkBytes = 64 * 1024;
    static constexpr qint64 OutputLimitBytes = 1024 * 1024;
    static constexpr int StallTimeoutMs = 5000;
    static constexpr int IdleTimeoutMs = 60 * 60 * 1000;

    explicit Rfc2217Server(QObject *parent = nullptr);
    ~Rfc2217Server() override;

    // Port 0 takes any free port. False with errorString() if it cannot listen.
    bool listen(const QHostAddress &address, quint16 port);
    QString errorString() const;
    QHostAddress address() const;
    quint16 port() const;

    HayesModem *modem() const { return m_modem; }

private:
    // Output is taken from the modem while less than TakeBelow waits for the
    // client, and always once more than MaxWaiting waits in the modem.
    static constexpr qint64 TakeBelow = 4096;
    static constexpr qsizetype MaxWaiting = 64 * 1024;

    void accept();
    void takeFromModem();
    void readClient();
    void clientTookOutput();
    void dropClient();
    void command(quint8 code, const QByteArray &value);
    void notifyModemState(bool afresh);
    void send(const QByteArray &wire);

    QTcpServer *m_server;
    HayesModem *m_modem;
    QPointer<QTcpSocket> m_client;
    std::unique_ptr<TelnetCodec> m_codec;
    QTimer *m_stallTimer; // runs while the client is not read for what it has not taken
    QTimer *m_idleTimer;
    quint8 m_mask = 0xFF;
    quint8 m_notified = 0; // the line bits last told to the client
};
