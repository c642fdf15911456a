// SPDX-License-Identifier: MIT
#pragma once

#include "commcontrol.h"

#include <QHash>
#include <QPointer>

#include <functional>

// The serial control the terminal window owns. It turns the port number into
// a device (port 2 is /dev/ttyS1 unless rebound, say to /dev/ttyUSB0 or to a
// special name such as "sim", or a network address such as
// rfc2217://host:2217), builds the back end for it when the port
// opens, and passes everything through to that back end until it closes.
class PortRouter : public CommControl
{
    Q_OBJECT

public:
    using Factory = std::function<CommControl *(QObject *parent)>;

    explicit PortRouter(QObject *parent = nullptr);
    ~PortRouter() override;

    // Makes `port` stand for `deviceName` (a path, "COMn" or a registered
    // special name) instead of its usual device.
    void bindPort(int port, const QString &deviceName);
    // The name port `port` stands for, as bound or by the usual naming.
    QString deviceName(int port) const;
    // A special device name (matched without regard to case) whose back end
    // `factory` builds.
    void registerDevice(const QString &name, Factory factory);
    // Whether the device port `port` stands for is there to be opened: a path
    // or COMn exists; a special name always is, and so is a network address
    // ("://"), for which only an opening can tell.
    bool deviceExists(int port) const;

    // The back end of the open port; null while closed.
    CommControl *backEnd() const { return m_backEnd; }

    void setSettings(const QString &settings) override;
    void setHandshaking(int handshaking) override;
    void setRThreshold(int threshold) override;
    void setSThreshold(int threshold) override;
    int OutBufferCount() const override;
    void setOutBufferCount(int count) override;
    bool CDHolding() const override;
    bool CTSHolding() const override;
    bool DSRHolding() const override;
    void setDTREnable(bool on) override;
    void setRTSEnable(bool on) override;
    bool RTSEnable() const override;

protected:
    void openDevice() override;
    void closeDevice() override;
    void writeDevice(const QByteArray &bytes) override;
    QByteArray readDevice() override;
    QString portName() const override { return deviceName(CommPort()); }

private:
    CommControl *createBackEnd(const QString &name);
    CommControl *openBackEnd();
    void dropBackEnd();

    QHash<int, QString> m_bindings;
    QHash<QString, Factory> m_factories;
    QPointer<CommControl> m_backEnd;
};
