// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"

#include <QHash>
#include <QStringList>

#include <utility>

// A serial control for tests. It keeps what a device would notice: the bytes
// written, and the port, settings, threshold and lines in force each time the
// port opened. The test sets the modem inputs, raises any OnComm code,
// reports a failed port, and makes an operation throw a chosen CommError.
class FakeComm : public CommControl
{
public:
    enum Operation { SetSettings, OpenPort, ClosePort, SetOutput, SetDTR };

    // Not the settings the terminal uses, so an opening before they are set shows.
    explicit FakeComm(QObject *parent = nullptr) : CommControl(parent) { CommControl::setSettings("1200,E,7,2"); }

    // The next call of `op` throws `error`.
    void failOn(Operation op, const CommError &error) { m_failures.insert(op, error); }
    void setLines(bool cd, bool cts, bool dsr) { m_cd = cd, m_cts = cts, m_dsr = dsr; }
    // Queues bytes and raises OnComm with the receive code.
    void receive(const QByteArray &bytes) { m_input += bytes, raiseComm(comEvReceive); }
    void raise(int code) { raiseComm(code); }
    // Loses the open port, as a back end does when the device goes away.
    void fail(const CommError &error) { portLost(error); }

    QList<QByteArray> writes;
    // "COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1" for each successful opening.
    QStringList openings;

    void setSettings(const QString &s) override { check(SetSettings), CommControl::setSettings(s); }
    bool CDHolding() const override { return PortOpen() && m_cd; }
    bool CTSHolding() const override { return PortOpen() && m_cts; }
    bool DSRHolding() const override { return PortOpen() && m_dsr; }
    void setDTREnable(bool on) override { check(SetDTR), CommControl::setDTREnable(on); }

protected:
    void openDevice() override
    {
        check(OpenPort);
        openings += u"COM%1 %2 RThreshold=%3 DTR=%4 RTS=%5"_qs
                        .arg(CommPort()).arg(Settings()).arg(RThreshold()).arg(DTREnable()).arg(RTSEnable());
    }
    void closeDevice() override { check(ClosePort); }
    void writeDevice(const QByteArray &bytes) override { check(SetOutput), writes.append(bytes); }
    QByteArray readDevice() override { return std::exchange(m_input, {}); }
    QString portName() const override { return {}; }

private:
    // Throws the failure set for `op`.
    void check(Operation op)
    {
        if (m_failures.contains(op))
            throw m_failures.take(op);
    }

    QByteArray m_input;
    bool m_cd = false, m_cts = false, m_dsr = false;
    QHash<int, CommError> m_failures;
};

// The number of the CommError that `operation` throws; 0 if it throws none.
int thrownNumber(const auto &operation)
{
    try {
        operation();
    } catch (const CommError &e) {
        return e.number();
    }
    return 0;
}
