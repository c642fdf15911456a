// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "processusage.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "serialportcomm.h"

#include <QAction>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// --reconnect: the port reopened by itself when its device comes back, with
// the line asked for (--settings, --flow).
class TestReconnect : public QObject
{
    Q_OBJECT

    // A window reconnecting to the devices of COM 2, COM 3, ..., and the boxes it shows.
    struct Reconnecting : WatchedTerminal
    {
        explicit Reconnecting(const QStringList &devices, PortRouter *router = new PortRouter) : WatchedTerminal(router)
        {
            for (int port = 2; const QString &device : devices)
                router->bindPort(port++, device);
            window->enableReconnect(std::bind_front(&PortRouter::deviceExists, router));
        }
    };

private Q_SLOTS:
    // Devices behind symbolic links that come and go (as modemsim --link
    // moves its link), through Qt Serial Port.
    void reopensWhenTheDeviceComesBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("modem"), other = dir.filePath("other");
        Reconnecting t({link, other});
        // Every opening, by itself or chosen in the dialog, uses the line asked for.
        t.window->setLineSettings("57600,N,8,2", CommControl::comXOnXoff);
        t.start(); // its absence told
        const auto comesBack = [&](PseudoTerminal &device, const QString &at) {
            QFile::remove(at);
            QVERIFY(QFile::link(device.path(), at));
            QCOMPARE(PtyIo::read(device, 3), "AT\r");
            QCOMPARE(PtyIo::lineAttributes(device), "57600 cs8 -parenb cstopb -crtscts ixon ixoff");
        };

        // There, but held by another program: tried quietly, without a busy loop.
        // COM 3's device is made now, for later: made once the ones below are
        // gone, it could take the name COM 2's link is left pointing at.
        PseudoTerminal held, chosen;
        QVERIFY(held.open());
        QVERIFY(chosen.open());
        SerialPortComm holder(held.path());
        holder.setPortOpen(true);
        QVERIFY(QFile::link(held.path(), link));
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(2500) < 250);
        QCOMPARE(t.count(), 1);

        for (int round = 0; round < 2; ++round) {
            PseudoTerminal pty;
            QVERIFY(pty.open());
            comesBack(pty, link);
            QVERIFY(PtyIo::write(pty, "OK\r\n"));
            QTRY_COMPARE(t.text1()->text(), QString("OK\n").repeated(round + 1)); // the earlier session stays
            // Greeted once: nothing more comes while the reconnector would have
            // polled and settled again.
            QVERIFY(PtyIo::read(pty, 1, 2500).isEmpty());
            QCOMPARE(t.count(), 1 + round);

            pty.closeMaster(); // unplugged: told once, as without --reconnect
            QTRY_COMPARE(t.count(), 2 + round);
        }

        // COM 3 chosen in the dialog while waiting: its absence is told too,
        // and it is waited for instead of COM 2 (which never comes back).
        t.setDialogHandler([](QWidget *w) {
            w->findChild<QAbstractButton *>("SetCOM3")->click();
            w->findChild<QAbstractButton *>("cmdZapisz")->click();
        });
        t.window->findChild<QAction *>("mnuSetPort")->trigger();
        QCOMPARE(t.count(), 4);
        QCOMPARE(t.texts.last().section("\n", 0, 0), "Nie mogę otworzyć portu COM 3");
        comesBack(chosen, other);
        QCOMPARE(t.count(), 4);
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
        Reconnecting t({u"socket://127.0.0.1:%1"_qs.arg(port)});
        t.start();
        QTRY_COMPARE(t.count(), 1);
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(3500) < 350); // two tries refused
        QCOMPARE(t.count(), 1);

        // A server that hangs up at once, three times, is not back yet: quiet.
        // The try after those is left waiting.
        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        int tries = 0;
        connect(&server, &QTcpServer::newConnection, &server, [&] {
            if (++tries <= 3)
                server.nextPendingConnection()->close();
        });
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 20000);
        QCOMPARE(t.count(), 1);
    }

    // A device there at one look and gone again once settled (a loose plug):
    // the port is not opened, and nothing more is told.
    void deviceGoneAgainWhileSettlingIsNotOpened()
    {
        auto *comm = new FakeComm;
        comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        WatchedTerminal t(comm);
        int looks = 0;
        t.window->enableReconnect([&looks](int) { return ++looks == 1; });
        t.start();
        // There, gone once settled, and still gone; or opened.
        (void)QTest::qWaitFor([&] { return looks == 3 || comm->PortOpen(); }, 10000);
        QCOMPARE(comm->openings, QStringList());
        QCOMPARE(t.count(), 1);
        QCOMPARE(looks, 3);
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
