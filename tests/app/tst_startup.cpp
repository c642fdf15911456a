#include "commandline.h"
#include "modalwatcher.h"
#include "pseudoterminal.h"
#include "runningterminal.h"

#include <QAction>

// The terminal started as the program starts it, on real back ends: a
// pseudo-terminal through Qt Serial Port, and the built-in simulated modem.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    // Configured from a command line, as main() does.
    struct Terminal : RunningTerminal
    {
        ModalWatcher boxes;

        explicit Terminal(const QStringList &args)
            : RunningTerminal(configured(args))
        {
            start();
        }

        static PortRouter *configured(const QStringList &args)
        {
            auto *router = new PortRouter;
            CommandLine::parse(QStringList{QStringLiteral("modemterm")} + args).configure(*router);
            return router;
        }
    };

private Q_SLOTS:
    void talksToADeviceOnAPseudoTerminal()
    {
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        Terminal t({QStringLiteral("--port"), pty.slavePath()});
        QCOMPARE(t.boxes.count(), 0);
        QCOMPARE(pty.read(3), QByteArray("AT\r"));

        // The modem's usual answer, in pieces the way a slow line delivers it.
        QVERIFY(pty.write("AT\r\r\nOK\r"));
        QTRY_COMPARE(t.text1()->text(), QStringLiteral("AT\n\nOK\n"));
        QVERIFY(pty.write("\nRING\r\n"));
        QTRY_COMPARE(t.text1()->text(), QStringLiteral("AT\n\nOK\nRING\n"));
        QTRY_COMPARE(t.text1()->caretPosition(), t.text1()->textLength());

        t.typeLine(QStringLiteral("ATI"));
        QCOMPARE(pty.read(4), QByteArray("ATI\r"));

        t.window->findChild<QAction *>(QStringLiteral("mnuSetMod"))->trigger();
        QCOMPARE(pty.read(5), QByteArray("AT&V\r"));

        t.window->close();
        QCOMPARE(t.boxes.count(), 0);
        QVERIFY(pty.readAvailable().isEmpty());
    }

    void missingDeviceWarnsAboutPort2()
    {
        Terminal t({QStringLiteral("--port"), QStringLiteral("/dev/modemterm-no-such-device")});
        QCOMPARE(t.boxes.count(), 1);
        QCOMPARE(t.boxes.boxes().first().text.section(u'\n', 0, 0),
                 QStringLiteral("Nie mogę otworzyć portu COM 2"));
    }

    void greetsTheSimulatedModem()
    {
        Terminal t({QStringLiteral("--port"), QStringLiteral("sim")});
        QCOMPARE(t.boxes.count(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().contains(QStringLiteral("OK")), 10000);
        const QString greeting = t.text1()->text();

        t.typeLine(QStringLiteral("ATI"));
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().size() > greeting.size() + 5
                                     && t.text1()->text().endsWith(QStringLiteral("OK\n")),
                                 10000);
        t.window->close();
        QCOMPARE(t.boxes.count(), 0);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
