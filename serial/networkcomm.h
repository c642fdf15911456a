// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"
#include "networkaddress.h"

#include <QAbstractSocket>

#include <memory>

class QTcpSocket;
class QTimer;
class TelnetCodec;

// The serial control on a port served over the network: RFC 2217 (Telnet
// with the COM-PORT option, as ser2net serves it) or plain TCP.
//
// Opening only starts the connection, so a slow or silent host never freezes
// the caller: the port reads open at once, output written meanwhile is sent
// in order once connected, and the line settings and DTR/RTS go out once the
// server agreed to COM-PORT. A connection that fails reports PortFailed with
// PortNotFound; a server going away later, with DeviceLost. Nothing ever
// waits for an answer: a server may acknowledge nothing and report no lines.
//
// Without COM-PORT (plain TCP, or a server that refuses it) the lines read
// inactive and switching DTR or RTS changes only the remembered state.
class NetworkComm : public CommControl
{
    Q_OBJECT

public:
    // How long a connection may take, name lookup included.
    static constexpr int ConnectTimeoutMs = 5000;
    // The most taken from the connection at a time.
    static constexpr qint64 ReadChunkBytes = 64 * 1024;

    explicit NetworkComm(const NetworkAddress &address, QObject *parent = nullptr);
    ~NetworkComm() override;

    const NetworkAddress &address() const { return m_address; }
    bool isConnected() const;
    // Whether the server agreed to COM-PORT, so the lines are real.
    bool hasModemLines() const;

    void setSettings(const QString &settings) override;
    void setPortOpen(bool open) override;
    bool PortOpen() const override { return m_open; }
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int OutBufferCount() const override;
    void setOutBufferCount(int count) override;
    bool CDHolding() const override;
    bool CTSHolding() const override;
    bool DSRHolding() const override;
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;

private:
    void close();
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void handleEvents();
    void sendLines();
    void sendControl(bool on, quint8 onValue, quint8 offValue);
    void send(const QByteArray &wire);
    void setModemState(quint8 state);
    void fail(int number, const QString &reason);
    QString reasonFor(QAbstractSocket::SocketError error) const;

    NetworkAddress m_address;
    QTcpSocket *m_socket;
    QTimer *m_connectTimer;
    std::unique_ptr<TelnetCodec> m_codec; // null for plain TCP
    bool m_open = false;
    QByteArray m_unsent;   // written while connecting, on the wire already encoded
    QByteArray m_received; // data waiting for Input()
    QByteArray m_replies;
    quint8 m_modemState = 0;
    // Our own calls into the socket may report errors synchronously; they
    // are handled once the call returned, from the event loop.
    int m_callDepth = 0;
    quint64 m_openings = 0;
};
