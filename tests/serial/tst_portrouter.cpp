#include "commtesting.h"
#include "portnaming.h"
#include "portrouter.h"
#include "pseudoterminal.h"
#include "serialportcomm.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A back end a special device name stands for; it records what it was told
// and lets the test play the device.
class StandInComm : public CommControl
{
public:
    using CommControl::CommControl;

    void setPortOpen(bool open) override
    {
        if (open && refuseOpen)
            throw CommError(CommError::PortInUse, QStringLiteral("stand-in"));
        m_open = open;
    }
    bool PortOpen() const override { return m_open; }
    void setOutput(const QByteArray &bytes) override { sent += bytes; }
    QByteArray Input() override { return std::exchange(waiting, {}); }
    bool CDHolding() const override { return cd; }
    bool CTSHolding() const override { return false; }
    bool DSRHolding() const override { return dsr; }

    void receive(const QByteArray &bytes)
    {
        waiting += bytes;
        raiseComm(comEvReceive);
    }
    void changeDsr(bool on)
    {
        dsr = on;
        raiseComm(comEvDSR);
    }
    void fail() {
        m_open = false;
        Q_EMIT PortFailed(CommError(CommError::DeviceLost, QStringLiteral("stand-in")));
    }

    bool refuseOpen = false;
    QByteArray sent;
    QByteArray waiting;
    bool dsr = false;
    bool cd = true;

private:
    bool m_open = false;
};

} // namespace

class tst_PortRouter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portNumbersNameDevices();
    void rebindingOnePortLeavesTheOthers();
    void opensARealDeviceAndForwardsTraffic();
    void specialNameBuildsItsBackEnd();
    void backEndFailingClosesThePort();
    void failedOpeningLeavesThePortClosed();
    void closedPortRefusesTraffic();
};

