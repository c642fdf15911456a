// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"

#include <QHash>
#include <QStringList>

#include <functional>
#include <utility>

// A serial control for tests. It keeps what a device would notice: the bytes
// written, and the port, settings, threshold and lines in force each time the
// port opened. The test sets the modem inputs, raises any OnComm code,
// reports a failed port, and makes an operation throw a chosen CommError.
class FakeComm : public CommControl
{
public:
    enum Operation { SetSettings, OpenPort, ClosePort, SetOutput, SetDTR, TakeInput };

    // Not the settings the terminal uses, so an opening before they are set shows.
    explicit FakeComm(QObject *parent = nullptr) : CommControl(parent) { CommControl::setSettings(u"1200,E,7,2"_qs); }

    // The next call of `op` throws `error`.
    void failOn(Operation op, const CommError &error) { m_failures.insert(op, error); }
    void setLines(bool cd, bool cts, bool dsr) { m_cd = cd, m_cts = cts, m_dsr = dsr; }
    // Queues bytes and raises OnComm with the receive code.
    void receive(const QByteArray &bytes) { m_input += bytes, raiseComm(comEvReceive); }
    void raise(int code) { raiseComm(code); }
    // Closes the port and raises PortFailed, as a back end does when the device goes away.
    void fail(const CommError &error) { m_open = false, Q_EMIT PortFailed(error); }

    QList<QByteArray> writes;
    // "COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1" for each successful opening.
    QStringList openings;

    void setSettings(const QString &s) override { check(SetSettings), CommControl::setSettings(s); }
    void setPortOpen(bool open) override
    {
        check(open ? OpenPort : ClosePort);
        if (open && m_open)
            throw CommError(CommError::PortAlreadyOpen);
        if (open)
            openings += QStringLiteral("COM%1 %2 RThreshold=%3 DTR=%4 RTS=%5")
                            .arg(CommPort()).arg(Settings()).arg(RThreshold()).arg(DTREnable()).arg(RTSEnable());
        m_open = open;
    }
    bool PortOpen() const override { return m_open; }
    void setOutput(const QByteArray &bytes) override { check(SetOutput, true), writes.append(bytes); }
    QByteArray Input() override { return check(TakeInput, true), std::exchange(m_input, {}); }
    bool CDHolding() const override { return m_open && m_cd; }
    bool CTSHolding() const override { return m_open && m_cts; }
    bool DSRHolding() const override { return m_open && m_dsr; }
    void setDTREnable(bool on) override { check(SetDTR), CommControl::setDTREnable(on); }

private:
    // Throws the failure set for `op`; else, for an operation that needs the port open, PortNotOpen.
    void check(Operation op, bool needsOpen = false)
    {
        if (m_failures.contains(op))
            throw m_failures.take(op);
        if (needsOpen && !m_open)
            throw CommError(CommError::PortNotOpen);
    }

    QByteArray m_input;
    bool m_open = false, m_cd = false, m_cts = false, m_dsr = false;
    QHash<int, CommError> m_failures;
};

// The number of the CommError that `operation` throws; 0 if it throws none.
inline int thrownNumber(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const CommError &e) {
        return e.number();
    }
    return 0;
}
