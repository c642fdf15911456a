// SPDX-License-Identifier: MIT
#include "commandline.h"
#include "floodtext.h"
#include "modalwatcher.h"
#include "oknoterma.h"
#include "portrouter.h"
#include "processusage.h"
#include "ptyio.h"
#include "terminalview.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTimer>

// The program as it starts: its command line, and the window on real back
// ends (a pseudo-terminal through Qt Serial Port, the built-in simulated modem).
class TestStartup : public QObject
{
    Q_OBJECT

    // The window as main() builds and starts it from a command line.
    struct Terminal
    {
        ModalWatcher boxes;
        std::unique_ptr<OknoTerma> window;
        explicit Terminal(const QString &port)
        {
            auto *router = new PortRouter;
            CommandLine::parse({QStringLiteral("modemterm"), QStringLiteral("--port"), port}).configure(*router);
            window = std::make_unique<OknoTerma>(router);
            window->Form_Load();
            window->show();
        }
        TerminalView *text1() const { return window->findChild<TerminalView *>(QStringLiteral("Text1")); }
        void typeLine(const QString &line) const { QTest::keyClicks(text1(), line + u'\r'); }
    };

private Q_SLOTS:
    // What a command line runs on, or how it is refused, with the exit status.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("outcome"); // the port to run on, or what the refusal names
        QTest::addColumn<int>("exitCode");    // -1: not run
        for (const auto &[args, outcome, exitCode] :
             {std::tuple(QStringList(), "", -1), {QStringList{"--port", "/dev/ttyUSB0"}, "/dev/ttyUSB0", -1},
              {QStringList{"--port=/dev/pts/3"}, "/dev/pts/3", -1}, {QStringList{"--port", "COM5"}, "COM5", -1},
              {QStringList{"--port", "sim"}, "sim", -1}, {QStringList{"--speed"}, "nieznana opcja „--speed”", 2},
              {QStringList{"-x"}, "„-x”", -1}, {QStringList{"-platform", "xcb"}, "„-platform”", -1},
              {QStringList{"--port"}, "--port", 2}, {QStringList{"--port", ""}, "--port", -1},
              {QStringList{"--port", "--help"}, "„--help”", -1}, {QStringList{"--port", "sim", "--port", "COM1"}, "--port", -1},
              {QStringList{"COM1"}, "„COM1”", -1}, {QStringList{"--help"}, "--port NAZWA", 0},
              {QStringList{"--version"}, "modemterm " MODEMTERM_VERSION "\n", 0}})
            QTest::newRow(qPrintable(args.join(u' '))) << args << QString::fromUtf8(outcome) << exitCode;
    }

    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, outcome);
        QFETCH(int, exitCode);
        const CommandLine cl = CommandLine::parse(QStringList{QStringLiteral("modemterm")} + args);
        const bool runs = cl.action == CommandLine::Action::Run;
        QVERIFY2(runs ? cl.port == outcome : cl.message.contains(outcome), qPrintable(runs ? cl.port : cl.message));
        QVERIFY(cl.action != CommandLine::Action::Fail || cl.message.contains(QStringLiteral("modemterm --help")));
        if (exitCode < 0)
            return;
        // The program itself: --help and --version need no display; a refusal goes to stderr.
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(MODEMTERM_BINARY), args);
        QVERIFY(p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit);
        QCOMPARE(p.exitCode(), exitCode);
        const QString out = QString::fromLocal8Bit(exitCode ? p.readAllStandardError() : p.readAllStandardOutput());
        QVERIFY2(args != QStringList{"--version"} ? out.contains(outcome) : out == outcome, qPrintable(out));
    }

    void greetsTheSimulatedModem()
    {
        Terminal t(QStringLiteral("sim"));
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().endsWith(QStringLiteral("OK\n")), 10000);
        t.typeLine(QStringLiteral("ATI"));
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().contains(QStringLiteral("MODEMTERM SIMULATED MODEM")), 10000);
        QVERIFY(t.window->close() && t.boxes.count() == 0);
    }

    // The device goes away in the middle of a flood: one warning naming it,
    // the text that came stays whole and in order, the window runs on idle.
    void farEndVanishingMidFlood()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        Terminal t(pty.path());
        QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));
        const FloodText flood;
        // Well inside the transcript's limits, so all of it stays to be checked.
        for (qint64 line = 0; t.text1()->textLength() < 2'000'000; line += 1000)
            QVERIFY(PtyIo::write(pty, flood.lines(line, 1000)));
        pty.closeMaster(); // lines the kernel still holds go with the device
        QTRY_COMPARE(t.boxes.count(), 1);
        const QString lost = QStringLiteral("Nieznany błąd nr 8022 ") + CommError::describe(CommError::DeviceLost);
        QVERIFY2(t.boxes.texts.first().startsWith(lost + u'\n' + pty.path() + u':'), qPrintable(t.boxes.texts.first()));
        QSignalSpy ticks(t.window->findChild<QTimer *>(QStringLiteral("Timer1")), &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 5000);
        const qint64 cpuMs = ProcessUsage::cpuMsWhileEventLoopRuns(300);
        QVERIFY2(cpuMs < 100, qPrintable(QStringLiteral("%1 ms of CPU in 300 ms").arg(cpuMs)));

        const QString received = t.text1()->text();
        const qsizetype whole = received.lastIndexOf(u'\n') + 1;
        const qint64 lines = whole / (FloodText::LineBytes - 1);
        QVERIFY(whole >= 2'000'000 - FloodText::LineBytes && flood.shownChars(lines) == whole);
        QCOMPARE(flood.tailLength(QStringView(received).first(whole), lines - 1), whole);
        QVERIFY(flood.shown(lines).startsWith(received.sliced(whole)));
        t.typeLine(QStringLiteral("ATI"));
        QVERIFY(t.window->close() && t.text1()->text().startsWith(received)); // the typing shows after it
        QVERIFY(t.boxes.count() == 2 && t.boxes.texts.last().startsWith(u"Nieznany błąd nr 8012 "_qs));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
