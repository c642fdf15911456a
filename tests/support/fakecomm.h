#pragma once

#include "commcontrol.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

#include <utility>

// A serial control for tests. It records every operation in order, as text
// such as "CommPort=2", "PortOpen=true", "Output=AT\r" or "Input", and lets the
// test set the modem inputs, queue received bytes, raise any OnComm code,
// report a failed port, and make any operation throw a chosen CommError.
class FakeComm : public CommControl
{
    Q_OBJECT

public:
    enum Operation {
        SetCommPort,
        SetSettings,
        SetRThreshold,
        OpenPort,
        ClosePort,
        SetOutput,
        TakeInput,
        ReadCD,
        ReadCTS,
        ReadDSR,
        SetDTR,
        SetRTS,
    };

    explicit FakeComm(QObject *parent = nullptr);

    // The next `times` calls of `op` throw `error` (after being recorded).
    void failOn(Operation op, const CommError &error, int times = 1);
    // Every call of `op` throws `error` from now on.
    void failAlways(Operation op, const CommError &error) { failOn(op, error, -1); }

    void setLines(bool cd, bool cts, bool dsr);
    // Queues bytes for Input() without raising an event.
    void queueInput(const QByteArray &bytes);
    // Queues bytes and raises OnComm with the receive code.
    void receive(const QByteArray &bytes);
    // Raises OnComm with any code.
    void raise(int code) { raiseComm(code); }
    // Closes the port and raises PortFailed, as a back end does when the device goes away.
    void fail(const CommError &error);

    QStringList log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    // The payload of every Output, in order.
    QList<QByteArray> writes() const { return m_writes; }

    // Bytes shown as in C source: printable ASCII as is, \r \n \t, others \xNN.
    static QString escaped(const QByteArray &bytes);

    void setCommPort(int port) override;
    void setSettings(const QString &settings) override;
    void setRThreshold(int threshold) override;
    void setPortOpen(bool open) override;
    bool PortOpen() const override { return m_open; }
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    bool CDHolding() const override;
    bool CTSHolding() const override;
    bool DSRHolding() const override;
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;

private:
    void record(Operation op, const QString &entry) const;

    mutable QStringList m_log;
    QList<QByteArray> m_writes;
    QByteArray m_input;
    bool m_open = false;
    bool m_cd = false;
    bool m_cts = false;
    bool m_dsr = false;

    struct Failure
    {
        CommError error;
        int remaining; // -1: for ever
    };
    mutable QHash<int, Failure> m_failures;
};
