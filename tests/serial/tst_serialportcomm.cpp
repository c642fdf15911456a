#include "commtesting.h"
#include "processusage.h"
#include "pseudoterminal.h"
#include "serialportcomm.h"

#include <QSignalSpy>
#include <QTest>

#include <termios.h>

namespace {

QByteArray everyByteValue()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

// The line settings the device really has: on Linux the termios of a
// pseudo-terminal pair read through the master are the slave's. A
// pseudo-terminal keeps the speed and stop bits it is given but insists on
// eight data bits without parity, so those cannot be checked here.
termios deviceTermios(const PseudoTerminal &pty)
{
    termios tio{};
    ::tcgetattr(pty.masterFd(), &tio);
    return tio;
}

// Collects what the control receives, the way the terminal does: Input() in
// the OnComm handler.
struct Receiver
{
    explicit Receiver(CommControl &comm)
    {
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this, &comm] {
            codes += comm.CommEvent();
            if (comm.CommEvent() == CommControl::comEvReceive)
                bytes += comm.Input();
        });
    }
    QList<int> codes;
    QByteArray bytes;
};

} // namespace

class tst_SerialPortComm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void appliesSettingsAtOpenAndWhileOpen();
    void rejectsMalformedSettingsKeepingPrevious_data();
    void rejectsMalformedSettingsKeepingPrevious();
    void deviceRefusingSettingsIsAnError();
    void everyByteValuePassesBothWaysUnchanged();
    void receiveRaisesOnCommAndInputTakesAll();
    void noReceiveEventsBelowThresholdOne();
    void closedPortRefusesTrafficAndReopens();
    void deviceWithoutModemLinesStopsPolling();
    void farEndHangingUpClosesPortOnce();
    void missingDeviceIsPortNotFound_data();
    void missingDeviceIsPortNotFound();
};

void tst_SerialPortComm::appliesSettingsAtOpenAndWhileOpen()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    SerialPortComm comm(pty.slavePath());
    comm.setSettings(QStringLiteral("19200,N,8,2"));
    comm.setPortOpen(true);
    QVERIFY(comm.PortOpen());

    termios tio = deviceTermios(pty);
    QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    QVERIFY(tio.c_cflag & CSTOPB);

    comm.setSettings(QStringLiteral("9600,N,8,1"));
    tio = deviceTermios(pty);
    QCOMPARE(cfgetospeed(&tio), speed_t(B9600));
    QVERIFY(!(tio.c_cflag & CSTOPB));
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));

    QCOMPARE(thrownNumber([&] { comm.setPortOpen(true); }), int(CommError::PortAlreadyOpen));
    comm.setPortOpen(false);
    QVERIFY(!comm.PortOpen());
    comm.setPortOpen(false); // closing a closed port is harmless
}

void tst_SerialPortComm::rejectsMalformedSettingsKeepingPrevious_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("complaint");
    // The parser's every rule is tested with LineSettings; here, that the
    // open device keeps what it had.
    QTest::newRow("three fields") << "9600,N,8" << "czterech pól";
    QTest::newRow("parity letter") << "9600,X,8,1" << "parzystość";
    QTest::newRow("stop bits 3") << "9600,N,8,3" << "bitów stopu";
}

void tst_SerialPortComm::rejectsMalformedSettingsKeepingPrevious()
{
    QFETCH(QString, settings);
    QFETCH(QString, complaint);
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setSettings(QStringLiteral("4800,N,8,2"));
    comm.setPortOpen(true);

    try {
        comm.setSettings(settings);
        QFAIL("malformed settings were accepted");
    } catch (const CommError &e) {
        QCOMPARE(e.number(), int(CommError::InvalidPropertyValue));
        QVERIFY2(e.detail().contains(u'"' + settings + u'"'), qPrintable(e.detail()));
        QVERIFY2(e.description().contains(complaint), qPrintable(e.description()));
    }
    QCOMPARE(comm.Settings(), QStringLiteral("4800,N,8,2"));
    const termios tio = deviceTermios(pty);
    QCOMPARE(cfgetospeed(&tio), speed_t(B4800));
    QVERIFY(tio.c_cflag & CSTOPB);
}

void tst_SerialPortComm::deviceRefusingSettingsIsAnError()
{
    // A pseudo-terminal keeps eight data bits without parity whatever it is
    // told, and Qt notices the device did not take the change.
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setSettings(QStringLiteral("9600,E,7,1"));
    QCOMPARE(thrownNumber([&] { comm.setPortOpen(true); }), int(CommError::SettingsRejected));
    QVERIFY(!comm.PortOpen());

    comm.setSettings(QStringLiteral("2400,N,8,1"));
    comm.setPortOpen(true);
    QCOMPARE(thrownNumber([&] { comm.setSettings(QStringLiteral("9600,E,7,1")); }),
             int(CommError::SettingsRejected));
    QCOMPARE(comm.Settings(), QStringLiteral("2400,N,8,1"));
    const termios tio = deviceTermios(pty);
    QCOMPARE(cfgetospeed(&tio), speed_t(B2400));
    QVERIFY(comm.PortOpen());
}

