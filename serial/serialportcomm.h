// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"

#include <QSerialPort>

class LineWatcher;
class QTimer;

// The serial control on a real device through Qt Serial Port: one device
// name (a path such as /dev/ttyUSB0, or COMn on Windows), opened on request.
//
// Receiving raises one OnComm per batch Qt read, never per byte. Qt gives no
// notice of modem line changes: on Linux a LineWatcher waits for them where
// the driver can (no wake-up while the lines rest); elsewhere, or where the
// driver refuses, CTS, DSR and CD are polled while open. A device without
// modem lines (a pseudo-terminal) reads them as inactive and is not polled.
// A device that goes away while open is closed at once and reported through
// PortFailed.
class SerialPortComm : public CommControl
{
    Q_OBJECT

public:
    // How often the modem lines are read while open, where they cannot be
    // waited for.
    static constexpr int LinePollMs = 50;

    explicit SerialPortComm(const QString &deviceName, QObject *parent = nullptr);
    ~SerialPortComm() override;

    QString deviceName() const { return m_deviceName; }

    void setSettings(const QString &settings) override;
    void setHandshaking(int handshaking) override;
    int OutBufferCount() const override;
    void setOutBufferCount(int count) override;
    bool CDHolding() const override { return m_cd; }
    bool CTSHolding() const override { return m_cts; }
    bool DSRHolding() const override { return m_dsr; }
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;
    bool RTSEnable() const override;

    // Whether the modem lines are polled, or waited for; neither once the
    // device answered that it has none.
    bool linesPolled() const;
    bool linesWatched() const;

protected:
    void openDevice() override;
    void closeDevice() override;
    void writeDevice(const QByteArray &bytes) override;
    QByteArray readDevice() override;
    QString portName() const override { return m_deviceName; }

private:
    void applySettings(const LineSettings &settings);
    void applyHandshaking();
    void applyOutputLine(bool (QSerialPort::*set)(bool), bool on);
    void watchLines();
    void stopWatchingLines();
    // `moved`: LineWatcher flags of lines that changed and may be back.
    void readLines(bool announce, int moved = 0);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void lose();

    QString m_deviceName;
    QSerialPort *m_port;
    QTimer *m_linePoll;
    LineWatcher *m_lineWatcher = nullptr;
    bool m_cts = false;
    bool m_dsr = false;
    bool m_cd = false;
    bool m_hasModemLines = true;
    // Errors raised while we call into the port are answered by the call's
    // own result; only those arriving from the event loop mean a lost device.
    int m_callDepth = 0;
};
