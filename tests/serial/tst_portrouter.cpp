#include "commtesting.h"
#include "fakecomm.h"
#include "portnaming.h"
#include "portrouter.h"
#include "pseudoterminal.h"
#include "serialportcomm.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

class tst_PortRouter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void portNumbersNameDevices();
    void opensARealDeviceAndForwardsTraffic();
    void specialNameBuildsItsBackEnd();
    void failuresLeaveThePortClosed();
};

void tst_PortRouter::portNumbersNameDevices()
{
    PortRouter router;
    QCOMPARE(router.deviceName(1), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(router.deviceName(99), QStringLiteral("/dev/ttyS98"));
    router.bindPort(PortNaming::StartupPort, QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(router.deviceName(2), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(router.deviceName(3), QStringLiteral("/dev/ttyS2")); // the others stay
    QCOMPARE(thrownNumber([&] { router.setCommPort(0); }), int(CommError::PortNotFound));

    QCOMPARE(PortNaming::systemDeviceName(QStringLiteral("com12")), QStringLiteral("/dev/ttyS11"));
    for (const char *unchanged : {"/dev/ttyUSB0", "sim", "COM0", "COM", "COM3x", "ttyACM0"})
        QCOMPARE(PortNaming::systemDeviceName(QString::fromLatin1(unchanged)), QString::fromLatin1(unchanged));
}

void tst_PortRouter::opensARealDeviceAndForwardsTraffic()
{
    PseudoTerminal pty;
    PortRouter router;
    QCOMPARE(thrownNumber([&] { router.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    QCOMPARE(thrownNumber([&] { router.Input(); }), int(CommError::PortNotOpen));
    router.setPortOpen(false); // closing a closed port is harmless

    router.bindPort(2, pty.slavePath());
    router.setCommPort(2);
    router.setSettings(QStringLiteral("9600,N,8,1"));
    router.setRThreshold(1);
    router.setDTREnable(true);
    router.setPortOpen(true);
    auto *serial = qobject_cast<SerialPortComm *>(router.backEnd());
    QVERIFY(serial);
    QCOMPARE(serial->deviceName(), pty.slavePath());
    QCOMPARE(serial->RThreshold(), 1);
    QVERIFY(serial->DTREnable());
    QCOMPARE(thrownNumber([&] { router.setCommPort(3); }), int(CommError::PortAlreadyOpen));

    router.setOutput("AT\r");
    QCOMPARE(pty.read(3), QByteArray("AT\r"));
    QByteArray received;
    connect(&router, &CommControl::OnComm, this, [&] { received += router.Input(); });
    QVERIFY(pty.write("OK\r\n"));
    QTRY_COMPARE(received, QByteArray("OK\r\n"));

    router.setSettings(QStringLiteral("19200,N,8,1"));
    QCOMPARE(serial->Settings(), QStringLiteral("19200,N,8,1"));
    QCOMPARE(thrownNumber([&] { router.setSettings(QStringLiteral("19200;N;8;1")); }),
             int(CommError::InvalidPropertyValue));
    QCOMPARE(router.Settings(), QStringLiteral("19200,N,8,1"));

    router.setPortOpen(false);
    QVERIFY(!router.backEnd());
    QVERIFY(router.DTREnable()); // remembered for the next opening
}

void tst_PortRouter::specialNameBuildsItsBackEnd()
{
    PortRouter router;
    QPointer<FakeComm> fake;
    router.registerDevice(QStringLiteral("sim"), [&](QObject *parent) { return fake = new FakeComm(parent); });
    router.bindPort(2, QStringLiteral("SIM"));
    router.setCommPort(2);
    router.setSettings(QStringLiteral("2400,E,7,1"));
    router.setRThreshold(1);
    router.setRTSEnable(false);
    router.setPortOpen(true);
    QVERIFY(fake);
    QCOMPARE(router.backEnd(), fake.data());
    QCOMPARE(fake->log(), (QStringList{"Settings=2400,E,7,1", "RThreshold=1", "DTREnable=true",
                                       "RTSEnable=false", "PortOpen=true"}));

    QList<int> codes;
    QByteArray received;
    connect(&router, &CommControl::OnComm, this, [&] {
        codes += router.CommEvent();
        if (router.CommEvent() == CommControl::comEvReceive)
            received += router.Input();
    });
    fake->receive("RING\r\n");
    fake->setLines(true, false, true);
    fake->raise(CommControl::comEvDSR);
    QCOMPARE(codes, (QList<int>{CommControl::comEvReceive, CommControl::comEvDSR}));
    QCOMPARE(received, QByteArray("RING\r\n"));
    QVERIFY(router.DSRHolding() && router.CDHolding() && !router.CTSHolding());
    router.setOutput("ATA\r");
    QCOMPARE(fake->writes(), QList<QByteArray>{"ATA\r"});
    router.setDTREnable(true); // reaches the open back end at once
    QVERIFY(fake->DTREnable());

    router.setPortOpen(false);
    QVERIFY(!router.CDHolding());
    QTRY_VERIFY(!fake); // disposed of once closed
}

void tst_PortRouter::failuresLeaveThePortClosed()
{
    PortRouter router;
    router.bindPort(2, QStringLiteral("/dev/ttyS_modemterm_missing"));
    router.setCommPort(2);
    QCOMPARE(thrownNumber([&] { router.setPortOpen(true); }), int(CommError::PortNotFound));
    QVERIFY(!router.PortOpen() && !router.backEnd());

    QPointer<FakeComm> fake;
    bool refuse = true;
    router.registerDevice(QStringLiteral("sim"), [&](QObject *parent) {
        fake = new FakeComm(parent);
        if (refuse)
            fake->failOn(FakeComm::OpenPort, CommError(CommError::PortInUse));
        return fake.data();
    });
    router.bindPort(2, QStringLiteral("sim"));
    QCOMPARE(thrownNumber([&] { router.setPortOpen(true); }), int(CommError::PortInUse));
    QVERIFY(!router.PortOpen());
    QTRY_VERIFY(!fake);

    // A back end failing while open closes the port, which opens again later.
    refuse = false;
    router.setPortOpen(true);
    QSignalSpy failed(&router, &CommControl::PortFailed);
    fake->fail(CommError(CommError::DeviceLost));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).value<CommError>().number(), int(CommError::DeviceLost));
    QVERIFY(!router.PortOpen());
    QCOMPARE(thrownNumber([&] { router.setOutput("x"); }), int(CommError::PortNotOpen));
    QTRY_VERIFY(!fake);
    router.setPortOpen(true);
    QVERIFY(router.PortOpen());
}

QTEST_GUILESS_MAIN(tst_PortRouter)
#include "tst_portrouter.moc"
