#include "serialportcomm.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

// modemsim running in the background, its terminal path read from stdout.
struct ModemSim
{
    QProcess process;
    QString path;

    bool start(const QStringList &arguments = {})
    {
        process.start(QStringLiteral(MODEMSIM_PATH), arguments);
        if (!process.waitForStarted())
            return false;
        QDeadlineTimer deadline(10000);
        while (!process.canReadLine() && !deadline.hasExpired() && process.state() == QProcess::Running)
            process.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !path.isEmpty();
    }
    ~ModemSim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

// The serial control on modemsim's terminal, gathering what it receives.
struct Port
{
    SerialPortComm comm;
    QByteArray received;

    explicit Port(const QString &path)
        : comm(path)
    {
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this] {
            if (comm.CommEvent() == CommControl::comEvReceive)
                received += comm.Input();
        });
        comm.setSettings(QStringLiteral("9600,N,8,1"));
        comm.setRThreshold(1);
        comm.setDTREnable(true);
        comm.setRTSEnable(true);
    }
};

} // namespace

class TestModemSim : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answersThroughSerialPort();
    void linksAndCleansUp_data();
    void linksAndCleansUp();
    void refusesToReplaceAFile();
    void helpAndVersion();
};

void TestModemSim::answersThroughSerialPort()
{
    ModemSim sim;
    QVERIFY(sim.start());
    QVERIFY2(sim.path.startsWith(QStringLiteral("/dev/")), qPrintable(sim.path));

    {
        Port port(sim.path);
        port.comm.setPortOpen(true);
        port.comm.setOutput("ATI\r");
        QTRY_VERIFY2_WITH_TIMEOUT(port.received.endsWith("\r\nOK\r\n"), port.received, 10000);
        QCOMPARE(port.received, QByteArray("ATI\r\r\nMODEMTERM SIMULATED MODEM\r\n\r\nOK\r\n"));
        port.comm.setPortOpen(false);
    }
    // The terminal side can be closed and opened again, at another speed.
    Port port(sim.path);
    port.comm.setSettings(QStringLiteral("115200,N,8,1"));
    port.comm.setPortOpen(true);
    port.comm.setOutput("AT&V\r");
    QTRY_VERIFY2_WITH_TIMEOUT(port.received.endsWith("\r\nOK\r\n"), port.received, 10000);
    QVERIFY2(port.received.contains("LINE: 115200,N,8,1"), port.received);
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void TestModemSim::linksAndCleansUp_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("staleLink");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, stale link replaced") << int(SIGINT) << true;
}

void TestModemSim::linksAndCleansUp()
{
    QFETCH(int, signal);
    QFETCH(bool, staleLink);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("modem"));
    if (staleLink)
        QVERIFY(QFile::link(QStringLiteral("/dev/pts/no-such-terminal"), link));

    ModemSim sim;
    QVERIFY(sim.start({QStringLiteral("--link"), link}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path);

    Port port(link);
    port.comm.setPortOpen(true);
    port.comm.setOutput("AT\r");
    QTRY_COMPARE_WITH_TIMEOUT(port.received, QByteArray("AT\r\r\nOK\r\n"), 10000);

    ::kill(pid_t(sim.process.processId()), signal);
    QVERIFY(sim.process.waitForFinished(10000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    port.comm.setPortOpen(false);
}

void TestModemSim::refusesToReplaceAFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("notes.txt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("keep me");
    file.close();

    QProcess process;
    process.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("--link"), path});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("nie jest dowiązaniem"));
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me"));
}

void TestModemSim::helpAndVersion()
{
    QProcess process;
    process.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().contains("--link"));

    process.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("--version")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(process.readAllStandardOutput().contains(MODEMTERM_VERSION));

    process.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("extra")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
}

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
