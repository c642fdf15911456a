#include "commandline.h"
#include "devicelock.h"
#include "pseudoterminal.h"

#include <QFileInfo>
#include <QProcess>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The command line: what it accepts, what it refuses, and the program's exit
// status and messages for each.
class TestCommandLine : public QObject
{
    Q_OBJECT

private:
    static CommandLine parse(const QStringList &args)
    {
        return CommandLine::parse(QStringList{QStringLiteral("modemterm")} + args);
    }

    struct Run
    {
        int exitCode;
        QString out;
        QString err;
    };

    static Run runProgram(const QStringList &args)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY")); // --help and --version need no display
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(MODEMTERM_BINARY), args);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            return {-1, {}, {}};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

private Q_SLOTS:
    void portNamesAreAccepted_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("port");
        QTest::newRow("none: the usual port") << QStringList() << QString();
        QTest::newRow("path") << QStringList{"--port", "/dev/ttyUSB0"} << QStringLiteral("/dev/ttyUSB0");
        QTest::newRow("equals") << QStringList{"--port=/dev/pts/3"} << QStringLiteral("/dev/pts/3");
        QTest::newRow("COMn") << QStringList{"--port", "COM5"} << QStringLiteral("COM5");
        QTest::newRow("sim") << QStringList{"--port", "sim"} << QStringLiteral("sim");
        QTest::newRow("RFC 2217, name") << QStringList{"--port", "rfc2217://lab-pi.local:2217"}
                                        << QStringLiteral("rfc2217://lab-pi.local:2217");
        QTest::newRow("raw TCP, IPv6") << QStringList{"--port=socket://[::1]:65535"}
                                       << QStringLiteral("socket://[::1]:65535");
    }

    void portNamesAreAccepted()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, port);
        const CommandLine cl = parse(args);
        QCOMPARE(cl.action, CommandLine::Action::Run);
        QCOMPARE(cl.port, port);
        QVERIFY(cl.log.isEmpty() && cl.rawLog.isEmpty() && !cl.timestamps && !cl.reconnect);
    }

    void extrasAreParsed()
    {
        const CommandLine cl = parse({"--log", "a.log", "--timestamps", "--log-raw=b.bin", "--reconnect"});
        QCOMPARE(cl.action, CommandLine::Action::Run);
        QCOMPARE(cl.log, QStringLiteral("a.log"));
        QCOMPARE(cl.rawLog, QStringLiteral("b.bin"));
        QVERIFY(cl.timestamps && cl.reconnect);
    }

    void badArgumentsAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("mentions");
        QTest::newRow("unknown option") << QStringList{"--baud", "9600"} << QStringLiteral("„--baud”");
        QTest::newRow("unknown short option") << QStringList{"-x"} << QStringLiteral("„-x”");
        QTest::newRow("toolkit option") << QStringList{"-platform", "xcb"} << QStringLiteral("„-platform”");
        QTest::newRow("missing name") << QStringList{"--port"} << QStringLiteral("--port");
        QTest::newRow("empty name") << QStringList{"--port", ""} << QStringLiteral("--port");
        QTest::newRow("option as name") << QStringList{"--port", "--help"} << QStringLiteral("„--help”");
        QTest::newRow("twice") << QStringList{"--port", "sim", "--port", "COM1"}
                               << QStringLiteral("--port");
        QTest::newRow("positional") << QStringList{"COM1"} << QStringLiteral("„COM1”");
        QTest::newRow("URL without port") << QStringList{"--port", "rfc2217://host"} << QStringLiteral("portu TCP");
        QTest::newRow("URL, port 0") << QStringList{"--port", "socket://host:0"} << QStringLiteral("od 1 do 65535");
        QTest::newRow("URL, port too big") << QStringList{"--port", "rfc2217://host:65536"}
                                           << QStringLiteral("od 1 do 65535");
        QTest::newRow("URL, no host") << QStringList{"--port", "rfc2217://:2217"} << QStringLiteral("hosta");
        QTest::newRow("URL, bare IPv6") << QStringList{"--port", "rfc2217://::1:2217"} << QStringLiteral("nawiasach");
        QTest::newRow("URL, other scheme") << QStringList{"--port", "telnet://host:23"}
                                           << QStringLiteral("„telnet://host:23”");
        QTest::newRow("log without a file") << QStringList{"--log"} << QStringLiteral("--log");
        QTest::newRow("log twice") << QStringList{"--log", "a", "--log", "b"} << QStringLiteral("--log");
        QTest::newRow("option as file") << QStringList{"--log-raw", "--reconnect"} << QStringLiteral("„--reconnect”");
        QTest::newRow("one file for both logs") << QStringList{"--log", "a", "--log-raw", "./a"}
                                                << QStringLiteral("--log-raw");
        QTest::newRow("timestamps without a text log") << QStringList{"--timestamps", "--log-raw", "b"}
                                                       << QStringLiteral("--timestamps");
    }

    void badArgumentsAreRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, mentions);
        const CommandLine cl = parse(args);
        QCOMPARE(cl.action, CommandLine::Action::Fail);
        QVERIFY2(cl.message.contains(mentions), qPrintable(cl.message));
        QVERIFY(cl.message.contains(QStringLiteral("modemterm --help")));
    }

    void programExitStatusAndMessages()
    {
        const Run help = runProgram({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("--port")));
        QVERIFY(help.out.contains(QStringLiteral("sim")));

        const Run version = runProgram({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QStringLiteral("modemterm " MODEMTERM_VERSION "\n"));

        const Run bad = runProgram({QStringLiteral("--speed")});
        QCOMPARE(bad.exitCode, 2);
        QVERIFY(bad.out.isEmpty());
        QVERIFY2(bad.err.contains(QStringLiteral("nieznana opcja „--speed”")), qPrintable(bad.err));

        const Run missing = runProgram({QStringLiteral("--port")});
        QCOMPARE(missing.exitCode, 2);

        const Run badUrl = runProgram({QStringLiteral("--port"), QStringLiteral("rfc2217://host:99999")});
        QCOMPARE(badUrl.exitCode, 2);
        QVERIFY2(badUrl.err.contains(QStringLiteral("od 1 do 65535")), qPrintable(badUrl.err));
        QVERIFY(help.out.contains(QStringLiteral("rfc2217://HOST:PORT")));

        const Run badLog = runProgram({QStringLiteral("--log"), QStringLiteral("/nonexistent/dir/session.log")});
        QCOMPARE(badLog.exitCode, 2);
        QVERIFY2(badLog.err.startsWith(QStringLiteral("modemterm: nie mogę otworzyć dziennika „/nonexistent/dir/")),
                 qPrintable(badLog.err));
    }

    // Parsed against what Qt finds on this machine.
    void listsThePortsPresent()
    {
        const Run run = runProgram({QStringLiteral("--list-ports")});
        QCOMPARE(run.exitCode, 0);
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        if (ports.isEmpty())
            QCOMPARE(run.out, QStringLiteral("Nie znaleziono żadnego portu szeregowego.\n"));
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), qMax(ports.size(), 1));
        for (const QSerialPortInfo &port : ports) {
            const QStringList fields = lines.filter(port.systemLocation() + u'\t').value(0).split(u'\t');
            QCOMPARE(fields.size(), 6);
            QVERIFY(fields[1] == u'-' || QFileInfo(fields[1]).canonicalFilePath() == QFileInfo(fields[0]).canonicalFilePath());
            QCOMPARE(fields[2], port.hasVendorIdentifier() ? QStringLiteral("%1:%2")
                                                                  .arg(port.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                                                                  .arg(port.productIdentifier(), 4, 16, QLatin1Char('0'))
                                                            : QStringLiteral("-"));
            QVERIFY(fields[5] == QStringLiteral("wolny") || fields[5].startsWith(QStringLiteral("zajęty: proces ")));
        }
    }

    // A logout or a kill ends the program as "Wyjdź" does: the port closed,
    // its lock file gone, status 0. The device is named by a link whose name
    // is not text in the system's encoding, which reaches it all the same.
    void endsCleanlyWhenTerminated_data()
    {
        QTest::addColumn<int>("signal");
        for (const int signal : {SIGTERM, SIGHUP, SIGINT})
            QTest::addRow("%s", strsignal(signal)) << signal;
    }

    void endsCleanlyWhenTerminated()
    {
        QFETCH(int, signal);
        PseudoTerminal pty;
        QTemporaryDir dir;
        const QByteArray link = QFile::encodeName(dir.path()) + "/modem\xff";
        QCOMPARE(::symlink(QFile::encodeName(pty.slavePath()).constData(), link.constData()), 0);
        const auto start = [&](QProcess &program, const QString &name) {
            program.start(QStringLiteral("sh"), {QStringLiteral("-c"),
                                                 QStringLiteral("exec \"$0\" --port \"$1$(printf '\\377')\""),
                                                 QStringLiteral(MODEMTERM_BINARY), dir.filePath(name)});
        };
        QProcess unreadable; // no real path to fall back on: refused at start
        start(unreadable, u"nothing"_qs);
        QVERIFY(unreadable.waitForFinished(20000));
        QCOMPARE(unreadable.exitCode(), 2);

        QProcess program;
        start(program, u"modem"_qs);
        QCOMPARE(pty.read(3, 20000), QByteArray("AT\r"));
        const auto lock = DeviceLock::findLockFile(pty.slavePath());
        QVERIFY(lock && lock->pid == program.processId());
        ::kill(pid_t(program.processId()), signal);
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QFile::exists(lock->path));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
