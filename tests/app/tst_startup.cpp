// SPDX-License-Identifier: MIT
#include "commandline.h"
#include "devicelock.h"
#include "indicator.h"
#include "portlist.h"
#include "ptyio.h"
#include "runningterminal.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSerialPortInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The program as it starts: its command line, and the window on real back
// ends (a pseudo-terminal through Qt Serial Port, the built-in simulated modem).
class TestStartup : public QObject
{
    Q_OBJECT

    // The window as main() builds and starts it, on the command line given.
    struct Terminal : WatchedTerminal
    {
        explicit Terminal(const QString &args, PortRouter *router = new PortRouter) : WatchedTerminal(router)
        {
            const CommandLine cl = CommandLine::parse(("modemterm " + args).split(' '));
            cl.configure(*router);
            cl.configure(*window);
            start();
        }
    };

    // The program itself on a command line the shell reads, in the environment given.
    struct Program : QProcess
    {
        explicit Program(const QString &args, const QProcessEnvironment &environment = QProcessEnvironment::InheritFromParent)
        {
            setProcessEnvironment(environment);
            start("/bin/sh", {"-c", "exec \"$0\" " + args, MODEMTERM_BINARY});
        }
        // Its exit status; -1 when it did not exit within 20 s (hung, or ended by a signal).
        int status() { return waitForFinished(20000) && exitStatus() == NormalExit ? exitCode() : -1; }
    };

    // A symbolic link to `target`, named by bytes that need not be text in
    // the system's encoding, removed when done: Qt cannot remove what it
    // cannot name.
    static auto link(const QByteArray &name, const QString &target)
    {
        ::symlink(QFile::encodeName(target), name);
        return qScopeGuard([name] { ::unlink(name); });
    }

