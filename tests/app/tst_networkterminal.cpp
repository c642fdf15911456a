// SPDX-License-Identifier: MIT
#include "indicator.h"
#include "modalwatcher.h"
#include "runningterminal.h"

#include <QProcess>
#include <QTest>

// The whole window on a port served over the network: modemsim serving its
// modem, with real lines, over RFC 2217.
class TestNetworkTerminal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modemsimLinesShowAndDtrHangsUp()
    {
        QProcess sim;
        sim.start(MODEMSIM_PATH, {"--rfc2217", "0"});
        QVERIFY(sim.waitForReadyRead(10000));
        ModalWatcher boxes;
        auto *router = new PortRouter;
        router->bindPort(2, sim.readLine().trimmed());
        RunningTerminal t(router);
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
        QCOMPARE(boxes.count(), 0);
        sim.terminate();
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(sim.exitCode(), 0); // and, in a sanitizer build, nothing leaked
    }
};

QTEST_MAIN(TestNetworkTerminal)
#include "tst_networkterminal.moc"
