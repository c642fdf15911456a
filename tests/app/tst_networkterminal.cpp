// SPDX-License-Identifier: MIT
#include "indicator.h"
#include "runningterminal.h"
#include "sessionlog.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// The whole window on ports served over the network: modemsim serving its
// modem, with real lines, and the real ser2net in front of a line the test
// plays the device on, both over RFC 2217.
class TestNetworkTerminal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modemsimLinesShowAndDtrHangsUp()
    {
        QProcess sim;
        sim.start(MODEMSIM_PATH, {"--rfc2217", "0"});
        QVERIFY(sim.waitForReadyRead(10000));
        auto *router = new PortRouter;
        router->bindPort(2, sim.readLine().trimmed());
        WatchedTerminal t(router);
        t.start();
        const auto lit = [&](const char *box) {
            return t.window->findChild<Indicator *>(box)->colour() == Indicator::activeColour();
        };
        QTRY_VERIFY_WITH_TIMEOUT(lit("PicDSR"), 10000);
        QVERIFY(lit("PicCTS"));

        // The settings reach the modem's side of the line.
        router->setSettings("115200,E,7,2");
        t.typeLine("AT&V");
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().contains("LINE: 115200,E,7,2"), 10000);

        t.typeLine("ATD123");
        QTRY_VERIFY_WITH_TIMEOUT(lit("PicCD"), 20000);
        QTest::mouseClick(t.window->findChild<Indicator *>("PicDTR"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!lit("PicCD"), 10000);
        QVERIFY(!lit("PicDSR"));
        QCOMPARE(t.count(), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0); // and, in a sanitizer build, nothing leaked
    }

    // Every byte value in a flood, as the raw log shows them. The test plays the device
    // behind ser2net on a TCP connection: ser2net in front of a pseudo-terminal
    // drops bytes of a flood (kilobytes at a time, seen with ser2net 4.3 on
    // Linux 6.18), which would be no fault of the terminal's. The pseudo-
    // terminal path is the end-to-end test's, with modemsim.
    void ser2netPassesEveryByteAndAFlood()
    {
        const QString ser2net = QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/usr/bin"});
        if (ser2net.isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        QTcpServer device, probe; // the probe for a free port
        device.listen(QHostAddress::LocalHost);
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        // ser2net in the foreground, without lock files, with its own configuration.
        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedChannels);
        server.start(ser2net, {"-n", "-u", "-Y",
                               u"connection: &modem#  accepter: telnet(rfc2217),tcp,127.0.0.1,%1#  connector: tcp,127.0.0.1,%2"_qs
                                   .arg(port).arg(device.serverPort())});

        QTemporaryDir dir;
        QFile raw(dir.filePath("raw.log"));
        auto *router = new PortRouter;
        router->bindPort(2, u"rfc2217://127.0.0.1:%1"_qs.arg(port));
        WatchedTerminal t(router);
        t.window->setSessionLog(SessionLog::open({{}, raw.fileName()}, {}, nullptr));
        t.window->enableReconnect([](int) { return true; }); // ser2net may not be listening yet
        t.start();
        QTRY_VERIFY_WITH_TIMEOUT(device.hasPendingConnections(), 10000); // the terminal reached ser2net
        // 10 MB: every byte value first, then 0xFF in every 256 bytes and at every chunk's edge somewhere.
        QByteArray sent(10'000'000, 0);
        for (qsizetype i = 0; i < sent.size(); ++i)
            sent[i] = char(i ^ (i >> 8) ^ (i >> 16));
        device.nextPendingConnection()->write(sent);
        QTRY_VERIFY_WITH_TIMEOUT(raw.size() >= sent.size(), 60000);
        raw.open(QIODevice::ReadOnly);
        QVERIFY(raw.readAll() == sent); // not QCOMPARE: ten megabytes would be printed
    }
};

QTEST_MAIN(TestNetworkTerminal)
#include "tst_networkterminal.moc"
