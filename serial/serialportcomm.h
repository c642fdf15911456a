// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"

#include <QSerialPort>

class QTimer;

// The serial control on a real device through Qt Serial Port: one device
// name (a path such as /dev/ttyUSB0, or COMn on Windows), opened on request.
//
// Receiving raises one OnComm per batch Qt read, never per byte. Qt gives no
// notice of modem line changes, so CTS, DSR and CD are polled while open; a
// device without modem lines (a pseudo-terminal) reads them as inactive and is
// not polled again. A device that goes away while open is closed at once and
// reported through PortFailed.
class SerialPortComm : public CommControl
{
    Q_OBJECT

public:
    // How often the modem lines are read while open.
    static constexpr int LinePollMs = 10;

    explicit SerialPortComm(const QString &deviceName, QObject *parent = nullptr);
    ~SerialPortComm() override;

    QString deviceName() const { return m_deviceName; }

    void setSettings(const QString &settings) override;
    void setPortOpen(bool open) override;
    bool PortOpen() const override;
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    int OutBufferCount() const override;
    void setOutBufferCount(int count) override;
    bool CDHolding() const override { return m_cd; }
    bool CTSHolding() const override { return m_cts; }
    bool DSRHolding() const override { return m_dsr; }
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;

    // False once the device answered that it has no modem lines.
    bool linesPolled() const;

private:
    void open();
    void close();
    void applySettings(const LineSettings &settings);
    void applyOutputLine(bool (QSerialPort::*set)(bool), bool on);
    void readLines(bool announce);
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void lose();

    QString m_deviceName;
    QSerialPort *m_port;
    QTimer *m_linePoll;
    bool m_cts = false;
    bool m_dsr = false;
    bool m_cd = false;
    bool m_hasModemLines = true;
    // Errors raised while we call into the port are answered by the call's
    // own result; only those arriving from the event loop mean a lost device.
    int m_callDepth = 0;
    quint64 m_openings = 0;
};
