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
// server agreed to COM-PORT (once a connection: a server switching the option
// off and on gets them again only if they changed meanwhile). A connection
// that fails reports PortFailed with PortNotFound; a server going away later,
// with DeviceLost. Nothing ever waits for an answer: a server may acknowledge
// nothing and report no lines.
//
// A server cannot make us hold more than OutputLimitBytes for it: past that
// the connection is not read (so nothing more is answered) until the server
// takes some, a line written meanwhile is refused with WriteFailed, and a
// server that takes nothing for StallTimeoutMs is gone (DeviceLost).
//
// Flow control goes to the server too (SET-CONTROL), but only once asked for:
// without it the server keeps its own. Under comRTS RTS is the server's to drive.
// With a line asked for, data written before the server answered COM-PORT
// follows the line settings, so that it travels at the speed asked for.
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
    // The most waiting to be sent before reading stops and lines are refused.
    static constexpr qint64 OutputLimitBytes = 1024 * 1024;
    // How long a server may take nothing of that before it counts as gone.
    static constexpr int StallTimeoutMs = 5000;
    // With a line asked for (not 9600,N,8,1 without flow control), data waits
    // for the server's answer to COM-PORT so that it travels with that line:
    // at most this long after connecting.
    static constexpr int ComPortWaitMs = 2000;

    explicit NetworkComm(const NetworkAddress &address, QObject *parent = nullptr);
    ~NetworkComm() override;

    const NetworkAddress &address() const { return m_address; }
    bool isConnected() const;
    // Whether the server agreed to COM-PORT, so the lines are real.
    bool hasModemLines() const;

    void setSettings(const QString &settings) override;
    void setHandshaking(int handshaking) override;
    int OutBufferCount() const override;
    void setOutBufferCount(int count) override;
    bool CDHolding() const override;
    bool CTSHolding() const override;
    bool DSRHolding() const override;
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;

protected:
    void openDevice() override;
    void closeDevice() override;
    void writeDevice(const QByteArray &bytes) override;
    QByteArray readDevice() override;
    QString portName() const override { return m_address.url; }

private:
    void onConnected();
    void onReadyRead();
    void onBytesWritten();
    qint64 backlog() const;
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void handleEvents();
    void sendLines();
    void releaseHeld();
    void sendControl(bool on, quint8 onValue, quint8 offValue);
    void send(const QByteArray &wire);
    void setModemState(quint8 state);
    void fail(int number, const QString &reason);
    QString reasonFor(QAbstractSocket::SocketError error) const;

    NetworkAddress m_address;
    QTcpSocket *m_socket;
    QTimer *m_connectTimer;
    QTimer *m_stallTimer; // runs while reading waits for the server to take our output
    std::unique_ptr<TelnetCodec> m_codec; // null for plain TCP
    QByteArray m_unsent;   // written while connecting, on the wire already encoded
    QByteArray m_held;     // data waiting for the line to be set (encoded)
    bool m_holding = false; // data waits until COM-PORT is answered, or for ComPortWaitMs
    QByteArray m_received; // data waiting for Input()
    QByteArray m_replies;
    quint8 m_modemState = 0;
    // The line settings and DTR/RTS are to go out at the next agreement to COM-PORT.
    bool m_linesOwed = false;
    // Our own calls into the socket may report errors synchronously; they
    // are handled once the call returned, from the event loop.
    int m_callDepth = 0;
    // Counts connections, so a failure deferred past our own call is dropped
    // once the port was closed or opened again.
    quint64 m_connections = 0;
};
