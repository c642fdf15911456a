// SPDX-License-Identifier: MIT
#include "indicator.h"
#include "modalwatcher.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The real ser2net in the foreground, without lock files, with its own
// configuration: RFC 2217 on a free loopback port, in front of `connector`.
struct Ser2net
{
    QTemporaryDir dir;
    QProcess process;
    quint16 port = 0;

    ~Ser2net()
    {
        process.kill();
        process.waitForFinished();
    }
    static QString program() { return QStandardPaths::findExecutable(u"ser2net"_qs, {u"/usr/sbin"_qs, u"/usr/bin"_qs}); }
    QString url() const { return u"rfc2217://127.0.0.1:%1"_qs.arg(port); }
    // Whether it listens, within ten seconds.
    bool start(const QString &ser2net, const QString &connector)
    {
        QTcpServer probe; // for a free port
        if (!probe.listen(QHostAddress::LocalHost))
            return false;
        port = probe.serverPort();
        probe.close();
        QFile config(dir.filePath(u"ser2net.yaml"_qs));
        if (!config.open(QIODevice::WriteOnly)
            || config.write(u"connection: &modem\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n  connector: %2\n"_qs
                                .arg(port).arg(connector).toUtf8()) <= 0)
            return false;
        config.close();
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(ser2net, {u"-n"_qs, u"-u"_qs, u"-c"_qs, config.fileName()});
        const QByteArray listening = QString::asprintf(": 0100007F:%04X 00000000:0000 0A ", port).toLatin1();
        return QTest::qWaitFor([&] {
            QFile table(u"/proc/net/tcp"_qs);
            return table.open(QIODevice::ReadOnly) && table.readAll().contains(listening);
        }, 10000);
    }
};

} // namespace

// The whole window on ports served over the network: modemsim serving its
// modem, with real lines, and the real ser2net in front of a line the test
// plays the device on, or a pseudo-terminal whose line ser2net sets, all
// over RFC 2217.
class TestNetworkTerminal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modemsimLinesShowAndDtrHangsUp()
    {
        QProcess sim;
        sim.start(QStringLiteral(MODEMSIM_PATH), {u"--rfc2217"_qs, u"0"_qs});
        QVERIFY(QTest::qWaitFor([&] { return sim.canReadLine(); }, 10000));
        const QString url = QString::fromLocal8Bit(sim.readLine()).trimmed();
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, url);
        RunningTerminal t(router);
        t.start();
        const auto lit = [&](const char *box) {
            return t.window->findChild<Indicator *>(QLatin1String(box))->colour() == Indicator::activeColour();
        };
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().endsWith(u"OK\n"_qs), 10000);
        QTRY_VERIFY(lit("PicDSR"));
        QVERIFY(lit("PicCTS"));
        QVERIFY(!lit("PicCD"));

        // The settings reach the modem's side of the line.
        router->setSettings(u"115200,E,7,2"_qs);
        t.typeLine(u"AT&V"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().contains(u"LINE: 115200,E,7,2"_qs), 10000);

        t.typeLine(u"ATD123"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(lit("PicCD"), 20000);
        QTest::mouseClick(t.window->findChild<Indicator *>(u"PicDTR"_qs), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!lit("PicCD"), 10000);
        QVERIFY(!lit("PicDSR"));
        QCOMPARE(boxes.count(), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0); // and, in a sanitizer build, nothing leaked
    }

    // Every byte value both ways and a flood, as the raw log shows them; then
    // ser2net dies under the window, which says so. The test plays the device
    // behind ser2net on a TCP connection: ser2net in front of a pseudo-terminal
    // drops bytes of a flood (kilobytes at a time, seen with ser2net 4.3 on
    // Linux 6.18), which would be no fault of the terminal's. The pseudo-
    // terminal path is the end-to-end test's, with modemsim.
    void ser2netPassesEveryByteAndAFlood()
    {
        const QString ser2net = Ser2net::program();
        if (ser2net.isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        QTcpServer device;
        QVERIFY(device.listen(QHostAddress::LocalHost));
        Ser2net server;
        QVERIFY(server.start(ser2net, u"tcp,127.0.0.1,%1"_qs.arg(device.serverPort())));

        QFile raw(server.dir.filePath(u"raw.log"_qs));
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, server.url());
        RunningTerminal t(router);
        t.window->setSessionLog(SessionLog::open({{}, raw.fileName(), false}, {}, nullptr));
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingConnections(), 10000); // the terminal reached ser2net
        QTcpSocket *const line = device.nextPendingConnection();
        QByteArray arrived;
        const auto arrive = [&](qsizetype count) {
            return QTest::qWaitFor([&] { return (arrived += line->readAll()).size() >= count; }, 10000);
        };
        QVERIFY(arrive(3));
        QCOMPARE(arrived, QByteArray("AT\r"));
        // 10 MB: every byte value first, then 0xFF in every 256 bytes and at every chunk's edge somewhere.
        QByteArray sent(10'000'000, 0);
        for (qsizetype i = 0; i < sent.size(); ++i)
            sent[i] = char(i ^ (i >> 8) ^ (i >> 16));
        router->setOutput(sent.first(256));
        QVERIFY(arrive(3 + 256));
        QCOMPARE(arrived.sliced(3), sent.first(256));
        line->write(sent);
        QTRY_VERIFY_WITH_TIMEOUT(raw.size() >= sent.size(), 60000);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll() == sent); // not QCOMPARE: ten megabytes would be printed

        server.process.kill();
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(router->PortOpen(), false);
    }

    // ser2net in front of a pseudo-terminal sets on it the line the terminal
    // asked for, before the greeting reaches it.
    void ser2netSetsTheLineAsked()
    {
        if (Ser2net::program().isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        PseudoTerminal pty;
        QVERIFY(pty.open());
        Ser2net server;
        QVERIFY(server.start(Ser2net::program(), u"serialdev,%1,9600n81,local"_qs.arg(pty.path())));
        auto *router = new PortRouter;
        router->bindPort(2, server.url());
        RunningTerminal t(router);
        t.window->setLineSettings(u"115200,N,8,1"_qs, CommControl::comRTS);
        t.start();
        QCOMPARE(PtyIo::read(pty, 3, 10000), QByteArray("AT\r"));
        QCOMPARE(PtyIo::lineAttributes(pty), u"115200 cs8 -parenb -cstopb crtscts -ixon -ixoff"_qs); // before the greeting
    }
};

QTEST_MAIN(TestNetworkTerminal)
#include "tst_networkterminal.moc"
