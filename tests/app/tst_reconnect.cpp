// SPDX-License-Identifier: MIT
#include "modalwatcher.h"
#include "processusage.h"
#include "ptyio.h"
#include "fakecomm.h"
#include "runningterminal.h"

#include <QAbstractButton>
#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

// --reconnect: the port reopened by itself when its device comes back.
class TestReconnect : public QObject
{
    Q_OBJECT

private:
    const QString lost = u"Nieznany błąd nr 8022 "_qs + CommError::describe(CommError::DeviceLost);

    // Points `link` at `target`, as modemsim --link moves its link.
    static void moveLink(const QString &link, const QString &target)
    {
        QFile::remove(link);
        QVERIFY(QFile::link(target, link));
    }

private Q_SLOTS:
    // A device behind a symbolic link that comes and goes, through Qt Serial Port.
    void reopensWhenTheDeviceComesBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(u"modem"_qs);
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, link);
        RunningTerminal t(router);
        t.window->enableReconnect([router](int port) { return router->deviceExists(port); });
        t.start();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.texts.first().section(u'\n', 0, 0), u"Nie mogę otworzyć portu COM 2"_qs);

        // There, but held by another program: tried quietly, without a busy loop.
        PseudoTerminal held;
        QVERIFY(held.open());
        PortRouter other;
        other.bindPort(2, held.path());
        other.setCommPort(2);
        other.setPortOpen(true);
        moveLink(link, held.path());
        const qint64 cpuMs = ProcessUsage::cpuMsWhileEventLoopRuns(2500);
        QVERIFY2(cpuMs < 250, qPrintable(u"%1 ms of CPU in 2500 ms"_qs.arg(cpuMs)));
        QCOMPARE(boxes.count(), 1);

        for (int round = 0; round < 2; ++round) {
            PseudoTerminal pty;
            QVERIFY(pty.open());
            QElapsedTimer back;
            back.start();
            moveLink(link, pty.path());
            QCOMPARE(PtyIo::read(pty, 3, 5000), QByteArray("AT\r"));
            qInfo("device back to \"AT\" sent: %lld ms", back.elapsed());
            QVERIFY(PtyIo::write(pty, "OK " + QByteArray::number(round) + "\r\n"));
            QTRY_VERIFY(t.text1()->text().endsWith(u"OK %1\n"_qs.arg(round)));
            QVERIFY(t.text1()->text().startsWith(u"OK 0\n"_qs)); // the earlier session stays
            // Greeted once: nothing more comes while the reconnector would have
            // polled and settled again.
            QVERIFY(PtyIo::read(pty, 1, 2500).isEmpty());
            QCOMPARE(boxes.count(), 1 + round);

            pty.closeMaster(); // unplugged: told once, as without --reconnect
            QTRY_COMPARE(boxes.count(), 2 + round);
            QCOMPARE(boxes.texts.last().section(u'\n', 0, 0), lost);
        }
        t.window->close();
        QCOMPARE(boxes.count(), 3);
    }

    // A port on the network: refused connections are failures reported
    // later, and quiet too once the first was told.
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
        const qint64 cpuMs = ProcessUsage::cpuMsWhileEventLoopRuns(3500); // two tries refused
        QVERIFY2(cpuMs < 350, qPrintable(u"%1 ms of CPU in 3500 ms"_qs.arg(cpuMs)));
        QCOMPARE(boxes.count(), 1);

        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        for (int round = 0; round < 2; ++round) {
            QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 5000);
            std::unique_ptr<QTcpSocket> client(server.nextPendingConnection());
            QTRY_COMPARE(client->bytesAvailable(), 3);
            QCOMPARE(client->readAll(), QByteArray("AT\r"));
            client->close(); // the server goes away: told, then waited for
            QTRY_COMPARE(boxes.count(), 2 + round);
            QCOMPARE(boxes.texts.last().section(u'\n', 0, 0), lost);
        }
        t.window->close();
    }

    // A port chosen in the dialog ends waiting for the old one; if it cannot
    // be opened either, waiting follows it.
    void choosingAnotherPortStopsWaitingForTheOld()
    {
        ModalWatcher boxes;
        auto *comm = new FakeComm;
        OknoTerma window(comm);
        QSet<int> present;
        QList<int> asked;
        window.enableReconnect([&](int port) {
            asked.append(port);
            return present.contains(port);
        });
        comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        window.Form_Load();
        window.show();
        QCOMPARE(boxes.count(), 1);

        comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        boxes.setDialogHandler([](QWidget *w) {
            w->findChild<QAbstractButton *>(u"SetCOM3"_qs)->click();
            w->findChild<QAbstractButton *>(u"cmdZapisz"_qs)->click();
        });
        window.findChild<QAction *>(u"mnuSetPort"_qs)->trigger();
        QCOMPARE(boxes.count(), 2); // the new port's absence is told too

        asked.clear();
        present = {2};
        QTRY_VERIFY(asked.size() >= 2);
        QCOMPARE(QSet<int>(asked.cbegin(), asked.cend()), QSet<int>{3});
        QVERIFY(comm->openings.isEmpty());
        present = {3};
        QTRY_COMPARE_WITH_TIMEOUT(comm->openings.size(), 1, 5000);
        QVERIFY(comm->openings.first().startsWith(u"COM3 9600,N,8,1"_qs));
        QCOMPARE(comm->writes, QList<QByteArray>{"AT\r"});
        QCOMPARE(boxes.count(), 2);
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