void tst_SerialPortComm::everyByteValuePassesBothWaysUnchanged()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setRThreshold(1);
    comm.setPortOpen(true);
    Receiver received(comm);

    // Twice, and once in a block large enough to need several reads.
    const QByteArray all = everyByteValue();
    QByteArray block;
    for (int i = 0; i < 64; ++i)
        block += all;
    const QByteArray sent = all + all + block;

    QVERIFY(pty.write(sent));
    QTRY_COMPARE_WITH_TIMEOUT(received.bytes.size(), sent.size(), 10000);
    QCOMPARE(received.bytes, sent);

    comm.setOutput(all);
    comm.setOutput(block);
    QCOMPARE(pty.read(all.size() + block.size()), all + block);
}

void tst_SerialPortComm::receiveRaisesOnCommAndInputTakesAll()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setRThreshold(1);
    comm.setPortOpen(true);
    QSignalSpy events(&comm, &CommControl::OnComm);

    QVERIFY(pty.write("hello"));
    QVERIFY(events.wait());
    QCOMPARE(comm.CommEvent(), int(CommControl::comEvReceive));
    // Not taken in the handler: still waiting, and all of it comes at once.
    QVERIFY(pty.write(" world"));
    QTRY_VERIFY(events.size() >= 2);
    QCOMPARE(comm.Input(), QByteArray("hello world"));
    QCOMPARE(comm.Input(), QByteArray());
}

void tst_SerialPortComm::noReceiveEventsBelowThresholdOne()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setRThreshold(0);
    comm.setPortOpen(true);
    QSignalSpy events(&comm, &CommControl::OnComm);

    QVERIFY(pty.write("quiet"));
    QByteArray taken;
    QTRY_COMPARE((taken += comm.Input()), QByteArray("quiet"));
    QCOMPARE(events.size(), 0);
    QCOMPARE(thrownNumber([&] { comm.setRThreshold(-1); }), int(CommError::InvalidPropertyValue));
}

void tst_SerialPortComm::closedPortRefusesTrafficAndReopens()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    QCOMPARE(thrownNumber([&] { comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    QCOMPARE(thrownNumber([&] { comm.Input(); }), int(CommError::PortNotOpen));

    comm.setPortOpen(true);
    comm.setPortOpen(false);
    QCOMPARE(thrownNumber([&] { comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    comm.setPortOpen(true);
    comm.setOutput("AT\r");
    QCOMPARE(pty.read(3), QByteArray("AT\r"));
}

void tst_SerialPortComm::deviceWithoutModemLinesStopsPolling()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setDTREnable(true);
    comm.setRTSEnable(false);
    QSignalSpy failed(&comm, &CommControl::PortFailed);
    QSignalSpy events(&comm, &CommControl::OnComm);

    comm.setPortOpen(true); // a pseudo-terminal has no modem lines to switch
    QVERIFY(!comm.linesPolled());
    QVERIFY(!comm.CTSHolding());
    QVERIFY(!comm.DSRHolding());
    QVERIFY(!comm.CDHolding());
    QVERIFY(comm.DTREnable());
    QVERIFY(!comm.RTSEnable());

    comm.setDTREnable(false);
    comm.setRTSEnable(true);
    QVERIFY(!comm.DTREnable());
    QVERIFY(comm.RTSEnable());

    QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(200) < 100);
    QVERIFY(comm.PortOpen());
    QCOMPARE(failed.size(), 0);
    QCOMPARE(events.size(), 0);
    comm.setOutput("still here");
    QCOMPARE(pty.read(10), QByteArray("still here"));
}

void tst_SerialPortComm::farEndHangingUpClosesPortOnce()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setRThreshold(1);
    comm.setPortOpen(true);
    Receiver received(comm);
    QSignalSpy failed(&comm, &CommControl::PortFailed);

    QVERIFY(pty.write("last words"));
    QTRY_COMPARE(received.bytes, QByteArray("last words"));
    pty.closeMaster();

    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!comm.PortOpen());
    const auto error = failed.at(0).at(0).value<CommError>();
    QCOMPARE(error.number(), int(CommError::DeviceLost));
    QVERIFY2(error.detail().contains(pty.slavePath()), qPrintable(error.detail()));

    // Idle afterwards: no loop on a hung-up descriptor, no second report.
    const qint64 cpuMs = ProcessUsage::cpuMsWhileEventLoopRuns(300);
    QVERIFY2(cpuMs < 100, qPrintable(QStringLiteral("%1 ms of CPU in 300 ms").arg(cpuMs)));
    QCOMPARE(failed.size(), 1);
    QCOMPARE(thrownNumber([&] { comm.setOutput("x"); }), int(CommError::PortNotOpen));
}

void tst_SerialPortComm::missingDeviceIsPortNotFound_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("no such file") << "/dev/ttyS_modemterm_missing";
    QTest::newRow("no such directory") << "/nonexistent/ttyUSB0";
    QTest::newRow("not a terminal") << "/dev/null";
}

void tst_SerialPortComm::missingDeviceIsPortNotFound()
{
    QFETCH(QString, device);
    SerialPortComm comm(device);
    try {
        comm.setPortOpen(true);
        QFAIL("opened a device that is not there");
    } catch (const CommError &e) {
        QCOMPARE(e.number(), int(CommError::PortNotFound));
        QVERIFY2(e.detail().startsWith(device + u':'), qPrintable(e.detail()));
    }
    QVERIFY(!comm.PortOpen());
}

QTEST_GUILESS_MAIN(tst_SerialPortComm)
#include "tst_serialportcomm.moc"
