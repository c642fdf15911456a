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

// The whole window on ports served over the network: modemsim serving its
// modem, with real lines, and the real ser2net in front of a pseudo-terminal
// the test plays the modem on, both over RFC 2217.
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
        QTRY_VERIFY(lit("PicDSR") && lit("PicCTS") && !lit("PicCD"));

        // A second client is told the modem is taken; the first goes on.
        QTcpSocket second;
        second.connectToHost(QHostAddress::LocalHost, quint16(url.section(u':', -1).toUInt()));
        QTRY_COMPARE_WITH_TIMEOUT(second.state(), QAbstractSocket::UnconnectedState, 10000);
        QVERIFY(QString::fromUtf8(second.readAll()).contains(u"zajęty"_qs));

        // The settings reach the modem's side of the line.
        router->setSettings(u"115200,E,7,2"_qs);
        t.typeLine(u"AT&V"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().contains(u"LINE: 115200,E,7,2"_qs), 10000);

        t.typeLine(u"ATD123"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(lit("PicCD"), 20000);
        QTest::mouseClick(t.window->findChild<Indicator *>(u"PicDTR"_qs), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!lit("PicCD") && !lit("PicDSR") && !lit("PicDTR"), 10000);
        QCOMPARE(boxes.count(), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000) && sim.exitCode() == 0); // and, in a sanitizer build, nothing leaked
    }

    // Every byte value both ways and a flood, as the raw log shows them; then
    // ser2net dies under the window, which says so.
    void ser2netPassesEveryByteAndAFlood()
    {
        const QString ser2net = QStandardPaths::findExecutable(u"ser2net"_qs, {u"/usr/sbin"_qs, u"/usr/bin"_qs});
        if (ser2net.isEmpty())
            QSKIP("ser2net is not installed (Debian package ser2net)");
        PseudoTerminal pty;
        QVERIFY(pty.open());
        QTcpServer probe; // for a free port
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        // In the foreground, without lock files, with its own configuration file.
        QTemporaryDir dir;
        QFile config(dir.filePath(u"ser2net.yaml"_qs));
        QVERIFY(config.open(QIODevice::WriteOnly)
                && config.write(u"connection: &modem\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                                "  connector: serialdev,%2,9600n81,local\n"_qs.arg(port).arg(pty.path()).toUtf8()) > 0);
        config.close();
        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedChannels);
        server.start(ser2net, {u"-n"_qs, u"-u"_qs, u"-c"_qs, config.fileName()});
        // Asked of the kernel: a connection would make ser2net open the device.
        const QByteArray listening = QString::asprintf(": 0100007F:%04X 00000000:0000 0A ", port).toLatin1();
        QVERIFY(QTest::qWaitFor([&] {
            QFile table(u"/proc/net/tcp"_qs);
            return table.open(QIODevice::ReadOnly) && table.readAll().contains(listening);
        }, 10000));

        QFile raw(dir.filePath(u"raw.log"_qs));
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, u"rfc2217://127.0.0.1:%1"_qs.arg(port));
        RunningTerminal t(router);
        t.window->setSessionLog(SessionLog::open({{}, raw.fileName(), false}, {}, nullptr));
        t.start();
        QCOMPARE(PtyIo::readUntil(pty, "AT\r"), QByteArray("AT\r")); // ser2net has the device open now
        // 10 MB: every byte value first, then 0xFF in every 256 bytes and at every chunk's edge somewhere.
        QByteArray sent(10'000'000, 0);
        for (qsizetype i = 0; i < sent.size(); ++i)
            sent[i] = char(i ^ (i >> 8) ^ (i >> 16));
        router->setOutput(sent.first(256));
        QCOMPARE(PtyIo::read(pty, 256), sent.first(256));
        QVERIFY(PtyIo::write(pty, sent));
        QTRY_VERIFY_WITH_TIMEOUT(raw.size() >= sent.size(), 60000);
        QVERIFY(raw.open(QIODevice::ReadOnly) && raw.readAll() == sent);

        server.kill();
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY(!router->PortOpen());
    }
};

QTEST_MAIN(TestNetworkTerminal)
#include "tst_networkterminal.moc"
