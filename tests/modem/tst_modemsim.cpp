#include "serialportcomm.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

// modemsim in the background; it prints its terminal's path first.
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
    void answersThroughSerialPort_data();
    void answersThroughSerialPort();
    void endsPromptlyWhateverAClientSends_data();
    void endsPromptlyWhateverAClientSends();
    void commandLine_data();
    void commandLine();
};

void TestModemSim::answersThroughSerialPort_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("staleLink");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGINT, stale link replaced") << int(SIGINT) << true;
}

void TestModemSim::answersThroughSerialPort()
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
    {
        Port port(sim.path);
        port.comm.setPortOpen(true);
        port.comm.setOutput("ATI\r");
        QTRY_VERIFY2_WITH_TIMEOUT(port.received.endsWith("\r\nOK\r\n"), port.received, 10000);
        QCOMPARE(port.received, QByteArray("ATI\r\r\nMODEMTERM SIMULATED MODEM\r\n\r\nOK\r\n"));
    }
    // Opened again, through the link, at another speed.
    Port port(link);
    port.comm.setSettings(QStringLiteral("115200,N,8,1"));
    port.comm.setPortOpen(true);
    port.comm.setOutput("AT&V\r");
    QTRY_VERIFY2_WITH_TIMEOUT(port.received.endsWith("\r\nOK\r\n"), port.received, 10000);
    QVERIFY2(port.received.contains("LINE: 115200,N,8,1"), port.received);

    ::kill(pid_t(sim.process.processId()), signal);
    QVERIFY(sim.process.waitForFinished(10000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestModemSim::endsPromptlyWhateverAClientSends_data()
{
    QTest::addColumn<int>("signal");
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
        QTest::addRow("%s", strsignal(signal)) << signal;
}

// Any request to end is taken at once, link removed, even while a client
// sends without pause.
void TestModemSim::endsPromptlyWhateverAClientSends()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("modem"));
    ModemSim sim;
    QVERIFY(sim.start({QStringLiteral("--link"), link}));
    const int fd = ::open(QFile::encodeName(sim.path).constData(), O_WRONLY | O_NOCTTY);
    QVERIFY(fd >= 0);
    std::atomic<bool> sending{true};
    std::atomic<qint64> sent{0};
    const auto send = [&] {
        const QByteArray noise(65536, 'x');
        while (sending && ::write(fd, noise.constData(), size_t(noise.size())) > 0)
            sent += noise.size();
    };
    std::thread client(send), client2(send);
    QTRY_VERIFY(sent > (1 << 20));
    ::kill(pid_t(sim.process.processId()), signal);
    const bool ended = sim.process.waitForFinished(5000);
    sending = false;
    ::close(fd); // unblocks the client's write
    client.join();
    client2.join();
    QVERIFY(ended);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestModemSim::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::newRow("help") << QStringList{"--help"} << 0 << QByteArray("--link") << QByteArray();
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray(MODEMTERM_VERSION) << QByteArray();
    QTest::newRow("extra argument") << QStringList{"extra"} << 2 << QByteArray() << QByteArray();
    QTest::newRow("link over a file") << QStringList{"--link", "FILE"} << 1 << QByteArray()
                                      << QByteArray("nie jest dowiązaniem");
    QTest::newRow("link on the network") << QStringList{"--rfc2217", "0", "--link", "FILE"} << 2 << QByteArray()
                                         << QByteArray("--link");
    QTest::newRow("bad listen address") << QStringList{"--rfc2217", "::1:2217"} << 2 << QByteArray()
                                        << QByteArray("[ADRES:]PORT");
}

void TestModemSim::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("notes.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
    file.close();
    arguments.replaceInStrings(QStringLiteral("FILE"), file.fileName());

    QProcess process;
    process.start(QStringLiteral(MODEMSIM_PATH), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray stdOut = process.readAllStandardOutput();
    QVERIFY2(out.isEmpty() ? exitCode == 0 || stdOut.isEmpty() : stdOut.contains(out), stdOut);
    QVERIFY(process.readAllStandardError().contains(err));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep me")); // never replaced
}

QTEST_GUILESS_MAIN(TestModemSim)
#include "tst_modemsim.moc"
