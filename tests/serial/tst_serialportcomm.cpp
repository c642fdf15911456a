#include "commtesting.h"
#include "processusage.h"
#include "pseudoterminal.h"
#include "serialportcomm.h"

#include <QSignalSpy>
#include <QTest>

#include <numeric>

#include <termios.h>

namespace {

// The device's own line settings: on Linux the master reads the slave's termios.
termios deviceTermios(const PseudoTerminal &pty)
{
    termios tio{};
    ::tcgetattr(pty.masterFd(), &tio);
    return tio;
}

// Collects what the control receives the way the terminal does: Input() in the OnComm handler.
struct Receiver
{
    explicit Receiver(CommControl &comm)
    {
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this, &comm] {
            if (comm.CommEvent() == CommControl::comEvReceive)
                bytes += comm.Input();
        });
    }
    QByteArray bytes;
};

} // namespace

class tst_SerialPortComm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsReachTheDeviceOrChangeNothing();
    void openAndCloseGuardTraffic();
    void everyByteValuePassesBothWaysUnchanged();
    void receiveEventsFollowTheThreshold();
    void deviceWithoutModemLinesStopsPolling();
    void farEndHangingUpClosesPortOnce();
    void missingDeviceIsPortNotFound_data();
    void missingDeviceIsPortNotFound();
};

void tst_SerialPortComm::settingsReachTheDeviceOrChangeNothing()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    SerialPortComm comm(pty.slavePath());
    // A pseudo-terminal insists on 8 data bits without parity: Qt sees the refusal.
    comm.setSettings(QStringLiteral("9600,E,7,1"));
    QCOMPARE(thrownNumber([&] { comm.setPortOpen(true); }), int(CommError::SettingsRejected));
    QVERIFY(!comm.PortOpen());

    comm.setSettings(QStringLiteral("19200,N,8,2"));
    comm.setPortOpen(true);
    termios tio = deviceTermios(pty);
    QCOMPARE(cfgetospeed(&tio), speed_t(B19200));
    QVERIFY(tio.c_cflag & CSTOPB);

    comm.setSettings(QStringLiteral("4800,N,8,1"));
    QCOMPARE(thrownNumber([&] { comm.setSettings(QStringLiteral("9600,N,8")); }),
             int(CommError::InvalidPropertyValue));
    QCOMPARE(thrownNumber([&] { comm.setSettings(QStringLiteral("9600,E,7,1")); }),
             int(CommError::SettingsRejected));
    QCOMPARE(comm.Settings(), QStringLiteral("4800,N,8,1"));
    tio = deviceTermios(pty);
    QCOMPARE(cfgetospeed(&tio), speed_t(B4800));
    QVERIFY(!(tio.c_cflag & CSTOPB));
    QVERIFY(comm.PortOpen());
}

void tst_SerialPortComm::openAndCloseGuardTraffic()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    QCOMPARE(thrownNumber([&] { comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    QCOMPARE(thrownNumber([&] { comm.Input(); }), int(CommError::PortNotOpen));
    comm.setPortOpen(true);
    QCOMPARE(thrownNumber([&] { comm.setPortOpen(true); }), int(CommError::PortAlreadyOpen));
    comm.setPortOpen(false);
    comm.setPortOpen(false); // closing a closed port is harmless
    QCOMPARE(thrownNumber([&] { comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    comm.setPortOpen(true);
    comm.setOutput("AT\r");
    QCOMPARE(pty.read(3), QByteArray("AT\r"));
}

void tst_SerialPortComm::everyByteValuePassesBothWaysUnchanged()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setRThreshold(1);
    comm.setPortOpen(true);
    Receiver received(comm);

    // Twice, and once in a block large enough to need several reads.
    QByteArray all(256, '\0');
    std::iota(all.begin(), all.end(), char(0));
    const QByteArray block = all.repeated(64);
    const QByteArray sent = all + all + block;

    QVERIFY(pty.write(sent));
    QTRY_COMPARE_WITH_TIMEOUT(received.bytes.size(), sent.size(), 10000);
    QCOMPARE(received.bytes, sent);

    comm.setOutput(all);
    comm.setOutput(block);
    QCOMPARE(pty.read(all.size() + block.size()), all + block);
}

void tst_SerialPortComm::receiveEventsFollowTheThreshold()
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

    comm.setRThreshold(1);
    QVERIFY(pty.write("hello"));
    QVERIFY(events.wait());
    QCOMPARE(comm.CommEvent(), int(CommControl::comEvReceive));
    // Not taken in the handler: still waiting, and all of it comes at once.
    QVERIFY(pty.write(" world"));
    QTRY_VERIFY(events.size() >= 2);
    QCOMPARE(comm.Input(), QByteArray("hello world"));
    QCOMPARE(comm.Input(), QByteArray());
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
    QVERIFY(!comm.CTSHolding() && !comm.DSRHolding() && !comm.CDHolding());
    QVERIFY(comm.DTREnable() && !comm.RTSEnable());
    comm.setDTREnable(false);
    comm.setRTSEnable(true);
    QVERIFY(!comm.DTREnable() && comm.RTSEnable());

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
    // One cause, one wording, whatever errno Qt happened to keep.
    QCOMPARE(error.detail(), pty.slavePath() + QStringLiteral(": połączenie zerwane"));

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
