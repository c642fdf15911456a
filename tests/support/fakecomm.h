#pragma once

#include "commcontrol.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QStringList>

// A serial control for tests. It records every operation in order, as text
// such as "CommPort=2", "PortOpen=true", "Output=AT\r" or "Input", and lets the
// test set the modem inputs, raise any OnComm code, report a failed port, and
// make any operation throw a chosen CommError.
class FakeComm : public CommControl
{
    Q_OBJECT

public:
    enum Operation { SetCommPort, SetSettings, SetRThreshold, OpenPort, ClosePort, SetOutput,
                     TakeInput, ReadCD, ReadCTS, ReadDSR, SetDTR, SetRTS };

    using CommControl::CommControl;

    // The next call of `op` throws `error` (after being recorded).
    void failOn(Operation op, const CommError &error) { m_failures.insert(op, error); }
    void setLines(bool cd, bool cts, bool dsr) { m_cd = cd, m_cts = cts, m_dsr = dsr; }
    // Queues bytes and raises OnComm with the receive code.
    void receive(const QByteArray &bytes) { m_input += bytes, raiseComm(comEvReceive); }
    void raise(int code) { raiseComm(code); }
    // Closes the port and raises PortFailed, as a back end does when the device goes away.
    void fail(const CommError &error) { m_open = false, Q_EMIT PortFailed(error); }

    QStringList log() const { return m_log; }
    void clearLog() { m_log.clear(); }
    // The payload of every Output, in order.
    QList<QByteArray> writes() const { return m_writes; }

    void setCommPort(int n) override { record(SetCommPort, u"CommPort=%1"_qs.arg(n)), CommControl::setCommPort(n); }
    void setSettings(const QString &s) override { record(SetSettings, "Settings=" + s), CommControl::setSettings(s); }
    void setRThreshold(int n) override
    {
        record(SetRThreshold, u"RThreshold=%1"_qs.arg(n)), CommControl::setRThreshold(n);
    }
    void setPortOpen(bool open) override;
    bool PortOpen() const override { return m_open; }
    void setOutput(const QByteArray &bytes) override;
    QByteArray Input() override;
    bool CDHolding() const override { return record(ReadCD, "CDHolding"), m_open && m_cd; }
    bool CTSHolding() const override { return record(ReadCTS, "CTSHolding"), m_open && m_cts; }
    bool DSRHolding() const override { return record(ReadDSR, "DSRHolding"), m_open && m_dsr; }
    void setDTREnable(bool on) override { record(SetDTR, onOff("DTREnable", on)), CommControl::setDTREnable(on); }
    void setRTSEnable(bool on) override { record(SetRTS, onOff("RTSEnable", on)), CommControl::setRTSEnable(on); }

private:
    void record(Operation op, const QString &entry) const;
    static QString onOff(const char *name, bool on)
    {
        return QLatin1String(name) + QLatin1String(on ? "=true" : "=false");
    }

    mutable QStringList m_log;
    QList<QByteArray> m_writes;
    QByteArray m_input;
    bool m_open = false, m_cd = false, m_cts = false, m_dsr = false;
    mutable QHash<int, CommError> m_failures;
};
