// SPDX-License-Identifier: MIT
#include "commandline.h"
#include "devicelock.h"
#include "floodtext.h"
#include "modalwatcher.h"
#include "oknoterma.h"
#include "portrouter.h"
#include "processusage.h"
#include "ptyio.h"
#include "runningterminal.h"

#include <QFileInfo>
#include <QProcess>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <unistd.h>

// The program as it starts: its command line, and the window on real back
// ends (a pseudo-terminal through Qt Serial Port, the built-in simulated modem).
class TestStartup : public QObject
{
    Q_OBJECT

    // The window as main() builds and starts it from a command line.
    struct Terminal : RunningTerminal
    {
        ModalWatcher boxes;
        explicit Terminal(const QString &port) : RunningTerminal(configured(port)) { start(); }
        static PortRouter *configured(const QString &port)
        {
            auto *router = new PortRouter;
            CommandLine::parse({QStringLiteral("modemterm"), QStringLiteral("--port"), port}).configure(*router);
            return router;
        }
    };

    // The program itself, without a display: exit status and what it printed
    // (standard output when it succeeded, standard error otherwise).
    static std::pair<int, QString> run(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_DISPLAY"})
            env.remove(QString::fromLatin1(name));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(MODEMTERM_BINARY), args);
        if (!p.waitForFinished(20000) || p.exitStatus() != QProcess::NormalExit)
            return {-1, {}};
        return {p.exitCode(), QString::fromLocal8Bit(p.exitCode() ? p.readAllStandardError() : p.readAllStandardOutput())};
    }

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
              {QStringList{"COM1"}, "„COM1”", -1}, {QStringList{"--help"}, "rfc2217://HOST:PORT", 0},
              {QStringList{"--version"}, "modemterm " MODEMTERM_VERSION "\n", 0},
              // Ports served over the network.
              {QStringList{"--port", "rfc2217://lab-pi.local:2217"}, "rfc2217://lab-pi.local:2217", -1},
              {QStringList{"--port=socket://[::1]:65535"}, "socket://[::1]:65535", -1},
              {QStringList{"--port", "rfc2217://host"}, "portu TCP", -1},
              {QStringList{"--port", "socket://host:0"}, "od 1 do 65535", -1},
              {QStringList{"--port", "rfc2217://host:99999"}, "od 1 do 65535", 2},
              {QStringList{"--port", "rfc2217://:2217"}, "hosta", -1},
              {QStringList{"--port", "rfc2217://::1:2217"}, "nawiasach", -1},
              {QStringList{"--port", "telnet://host:23"}, "„telnet://host:23”", -1},
              // The session log.
              {QStringList{"--log"}, "--log", -1}, {QStringList{"--log", "a", "--log", "b"}, "--log", -1},
              {QStringList{"--log-raw", "--reconnect"}, "„--reconnect”", -1},
              {QStringList{"--log", "a", "--log-raw", "./a"}, "--log-raw", -1},
              {QStringList{"--timestamps", "--log-raw", "b"}, "--timestamps", -1}})
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
        QVERIFY(!runs || (cl.log.isEmpty() && cl.rawLog.isEmpty() && !cl.timestamps && !cl.reconnect));
        if (exitCode < 0)
            return;
        // The program itself: --help and --version need no display; a refusal goes to stderr.
        const auto [status, out] = run(args);
        QCOMPARE(status, exitCode);
        QVERIFY2(args != QStringList{"--version"} ? out.contains(outcome) : out == outcome, qPrintable(out));
    }

    // The opt-in extras: read from the command line, a log that cannot be
    // opened refused at start, and the ports present listed (parsed against
    // what Qt finds here), one a line.
    void extras()
    {
        const CommandLine cl = CommandLine::parse({"modemterm", "--log", "a.log", "--timestamps", "--log-raw=b.bin", "--reconnect"});
        QVERIFY(cl.action == CommandLine::Action::Run && cl.log == u"a.log"_qs && cl.rawLog == u"b.bin"_qs);
        QVERIFY(cl.timestamps && cl.reconnect);
        const auto [badLog, complaint] = run({QStringLiteral("--log"), QStringLiteral("/nonexistent/dir/session.log")});
        QVERIFY2(badLog == 2 && complaint.startsWith(u"modemterm: nie mogę otworzyć dziennika „/nonexistent/dir/"_qs),
                 qPrintable(complaint));

        const auto [listed, out] = run({QStringLiteral("--list-ports")});
        QCOMPARE(listed, 0);
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(!ports.isEmpty() || out == u"Nie znaleziono żadnego portu szeregowego.\n"_qs, qPrintable(out));
        QCOMPARE(lines.size(), qMax(ports.size(), 1));
        for (const QSerialPortInfo &port : ports) {
            const QStringList fields = lines.filter(port.systemLocation() + u'\t').value(0).split(u'\t');
            QCOMPARE(fields.size(), 6);
            QVERIFY(fields[1] == u'-' || QFileInfo(fields[1]).canonicalFilePath() == QFileInfo(fields[0]).canonicalFilePath());
            QCOMPARE(fields[2], !port.hasVendorIdentifier() ? u"-"_qs
                                    : u"%1:%2"_qs.arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0')).arg(port.productIdentifier(), 4, 16, QLatin1Char('0')));
            QVERIFY(fields[5] == u"wolny"_qs || fields[5].startsWith(u"zajęty: proces "_qs));
        }
    }

    // A logout or a kill ends the program as "Wyjdź" does: the port closed,
    // its lock file gone, status 0. The device is named by a link whose name
    // is not text in the system's encoding, which reaches it all the same.
    void endsCleanlyWhenTerminated()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        QTemporaryDir dir;
        const QByteArray link = QFile::encodeName(dir.path()) + "/modem\xff";
        QCOMPARE(::symlink(QFile::encodeName(pty.path()).constData(), link.constData()), 0);
        const auto start = [&](QProcess &program, const QString &name) {
            program.start(u"sh"_qs, {u"-c"_qs, u"exec \"$0\" --port \"$1$(printf '\\377')\""_qs,
                                     QStringLiteral(MODEMTERM_BINARY), dir.filePath(name)});
        };
        QProcess unreadable; // no real path to fall back on: refused at start
        start(unreadable, u"nothing"_qs);
        QVERIFY(unreadable.waitForFinished(20000) && unreadable.exitCode() == 2);
        for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
            QProcess program;
            start(program, u"modem"_qs);
            QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));
            const auto lock = DeviceLock::findLockFile(pty.path());
            QVERIFY(lock && lock->pid == program.processId());
            ::kill(pid_t(program.processId()), signal);
            QVERIFY2(program.waitForFinished(20000) && program.exitStatus() == QProcess::NormalExit, strsignal(signal));
            QVERIFY(program.exitCode() == 0 && !QFile::exists(lock->path));
        }
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