void tst_PortRouter::portNumbersNameDevices()
{
    PortRouter router;
    QCOMPARE(router.deviceName(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(router.deviceName(2), QStringLiteral("/dev/ttyS1"));
    QCOMPARE(router.deviceName(99), QStringLiteral("/dev/ttyS98"));

    QCOMPARE(PortNaming::systemDeviceName(QStringLiteral("COM3")), QStringLiteral("/dev/ttyS2"));
    QCOMPARE(PortNaming::systemDeviceName(QStringLiteral("com12")), QStringLiteral("/dev/ttyS11"));
    for (const char *unchanged : {"/dev/ttyUSB0", "sim", "COM0", "COM", "COM3x", "ttyACM0"})
        QCOMPARE(PortNaming::systemDeviceName(QString::fromLatin1(unchanged)), QString::fromLatin1(unchanged));
}

void tst_PortRouter::rebindingOnePortLeavesTheOthers()
{
    PortRouter router;
    router.bindPort(PortNaming::StartupPort, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(router.deviceName(2), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(router.deviceName(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(router.deviceName(3), QStringLiteral("/dev/ttyS2"));
    router.bindPort(2, QStringLiteral("sim"));
    QCOMPARE(router.deviceName(2), QStringLiteral("sim"));
}

void tst_PortRouter::opensARealDeviceAndForwardsTraffic()
{
    PseudoTerminal pty;
    PortRouter router;
    router.bindPort(2, pty.slavePath());
    router.setCommPort(2);
    router.setSettings(QStringLiteral("9600,N,8,1"));
    router.setRThreshold(1);
    router.setDTREnable(true);
    router.setPortOpen(true);
    QVERIFY(router.PortOpen());
    auto *serial = qobject_cast<SerialPortComm *>(router.backEnd());
    QVERIFY(serial);
    QCOMPARE(serial->deviceName(), pty.slavePath());
    QCOMPARE(serial->Settings(), QStringLiteral("9600,N,8,1"));
    QCOMPARE(serial->RThreshold(), 1);
    QVERIFY(serial->DTREnable());
    QCOMPARE(thrownNumber([&] { router.setCommPort(3); }), int(CommError::PortAlreadyOpen));

    router.setOutput("AT\r");
    QCOMPARE(pty.read(3), QByteArray("AT\r"));

    QByteArray received;
    connect(&router, &CommControl::OnComm, this, [&] {
        QCOMPARE(router.CommEvent(), int(CommControl::comEvReceive));
        received += router.Input();
    });
    QVERIFY(pty.write("OK\r\n"));
    QTRY_COMPARE(received, QByteArray("OK\r\n"));

    // Settings changed while open reach the device; malformed ones change nothing.
    router.setSettings(QStringLiteral("19200,N,8,1"));
    QCOMPARE(serial->Settings(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(thrownNumber([&] { router.setSettings(QStringLiteral("19200;N;8;1")); }),
             int(CommError::InvalidPropertyValue));
    QCOMPARE(router.Settings(), QStringLiteral("19200,N,8,1"));

    router.setPortOpen(false);
    QVERIFY(!router.PortOpen());
    QVERIFY(!router.backEnd());
    QVERIFY(router.DTREnable());
}

void tst_PortRouter::specialNameBuildsItsBackEnd()
{
    PortRouter router;
    QPointer<StandInComm> standIn;
    router.registerDevice(QStringLiteral("sim"), [&](QObject *parent) {
        standIn = new StandInComm(parent);
        return standIn.data();
    });
    router.bindPort(2, QStringLiteral("SIM"));
    router.setCommPort(2);
    router.setSettings(QStringLiteral("2400,E,7,1"));
    router.setRThreshold(1);
    router.setRTSEnable(true);
    router.setPortOpen(true);
    QVERIFY(standIn);
    QCOMPARE(router.backEnd(), standIn.data());
    QCOMPARE(standIn->Settings(), QStringLiteral("2400,E,7,1"));
    QCOMPARE(standIn->RThreshold(), 1);
    QVERIFY(standIn->RTSEnable());
    QVERIFY(!standIn->DTREnable());

    QList<int> codes;
    QByteArray received;
    connect(&router, &CommControl::OnComm, this, [&] {
        codes += router.CommEvent();
        if (router.CommEvent() == CommControl::comEvReceive)
            received += router.Input();
    });
    standIn->receive("RING\r\n");
    standIn->changeDsr(true);
    QCOMPARE(codes, (QList<int>{CommControl::comEvReceive, CommControl::comEvDSR}));
    QCOMPARE(received, QByteArray("RING\r\n"));
    QVERIFY(router.DSRHolding());
    QVERIFY(router.CDHolding());
    QVERIFY(!router.CTSHolding());

    router.setOutput("ATA\r");
    QCOMPARE(standIn->sent, QByteArray("ATA\r"));
    router.setDTREnable(true);
    QVERIFY(standIn->DTREnable());

    router.setPortOpen(false);
    QVERIFY(!router.CDHolding());
    QTRY_VERIFY(!standIn); // disposed of once closed
}

void tst_PortRouter::backEndFailingClosesThePort()
{
    PortRouter router;
    QPointer<StandInComm> standIn;
    router.registerDevice(QStringLiteral("sim"), [&](QObject *parent) {
        standIn = new StandInComm(parent);
        return standIn.data();
    });
    router.bindPort(2, QStringLiteral("sim"));
    router.setCommPort(2);
    router.setPortOpen(true);
    QSignalSpy failed(&router, &CommControl::PortFailed);

    standIn->fail();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).value<CommError>().number(), int(CommError::DeviceLost));
    QVERIFY(!router.PortOpen());
    QCOMPARE(thrownNumber([&] { router.setOutput("x"); }), int(CommError::PortNotOpen));
    QTRY_VERIFY(!standIn);

    // The port can be opened again afterwards.
    router.setPortOpen(true);
    QVERIFY(router.PortOpen());
}

void tst_PortRouter::failedOpeningLeavesThePortClosed()
{
    PortRouter router;
    router.bindPort(2, QStringLiteral("/dev/ttyS_modemterm_missing"));
    router.setCommPort(2);
    try {
        router.setPortOpen(true);
        QFAIL("a missing device opened");
    } catch (const CommError &e) {
        QCOMPARE(e.number(), int(CommError::PortNotFound));
        QVERIFY(e.detail().contains(QLatin1String("/dev/ttyS_modemterm_missing")));
    }
    QVERIFY(!router.PortOpen());
    QVERIFY(!router.backEnd());

    QPointer<StandInComm> standIn;
    router.registerDevice(QStringLiteral("busy"), [&](QObject *parent) {
        standIn = new StandInComm(parent);
        standIn->refuseOpen = true;
        return standIn.data();
    });
    router.bindPort(2, QStringLiteral("busy"));
    QCOMPARE(thrownNumber([&] { router.setPortOpen(true); }), int(CommError::PortInUse));
    QVERIFY(!router.PortOpen());
    QTRY_VERIFY(!standIn);
}

void tst_PortRouter::closedPortRefusesTraffic()
{
    PortRouter router;
    QCOMPARE(thrownNumber([&] { router.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    QCOMPARE(thrownNumber([&] { router.Input(); }), int(CommError::PortNotOpen));
    QVERIFY(!router.CTSHolding());
    router.setPortOpen(false); // closing a closed port is harmless
    router.setDTREnable(true); // remembered for the next opening
    QVERIFY(router.DTREnable());
    QCOMPARE(thrownNumber([&] { router.setCommPort(0); }), int(CommError::PortNotFound));
}

QTEST_GUILESS_MAIN(tst_PortRouter)
#include "tst_portrouter.moc"