    // The program without a display: exit status and what it printed
    // (standard output when it succeeded, standard error otherwise).
    static std::pair<int, QString> run(const QString &args)
    {
        Program program(args, {}); // no environment at all, so no display either
        const int ended = program.status();
        return {ended, ended ? program.readAllStandardError() : program.readAllStandardOutput()};
    }

private Q_SLOTS:
    // What a command line runs on (the port, then the extras asked for), or
    // how it is refused. The program itself shows help, version and the ports
    // present (one a line) without a display, and a refusal on standard error
    // with status 2.
    void commandLine_data()
    {
        QTest::addColumn<QString>("args");    // split at blanks
        QTest::addColumn<QString>("outcome"); // what it runs on, or what the program prints or names
        for (const auto &[args, outcome] :
             {std::pair("", ""), {"--port=/dev/pts/3", "/dev/pts/3"},
              {"-platform xcb", "nieznana opcja „-platform”"},
              {"--port", "--port"}, {"--port=", "--port"},
              {"--port --help", "„--help”"}, {"--port sim --port COM1", "--port"}, {"COM1", "„COM1”"},
              {"--help", "rfc2217://HOST:PORT"}, {"--version", "modemterm " MODEMTERM_VERSION "\n"}, {"--list-ports", "\n"},
              // Ports served over the network.
              {"--port rfc2217://lab-pi.local:2217", "rfc2217://lab-pi.local:2217"},
              {"--port=socket://[::1]:65535", "socket://[::1]:65535"}, {"--port rfc2217://host", "portu TCP"},
              {"--port socket://host:0", "od 1 do 65535"}, {"--port rfc2217://host:99999", "od 1 do 65535"},
              {"--port rfc2217://:2217", "hosta"}, {"--port rfc2217://::1:2217", "nawiasach"},
              {"--port telnet://host:23", "„telnet://host:23”"},
              // The session log.
              {"--log", "--log"}, {"--log a --log b", "--log"}, {"--log-raw --reconnect", "„--reconnect”"},
              {"--log a --log-raw ./a", "--log-raw"}, {"--timestamps --log-raw b", "--timestamps"},
              {"--log a.log --timestamps --log-raw=b.bin --reconnect", "a.log b.bin timestamps reconnect"},
              // The line at every opening.
              {"--settings=38400,e,7,1 --flow RTSCTS", "38400,E,7,1 flow 2"}, {"--flow rts", "„rts”"},
              {"--settings 115200,N,9,1", "„115200,N,9,1”: Nieprawidłowe ustawienia portu: liczba bitów danych"}})
            QTest::newRow(*args ? args : "none") << args << outcome;
    }

    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(QString, outcome);
        const CommandLine cl = CommandLine::parse(("modemterm " + args).split(' ', Qt::SkipEmptyParts));
        if (cl.action == CommandLine::Action::Run) {
            const QStringList runsOn{cl.port, cl.log, cl.rawLog, cl.timestamps ? "timestamps" : "",
                                     cl.reconnect ? "reconnect" : "", cl.settings,
                                     cl.flowGiven ? u"flow %1"_qs.arg(cl.handshaking) : ""};
            QCOMPARE(runsOn.join(' ').simplified(), outcome);
            return;
        }
        const auto [status, out] = run(args);
        QCOMPARE(status, cl.action == CommandLine::Action::Fail ? 2 : 0);
        QVERIFY(out.contains(outcome));
    }

    // A log that cannot be opened is refused at start.
    void unopenableLogIsRefused()
    {
        const auto [status, complaint] = run("--log /nonexistent/dir/session.log");
        QCOMPARE(status, 2);
        QVERIFY(complaint.startsWith("modemterm: nie mogę otworzyć dziennika „/nonexistent/dir/"));
    }

    // A device named by a link whose name is not text in the system's
    // encoding, with no real path to fall back on, is refused at start.
    void undecodableNameWithoutADeviceIsRefused()
    {
        QCOMPARE(run("--port \"/nonexistent/modem$(printf '\\377')\"").first, 2);
    }

    // Whatever the names hold, each port is one line: a stable name with a
    // tab, a line break and a byte that is not UTF-8, a driver's description
    // with control characters.
    void portListEscapesNames()
    {
        QTemporaryDir dir;
        const QString first = QSerialPortInfo::availablePorts().value(0).systemLocation(); // if any, it gets the name
        const auto unlink = link(QFile::encodeName(dir.path()) + "/usb-odd\tname\nttyS9 \x9f", first);
        auto ports = PortList::present(dir.path());
        ports.append({"/dev/ttyX", {}, {}, "A\x01", "FT232R\tUSB\nUART\u0085 \\", {}});
        const QStringList lines = PortList::format(ports).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.last(), "/dev/ttyX\t-\t-\tA\\x01\tFT232R\\tUSB\\nUART\\u0085 \\\\\twolny");
        if (!first.isEmpty())
            QCOMPARE(lines.filter(first + '\t').value(0).section('\t', 1, 1),
                     dir.path() + "/usb-odd\\tname\\nttyS9 \\x9f");
    }

    // A logout or a kill ends the program as "Wyjdź" does: the port closed,
    // its lock file gone, status 0, also after its log's reader went away.
    // The device is named by a link whose name is not text in the system's
    // encoding, which reaches it all the same.
    void endsCleanlyWhenTerminated_data()
    {
        QTest::addColumn<int>("signal");
        for (const int signal : {SIGTERM, SIGHUP, SIGINT})
            QTest::newRow(strsignal(signal)) << signal;
    }

    void endsCleanlyWhenTerminated()
    {
        QFETCH(int, signal);
        PseudoTerminal pty;
        QVERIFY(pty.open());
        QTemporaryDir dir;
        const auto unlink = link(QFile::encodeName(dir.path()) + "/modem\xff", pty.path());
        const QString fifo = dir.filePath("raw");
        QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
        const int reader = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        Program program("--port " + dir.path() + "/modem$(printf '\\377') --log-raw " + fifo);
        QCOMPARE(PtyIo::read(pty, 3), "AT\r");
        const auto lock = DeviceLock::findLockFile(pty.path());
        QVERIFY(lock);
        // The log's reader goes away: that log ends, within a second, and not the program.
        const auto logging = [&] {
            return std::ranges::any_of(QDir(u"/proc/%1/fd"_qs.arg(program.processId())).entryInfoList(QDir::System),
                                       [&](const QFileInfo &fd) { return fd.symLinkTarget() == fifo; });
        };
        QVERIFY(logging());
        ::close(reader);
        QVERIFY(PtyIo::write(pty, "OK\r\n"));
        QTRY_VERIFY(!logging());
        QCOMPARE(program.state(), QProcess::Running); // never kill(0, ...)
        ::kill(pid_t(program.processId()), signal);
        QCOMPARE(program.status(), 0);
        QCOMPARE(QFile::exists(lock->path), false);
    }

    // The line asked for reaches the device as its driver holds it. A
    // pseudo-terminal takes the speed, the stop bits and the flow control,
    // but keeps 8 data bits without parity: asked for parity, it refuses, and
    // the warning names the settings tried.
    void lineReachesTheDevice()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        {
            Terminal modem("--port " + pty.path() + " --settings 115200,N,8,1 --flow rtscts");
            QCOMPARE(PtyIo::read(pty, 3), "AT\r");
            QCOMPARE(PtyIo::lineAttributes(pty), "115200 cs8 -parenb -cstopb crtscts -ixon -ixoff");
        }
        Terminal console("--port " + pty.path() + " --settings 38400,E,7,1");
        QCOMPARE(console.texts.value(0).section('\n', -1), "Ustawienia: 38400,E,7,1, bez sterowania przepływem");
    }

    // Under RTS/CTS the driver drives RTS: a click on its box says why it
    // does not switch, in one line, and the simulated modem's CTS, which
    // follows RTS, stays on.
    void rtsUnderRtsCtsIsNotSwitched()
    {
        Terminal t("--port sim --flow rtscts");
        QTest::mouseClick(t.window->findChild<Indicator *>("PicRTS"), Qt::LeftButton);
        QCOMPARE(t.texts, QStringList{"Linią RTS steruje sterownik portu (sterowanie przepływem RTS/CTS); nie można jej przełączyć."});
        QCoreApplication::sendPostedEvents(); // the modem's line events, had there been any
        QCOMPARE(t.window->findChild<Indicator *>("PicCTS")->colour(), Indicator::activeColour());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
