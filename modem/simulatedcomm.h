// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"

class HayesModem;

// The serial control with a simulated Hayes modem on the other end of the
// cable instead of a device. The modem exists as long as the control, so it
// keeps its settings (and a call) across closing and reopening; closing drops
// DTR and RTS as a real port does, which hangs up a call (&D2).
//
// Events are raised from the event loop, never from inside a call into the
// control, so a handler may use the control freely.
class SimulatedComm : public CommControl
{
    Q_OBJECT

public:
    explicit SimulatedComm(QObject *parent = nullptr);
    ~SimulatedComm() override;

    // The engine, for tests and tools: pacing, time scale, incoming calls.
    HayesModem *modem() const { return m_modem; }

    void setSettings(const QString &settings) override;
    void setHandshaking(int handshaking) override;
    void setRThreshold(int threshold) override;
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
    QString portName() const override;

private:
    void announceReceived();
    void announceLine(int code);

    HayesModem *m_modem;
};
