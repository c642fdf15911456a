// SPDX-License-Identifier: MIT
#pragma once

#include "commerror.h"
#include "linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// The serial control the terminal talks through: a few properties and one
// event, OnComm, raised on the GUI thread with CommEvent telling what happened.
// Every failing operation throws CommError.
//
// The base keeps the port's life cycle and what is plain state (port number,
// settings, threshold, the remembered DTR/RTS outputs): whether the port is
// open, the guards every back end shares, and how a lost port is told. A back
// end only opens, closes, reads and writes its device, and says when the
// device failed for good (portLost).
class CommControl : public QObject
{
    Q_OBJECT

public:
    enum CommEventCode : int {
        comEvSend = 1,    // fewer than SThreshold bytes wait to be sent
        comEvReceive = 2, // bytes wait to be taken with Input()
        comEvCTS = 3,
        comEvDSR = 4,
        comEvCD = 5,
    };

    // Flow control, as the Handshaking property numbers it.
    enum HandshakeConstants : int {
        comNone = 0,    // none: every byte goes as soon as it can
        comXOnXoff = 1, // the driver pauses on XOFF (Ctrl+S) and resumes on XON (Ctrl+Q), both ways
        comRTS = 2,     // the driver drives RTS and waits for CTS
    };

    explicit CommControl(QObject *parent = nullptr);
    ~CommControl() override;

    // Port number, 1 to 255. Throws PortAlreadyOpen while open and PortNotFound
    // for numbers outside that range.
    virtual void setCommPort(int port);
    int CommPort() const { return m_commPort; }

    // "9600,N,8,1"; throws InvalidPropertyValue for a malformed string and
    // leaves the previous settings in force. While open, applied at once.
    virtual void setSettings(const QString &settings);
    QString Settings() const { return m_settings.toString(); }
    const LineSettings &lineSettings() const { return m_settings; }

    // The flow control the device's driver applies; comNone unless set.
    // While open, applied at once. Throws InvalidPropertyValue for another number.
    virtual void setHandshaking(int handshaking);
    HandshakeConstants Handshaking() const { return m_handshaking; }
    // "RTS/CTS" and the like, for messages.
    static QString handshakingName(int handshaking);

    // With 1 or more, OnComm(comEvReceive) is raised whenever bytes wait; 0
    // turns receive events off. Negative values throw InvalidPropertyValue.
    virtual void setRThreshold(int threshold);
    int RThreshold() const { return m_rThreshold; }

    // With 1 or more, OnComm(comEvSend) is raised whenever a write to the line
    // leaves fewer bytes waiting than this (where the back end can tell); 0,
    // the default, turns send events off. Negative values throw
    // InvalidPropertyValue.
    virtual void setSThreshold(int threshold);
    int SThreshold() const { return m_sThreshold; }

    // Opening an open port throws PortAlreadyOpen; an opening that fails
    // throws and leaves the port closed. Closing a closed port does nothing;
    // a closing that fails throws and leaves the port open.
    void setPortOpen(bool open);
    bool PortOpen() const { return m_open; }

    // Queues the bytes for sending, in order. Throws PortNotOpen when closed.
    void setOutput(const QByteArray &bytes);
    // Takes and returns every byte waiting; empty when nothing waits.
    // Throws PortNotOpen when closed.
    QByteArray Input();
    // Bytes queued by setOutput and not yet handed to the line (0 where the
    // back end cannot tell). Setting 0 drops them, where the back end can;
    // any other value throws InvalidPropertyValue.
    virtual int OutBufferCount() const { return 0; }
    virtual void setOutBufferCount(int count);

    // The code of the event being reported (valid inside an OnComm handler).
    int CommEvent() const { return m_commEvent; }

    // Present state of the modem inputs; false while the port is closed.
    virtual bool CDHolding() const = 0;
    virtual bool CTSHolding() const = 0;
    virtual bool DSRHolding() const = 0;

    // The outputs are remembered, applied when the port opens and at once while
    // it is open. Reading gives the remembered state even where the device
    // cannot switch the line. Both start on, as the system raises them when a
    // port opens: a modem set to follow DTR ignores commands while it is off.
    // Under comRTS the driver drives RTS: a switch is only remembered (for a
    // later comNone), and RTSEnable() gives the line as the driver holds it,
    // on where the back end cannot read it (it is raised while input fits).
    virtual void setDTREnable(bool on);
    bool DTREnable() const { return m_dtr; }
    virtual void setRTSEnable(bool on);
    virtual bool RTSEnable() const { return m_rts || m_handshaking == comRTS; }

Q_SIGNALS:
    void OnComm();
    // The open port failed for good (device unplugged, far end hung up). The
    // port is already closed when this is raised, once per failure.
    void PortFailed(const CommError &error);

protected:
    // The device itself. openDevice() opens it with the settings and lines in
    // force, or throws with the device left closed (the port counts as open
    // while it runs); the others are called only while the port is open.
    virtual void openDevice() = 0;
    virtual void closeDevice() = 0;
    virtual void writeDevice(const QByteArray &bytes) = 0;
    virtual QByteArray readDevice() = 0;
    // The device as error details name it: a path, "sim", a URL.
    virtual QString portName() const = 0;

    // The open device failed for good: the port closes now, and PortFailed
    // is raised from the event loop, once, unless the port was opened again
    // meanwhile. Never inside the caller's own call, so a handler showing a
    // message box does not run in the middle of a back end's read or write.
    void portLost(const CommError &error);

    // Sets CommEvent and raises OnComm.
    void raiseComm(int code);
    // For back ends, after bytes went out: raises comEvSend if fewer than
    // SThreshold still wait.
    void sent(qint64 stillWaiting);
    // RTS as last set, whoever drives the line now.
    bool rtsWanted() const { return m_rts; }

private:
    bool m_open = false;
    // Counts openings, so a loss told late is dropped if the port reopened.
    quint64 m_openings = 0;
    int m_commPort = 1;
    LineSettings m_settings;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    HandshakeConstants m_handshaking = comNone;
    int m_commEvent = 0;
    bool m_dtr = true;
    bool m_rts = true;
};
