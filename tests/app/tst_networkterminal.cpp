// SPDX-License-Identifier: MIT
#include "indicator.h"
#include "modalwatcher.h"
#include "networkcomm.h"
#include "processusage.h"
#include "ptyio.h"
#include "runningterminal.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTcpSocket>
#include <QTest>

namespace {

// Whether something listens on 127.0.0.1:port, asked of the kernel rather
// than by connecting (a connection would make ser2net open the device).
bool listening(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == wanted && fields[3] == "0A")
            return true;
    }
    return false;
}

// ser2net in the foreground with its own configuration, serving `device`
// with RFC 2217 on a free loopback port.
struct Ser2Net
{
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;

    bool start(const QString &program, const QString &device)
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return false;
        port = probe.serverPort();
        probe.close();
        QFile config(dir.filePath(QStringLiteral("ser2net.yaml")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("connection: &modem\n"
                                    "  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                    "  connector: serialdev,%2,9600n81,local\n")
                         .arg(port).arg(device).toUtf8());
        config.close();
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        // -n: foreground; -u: no lock files in the system's lock directory.
        process.start(program, {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config.fileName()});
        return process.waitForStarted() && QTest::qWaitFor([&] { return listening(port); }, 10000);
    }
    QString url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port); }
    ~Ser2Net()
    {
        process.kill();
        process.waitForFinished();
    }
};

} // namespace

// The network back end and the whole window on ports served over the network:
// the real ser2net in front of a pseudo-terminal the test plays the modem on,
// and modemsim serving its modem, with real lines, over RFC 2217.
class tst_NetworkTerminal : public QObject
{
    Q_OBJECT

private:
    QString m_program;

private Q_SLOTS:
    void init()
    {
        m_program = QStandardPaths::findExecutable(QStringLiteral("ser2net"),
                                                   {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
        if (m_program.isEmpty() && QByteArray(QTest::currentTestFunction()).contains("ser2net"))
            QSKIP("ser2net is not installed (Debian package ser2net)");
    }

    void modemsimLinesShowAndDtrHangsUp()
    {
        QProcess sim;
        sim.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("--rfc2217"), QStringLiteral("0")});
        QVERIFY(QTest::qWaitFor([&] { return sim.canReadLine(); }, 10000));
        const QString url = QString::fromLocal8Bit(sim.readLine()).trimmed();
        QVERIFY2(url.startsWith(QLatin1String("rfc2217://127.0.0.1:")), qPrintable(url));
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, url);
        RunningTerminal t(router);
        t.start();
        const auto shows = [&](const char *name, bool on) {
            return t.window->findChild<Indicator *>(QLatin1String(name))->colour()
                   == (on ? Indicator::activeColour() : Indicator::inactiveColour());
        };
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().endsWith(QLatin1String("OK\n")), 10000);
        QTRY_VERIFY(shows("PicDSR", true) && shows("PicCTS", true) && shows("PicCD", false));

        // A second client is told the modem is taken; the first goes on.
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, quint16(url.section(u':', -1).toUInt()));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, 10000);
        QVERIFY(QString::fromUtf8(second.readAll()).contains(QStringLiteral("zajęty")));

        // The settings reach the modem's side of the line.
        router->setSettings(QStringLiteral("115200,N,8,1"));
        t.typeLine(QStringLiteral("AT&V"));
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().contains(QLatin1String("LINE: 115200,N,8,1")), 10000);

        t.typeLine(QStringLiteral("ATD123"));
        QTRY_VERIFY_WITH_TIMEOUT(shows("PicCD", true), 20000);
        QTest::mouseClick(t.window->findChild<Indicator *>(QStringLiteral("PicDTR")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(shows("PicCD", false) && shows("PicDSR", false) && shows("PicDTR", false), 10000);
        QTRY_VERIFY(t.text1()->text().contains(QLatin1String("NO CARRIER")));
        QCOMPARE(boxes.count(), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0); // and, in a sanitizer build, nothing leaked
    }

    void ser2netPassesEveryByteAndAFlood()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        Ser2Net server;
        QVERIFY(server.start(m_program, pty.path()));
        NetworkComm comm(*NetworkAddress::parse(server.url()));
        QByteArray received;
        connect(&comm, &CommControl::OnComm, this, [&] {
            if (comm.CommEvent() == CommControl::comEvReceive)
                received += comm.Input();
        });
        comm.setRThreshold(1);
        comm.setPortOpen(true);

        QByteArray everyByte;
        for (int i = 0; i < 256; ++i)
            everyByte += char(i);
        comm.setOutput(everyByte);
        QCOMPARE(PtyIo::read(pty, 256), everyByte); // ser2net has the device open now
        QVERIFY(PtyIo::write(pty, everyByte));
        QTRY_COMPARE(received, everyByte);

        // 10 MB, 0xFF in every 256 bytes and at every chunk's edge somewhere.
        received.clear();
        QByteArray flood(10'000'000, 0);
        for (qsizetype i = 0; i < flood.size(); ++i)
            flood[i] = char(i ^ (i >> 8) ^ (i >> 16));
        QVERIFY(PtyIo::write(pty, flood));
        QTRY_VERIFY_WITH_TIMEOUT(received.size() >= flood.size(), 60000);
        QCOMPARE(received.size(), flood.size());
        QVERIFY(received == flood);
        QVERIFY(comm.PortOpen());
    }

    void ser2netKilledWarnsOnce()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        Ser2Net server;
        QVERIFY(server.start(m_program, pty.path()));
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, server.url());
        RunningTerminal t(router);
        t.start();
        QCOMPARE(PtyIo::readUntil(pty, "AT\r"), QByteArray("AT\r"));
        QVERIFY(PtyIo::write(pty, "OK\r\n"));
        QTRY_COMPARE(t.text1()->text(), QStringLiteral("OK\n"));

        server.process.kill();
        QTRY_COMPARE(boxes.count(), 1);
        const QStringList lines = boxes.texts.first().split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QStringLiteral("Nieznany błąd nr 8022 ") + CommError::describe(CommError::DeviceLost));
        QVERIFY2(lines[1].startsWith(server.url() + QLatin1String(": ")), qPrintable(lines[1]));
        QVERIFY(!router->PortOpen());
        // Idle, not spinning on a dead connection, and no second warning.
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(500) < 200);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(t.text1()->text(), QStringLiteral("OK\n")); // the transcript is kept
    }
};

QTEST_MAIN(tst_NetworkTerminal)
#include "tst_networkterminal.moc"
