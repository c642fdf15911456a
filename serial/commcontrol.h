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
// The base keeps what is plain state (port number, settings, threshold and the
// remembered DTR/RTS outputs); back ends implement the device itself.
class CommControl : public QObject
{
    Q_OBJECT

public:
    enum CommEventCode : int {
        comEvReceive = 2, // bytes wait to be taken with Input()
        comEvCTS = 3,
        comEvDSR = 4,
        comEvCD = 5,
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

    // With 1 or more, OnComm(comEvReceive) is raised whenever bytes wait; 0
    // turns receive events off. Negative values throw InvalidPropertyValue.
    virtual void setRThreshold(int threshold);
    int RThreshold() const { return m_rThreshold; }

    virtual void setPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Queues the bytes for sending, in order. Throws PortNotOpen when closed.
    virtual void setOutput(const QByteArray &bytes) = 0;
    // Takes and returns every byte waiting; empty when nothing waits.
    // Throws PortNotOpen when closed.
    virtual QByteArray Input() = 0;
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
    virtual void setDTREnable(bool on);
    bool DTREnable() const { return m_dtr; }
    virtual void setRTSEnable(bool on);
    bool RTSEnable() const { return m_rts; }

Q_SIGNALS:
    void OnComm();
    // The open port failed for good (device unplugged, far end hung up). The
    // port is already closed when this is raised, once per failure.
    void PortFailed(const CommError &error);

protected:
    // Sets CommEvent and raises OnComm.
    void raiseComm(int code);

private:
    int m_commPort = 1;
    LineSettings m_settings;
    int m_rThreshold = 0;
    int m_commEvent = 0;
    bool m_dtr = true;
    bool m_rts = true;
};
