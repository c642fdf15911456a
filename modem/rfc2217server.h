// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <memory>

class HayesModem;
class QTcpServer;
class QTcpSocket;
class TelnetCodec;

// The simulated modem served over TCP with Telnet and the COM-PORT option
// (RFC 2217), for a terminal on another machine or a test of the line path.
// Unlike on a pseudo-terminal, the modem has its real lines here: the
// client's SET-CONTROL switches DTR and RTS, and every change of CTS, DSR or
// CD goes back as NOTIFY-MODEMSTATE. SET-BAUDRATE and the other settings set
// the speed the modem paces at.
//
// One client at a time, as one terminal on one port: a second is told so in
// a line of text and closed, and the first goes on undisturbed. A client
// going away is a port being closed: DTR and RTS drop, which hangs up a call.
class Rfc2217Server : public QObject
{
    Q_OBJECT

public:
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
    void dropClient();
    void command(quint8 code, const QByteArray &value);
    void notifyModemState(bool afresh);
    void send(const QByteArray &wire);

    QTcpServer *m_server;
    HayesModem *m_modem;
    QPointer<QTcpSocket> m_client;
    std::unique_ptr<TelnetCodec> m_codec;
    quint8 m_mask = 0xFF;
    quint8 m_notified = 0; // the line bits last told to the client
};
