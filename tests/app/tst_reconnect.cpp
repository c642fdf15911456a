// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "modalwatcher.h"
#include "processusage.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "serialportcomm.h"

#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// --reconnect: the port reopened by itself when its device comes back, with
// the line asked for (--settings, --flow).
class TestReconnect : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Devices behind symbolic links that come and go (as modemsim --link
    // moves its link), through Qt Serial Port.
    void reopensWhenTheDeviceComesBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(u"modem"_qs);
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, link);
        router->bindPort(3, dir.filePath(u"other"_qs));
        RunningTerminal t(router);
        t.window->enableReconnect([router](int port) { return router->deviceExists(port); });
        // Every opening, by itself or chosen in the dialog, uses the line asked for.
        t.window->setLineSettings(u"57600,N,8,2"_qs, CommControl::comXOnXoff);
        const QString asked = u"57600 cs8 -parenb cstopb -crtscts ixon ixoff"_qs;
        t.start(); // its absence told

        // There, but held by another program: tried quietly, without a busy loop.
        // COM 3's device is made now, for later: made once the ones below are
        // gone, it could take the name COM 2's link is left pointing at.
        PseudoTerminal held, chosen;
        QVERIFY(held.open());
        QVERIFY(chosen.open());
        SerialPortComm other(held.path());
        other.setPortOpen(true);
        QVERIFY(QFile::link(held.path(), link));
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(2500) < 250);
        QCOMPARE(boxes.count(), 1);

        for (int round = 0; round < 2; ++round) {
            PseudoTerminal pty;
            QVERIFY(pty.open());
            QVERIFY(QFile::remove(link));
            QVERIFY(QFile::link(pty.path(), link));
            QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));
            QCOMPARE(PtyIo::lineAttributes(pty), asked);
            QVERIFY(PtyIo::write(pty, "OK " + QByteArray::number(round) + "\r\n"));
            QTRY_VERIFY(t.text1()->text().endsWith(u"OK %1\n"_qs.arg(round)));
            QVERIFY(t.text1()->text().startsWith(u"OK 0\n"_qs)); // the earlier session stays
            // Greeted once: nothing more comes while the reconnector would have
            // polled and settled again.
            QVERIFY(PtyIo::read(pty, 1, 2500).isEmpty());
            QCOMPARE(boxes.count(), 1 + round);

            pty.closeMaster(); // unplugged: told once, as without --reconnect
            QTRY_COMPARE(boxes.count(), 2 + round);
        }

        // COM 3 chosen in the dialog while waiting: its absence is told too,
        // and it is waited for instead of COM 2 (which never comes back).
        boxes.setDialogHandler([](QWidget *w) {
            w->findChild<QAbstractButton *>(u"SetCOM3"_qs)->click();
            w->findChild<QAbstractButton *>(u"cmdZapisz"_qs)->click();
        });
        t.window->findChild<QAction *>(u"mnuSetPort"_qs)->trigger();
        QCOMPARE(boxes.count(), 4);
        QVERIFY2(boxes.texts.last().startsWith(u"Nie mogę otworzyć portu COM 3\n"_qs), qPrintable(boxes.texts.last()));
        QVERIFY(QFile::link(chosen.path(), dir.filePath(u"other"_qs)));
        QCOMPARE(PtyIo::read(chosen, 3), QByteArray("AT\r"));
        QCOMPARE(PtyIo::lineAttributes(chosen), asked);
        QCOMPARE(boxes.count(), 4);
    }

    // A port on the network: refused connections are failures reported
    // later, quiet too once the first was told, and so are servers that hang
    // up at once.
    void reconnectsToANetworkPort()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        server.close();
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, u"socket://127.0.0.1:%1"_qs.arg(port));
        RunningTerminal t(router);
        t.window->enableReconnect([router](int port) { return router->deviceExists(port); });
        t.start();
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(3500) < 350); // two tries refused
        QCOMPARE(boxes.count(), 1);

        // A server that hangs up at once, again and again, is not back yet: quiet.
        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        int hungUp = 0;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            if (hungUp == 3)
                return;
            ++hungUp;
            server.nextPendingConnection()->close();
        });
        QTRY_COMPARE_WITH_TIMEOUT(hungUp, 3, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 5000);
        QCOMPARE(boxes.count(), 1);
    }

    // A device there at one look and gone again once settled (a loose plug):
    // the port is not opened, and nothing more is told.
    void deviceGoneAgainWhileSettlingIsNotOpened()
    {
        auto *comm = new FakeComm;
        comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        ModalWatcher boxes;
        RunningTerminal t(comm);
        int looks = 0;
        t.window->enableReconnect([&looks](int) { return ++looks == 1; });
        t.start();
        // There, gone once settled, and still gone; or opened.
        (void)QTest::qWaitFor([&] { return looks == 3 || comm->PortOpen(); }, 10000);
        QCOMPARE(comm->openings, QStringList());
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(looks, 3);
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
