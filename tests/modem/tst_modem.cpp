// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "fileservice.h"
#include "hayesmodem.h"
#include "serialportcomm.h"
#include "simulatedcomm.h"

#include <QFileInfo>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

using B = QByteArray;
const B ok = "\r\nOK\r\n", error = "\r\nERROR\r\n", noCarrier = "\r\nNO CARRIER\r\n";

// Pacing off and every delay cut to one turn of the event loop: commands
// answer at once, calls connect and hang up as events run. Echo off.
struct Rig
{
    HayesModem modem;
    B seen; // what the modem said after what heard() last found

    Rig()
    {
        modem.setPacing(false);
        modem.setTimeScale(0.0);
        modem.setDtr(true);
        send("ATE0\r");
    }
    // Sends and returns what the modem answered at once.
    B send(QByteArrayView bytes)
    {
        modem.receive(bytes);
        return modem.takeOutput();
    }
    // Whether the modem says `text`, as events run; what came up to its end is taken.
    bool heard(const B &text)
    {
        const bool found = QTest::qWaitFor([&] { return (seen += modem.takeOutput()).contains(text); }, 2000);
        seen.remove(0, found ? seen.indexOf(text) + text.size() : 0);
        return found;
    }
    // Dials the echo service (the line may set up more) and waits for the call.
    bool call(const B &dial = "ATD123\r") { return send(dial).isEmpty() && heard("CONNECT 9600\r\nWelcome"); }
    // Waits out the silence an escape needs before it.
    bool guard() { return QTest::qWaitFor([&] { return modem.escapeGuardPassed(); }); }
    // Guard time, "+++", guard time: back to commands with the call kept.
    bool escape() { return guard() && (modem.receive("+++"), heard(ok)); }
};

// modemsim with `args`, and the first line it printed: its terminal or its address.
struct Sim : QProcess
{
    QString said;

    explicit Sim(const QStringList &args)
    {
        start(MODEMSIM_PATH, args);
        said = waitForReadyRead(10000) ? QString::fromLocal8Bit(readLine()).trimmed() : QString();
    }
    ~Sim() override
    {
        terminate();
        waitForFinished(5000);
    }
};

// A call to the file service at 700 (guard times as set), and lrzsz at the
// test's end once started, in the test's folder; what reaches lrzsz is seen too.
struct FileCall : Rig
{
    QTemporaryDir dir;
    QProcess lrzsz;

    FileCall()
    {
        lrzsz.setWorkingDirectory(dir.path());
        QObject::connect(&lrzsz, &QProcess::readyReadStandardOutput, [this] { modem.receive(lrzsz.readAllStandardOutput()); });
        QObject::connect(&modem, &HayesModem::outputReady, [this] {
            if (lrzsz.state() != QProcess::NotRunning) {
                const B out = modem.takeOutput();
                seen += out;
                lrzsz.write(out);
            }
        });
        QVERIFY(call("ATD700\r"));
        modem.setTimeScale(1);
    }
    // lrzsz's exit status once it is done.
    int status() { return QTest::qWaitFor([&] { return lrzsz.state() == QProcess::NotRunning; }, 30000) ? lrzsz.exitCode() : -1; }
};

} // namespace

// The simulated modem: its command interpreter and calls, behind the serial
// control (--port sim), and on a pseudo-terminal as modemsim.
class TestModem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data()
    {
        QTest::addColumn<B>("input");
        QTest::addColumn<B>("answer");
        const auto row = [](const char *name, const B &in, const B &out) { QTest::newRow(name) << in << out; };
        // Lower case, spaces, no-ops, noise before AT, a line feed after CR, backspaces,
        // 40 characters after AT (41 with one taken back); each line answers OK.
        const B forty = "X4"_ba.repeated(20);
        row("accepted", "AT\rat\rATE0V1Q0\rATX4L2M1X0L0M0\rAT E0 V1 X4\rxyz\x1b" "AT\r\nAX\bT\rATE5\b0\r"
            "AT\b\b\bAT\rAT" + forty + "\rAT" + forty + "E\b\r", ok.repeated(11));
        // Each refused line answers ERROR; the next one is taken.
        row("refused", "ATJ\rAT&\rATE2\rATE99999999999999\rAT" + forty + "E\rAT" + B(5000, 'E') + "\b\r"
            "ATS0=256\rATS3=128\rATS13?\rATS?\rATS7\rATS7:1\rAT\r", error.repeated(12) + ok);
        // An error drops the rest of its line (Q1 here).
        row("numeric", "ATV0\rAT\rATJQ1\rATI2\r", "0\r0\r4\rROM OK\r\n0\r");
        row("quiet keeps info", "ATQ1\rAT\rATJ\rATI1I2\r", "\r\n241\r\n\r\nROM OK\r\n");
        row("S4 and S3 frame lines", "ATS4=33\rATS3=64\rAT@", "\r!OK\r!@!OK@!@!OK@!");
        row("register writes", "ATS7=30S0=255S12=\rATS7?S0?S12?\r", ok + "\r\n030\r\n\r\n255\r\n\r\n000\r\n" + ok);
        // A/ repeats the last command line, not one refused as too long.
        row("A/ before any line", "A/", ok);
        row("A/", "ATS7?\rA/a/AT" + B(50, 'E') + "\rA/", ("\r\n050\r\n" + ok).repeated(3) + error + "\r\n050\r\n" + ok);
        // Z goes back to the profile &W stored; &F to the factory one, echo on.
        row("&W, Z, &F", "ATS7=30&W\rATS7=40Z\rATS7?\rAT&F\rATS7?\r",
            ok + ok + "\r\n030\r\n" + ok + ok + "ATS7?\r\r\n050\r\n" + ok);
        row("echo", "ATE1\rAT\rxy\rAX\bT\rATE0\r", ok + "AT\r" + ok + "xy\rAX\bT\r" + ok + "ATE0\r" + ok);
        row("ATO and ATH without a call", "ATO\rATH\r", noCarrier + ok);
        row("any key aborts a dial", "ATD777\rx", noCarrier);
        // A dial's result comes when the call is settled, as does that of an
        // answer with nobody calling (the numbers that connect: calls()).
        row("ATDT555", "ATDT555\r", "\r\nBUSY\r\n"), row("ATDP777", "ATDP777\r", "\r\nNO ANSWER\r\n");
        row("ATD000", "ATD000\r", "\r\nNO DIALTONE\r\n");
        for (const char *dial : {"ATD4242", "ATD", "ATS7=1D123", "ATA"})
            row(dial, dial + "\r"_ba, noCarrier);
        // The callback service rings back, and the modem answers at the ring S0 says.
        row("callback answered at S0", "ATS0=2D999\r", "\r\nCONNECT 9600\r\nCallback service: hang on, we will call you back.\r\n"
            + noCarrier + "\r\nRING\r\n\r\nRING\r\n\r\nCONNECT 9600\r\nHello, this is the echo service calling you back. "
            "Every line you send comes back; send BYE to hang up.\r\n");
    }

    void commands()
    {
        QFETCH(B, input);
        QFETCH(B, answer);
        Rig rig;
        rig.modem.receive(input);
        QTRY_COMPARE(rig.seen += rig.modem.takeOutput(), answer);
    }

    // A dial string may hold tone, pulse, pauses, waits and punctuation, and
    // a line feed after its carriage return does not abort it; a call raises
    // CD. Escaped to commands, the call stays until ATH.
    void callStaysUntilHungUp()
    {
        Rig rig;
        QVERIFY(rig.call("atdt1,2-3pw ()\r\n"));
        QVERIFY(rig.escape());
        QCOMPARE(rig.send("ATD123\rATA\rATI2\rATO\r"), error + error + "\r\nROM OK\r\n" + ok + "\r\nCONNECT 9600\r\n");
        // The escape went to the far end as data, as on a real line. No local echo
        // in data mode: only the far end's answer comes back; commands are data now.
        QCOMPARE(rig.send("two\r\nlines\rATH\r"), "+++two\r\nlines\r\nATH\r\n");
        QVERIFY(rig.escape());
        QCOMPARE(rig.send("ATH\r"), noCarrier);
        QCOMPARE(rig.modem.cd(), false);
    }

    // A ring is answered by ATA, and not heard while busy with a call; the
    // echo service hangs up on "bye".
    void ringIsAnsweredByAta()
    {
        Rig rig;
        rig.modem.ring();
        QCOMPARE(rig.send("ATS1?\r"), "\r\nRING\r\n\r\n001\r\n" + ok);
        rig.send("ATA\r");
        QCOMPARE(rig.modem.isRinging(), false);
        QVERIFY(rig.heard("\r\nCONNECT 9600\r\nHello"));
        rig.modem.ring();
        QCOMPARE(rig.modem.takeOutput(), "");
        QCOMPARE(rig.send("bye\r"), "bye\r\nGoodbye.\r\n" + noCarrier);
    }

    // A call leaves data mode by an escape: guard time, the escape character
    // (S2) three times, guard time (S12); anything else goes to the far end as data.
    void escape_data()
    {
        QTest::addColumn<B>("setup");
        QTest::addColumn<B>("data");
        QTest::addColumn<bool>("escaped");
        const auto row = [](const char *setup, const char *data, bool escaped) {
            QTest::addRow("%s %s", setup, data) << B(setup) << B(data) << escaped;
        };
        row("", "+++", true), row("", "x+++", false), row("", "+++y", false);
        row("S2=42", "***", true), row("S2=200", "+++", false), row("S12=0", "x+++", true);
    }

    void escape()
    {
        QFETCH(B, setup);
        QFETCH(B, data);
        QFETCH(bool, escaped);
        Rig rig;
        QVERIFY(rig.call("AT" + setup + "D123\r"));
        QVERIFY(rig.guard());
        rig.modem.receive(data);
        QCOMPARE(rig.heard(ok), escaped);
        QCOMPARE(rig.send("\r"), escaped ? B() : data + "\r\n");
    }

    // CTS follows RTS (off here), &C0 holds CD on. (DSR following DTR:
    // tst_networkterminal, through modemsim.)
    void linesFollowTheOutputs()
    {
        Rig rig;
        rig.send("AT&C0\r");
        QCOMPARE(rig.modem.cd(), true);
        QCOMPARE(rig.modem.cts(), false);
    }

    // Dropping DTR in a call does what &D says (&D2, the default, hangs up:
    // tst_networkterminal); what ATO does next tells where it left the call.
    void droppingDtrInACall_data()
    {
        QTest::addColumn<B>("mode");
        QTest::addColumn<B>("answer");
        QTest::newRow("&D0") << "&D0"_ba << "ATO\r\n"_ba; // still in data mode: the far end echoes it
        QTest::newRow("&D1") << "&D1"_ba << ok + "\r\nCONNECT 9600\r\n";
        // Back to the stored profile too, where S7 is 50 and echo is on.
        QTest::newRow("&D3") << "&D3S7=40"_ba << noCarrier + "ATO\r" + noCarrier;
    }

    void droppingDtrInACall()
    {
        QFETCH(B, mode);
        QFETCH(B, answer);
        Rig rig;
        QVERIFY(rig.call("AT" + mode + "D123\r"));
        rig.modem.setDtr(false);
        QCOMPARE(rig.modem.takeOutput() + rig.send("ATO\r"), answer);
        QCOMPARE(rig.modem.sRegister(7), 50);
    }

    // A paced piece ends at a line feed at the latest, so one starting with a
    // carriage return never hides the text of the next line. What a terminal
    // floods the modem with waits in a modem-sized buffer at most; the rest is
    // dropped.
    void pacing()
    {
        Rig rig;
        const B whole = rig.send("AT&V\r");
        rig.modem.setPacing(true);
        QList<B> pieces;
        connect(&rig.modem, &HayesModem::outputReady, this, [&] { pieces << rig.modem.takeOutput(); });
        rig.modem.receive("AT&V\rATE1\r");
        QTRY_COMPARE_WITH_TIMEOUT(pieces.join(), whole + ok, 10000);
        for (const B &piece : std::as_const(pieces))
            QVERIFY2(!piece.chopped(1).contains('\n'), piece);
        rig.modem.receive(B(8 << 20, 'x'));
        rig.modem.setPacing(false);
        QVERIFY(pieces.last().size() <= 8192);
    }

    // Behind the serial control a closed port holds no line (its guards are
    // the serial control's, checked in tst_serial). DTR moves DSR at once, its event comes later, never from inside
    // a call; answers are announced only with a threshold, and paced.
    // A call reports the line speed and ends when the port closes.
    void simulatedComm()
    {
        SimulatedComm comm;
        QList<int> codes;
        B received;
        connect(&comm, &CommControl::OnComm, this, [&] {
            codes << comm.CommEvent();
            received += comm.CommEvent() == CommControl::comEvReceive ? comm.Input() : B();
        });
        comm.modem()->setTimeScale(0.0);
        QCOMPARE(thrownNumber([&] { comm.setSettings("fast"); }), int(CommError::InvalidPropertyValue));
        comm.setDTREnable(false); // both remembered for the opening
        comm.setRTSEnable(false);
        comm.setPortOpen(true);
        QCOMPARE(comm.DSRHolding(), false);
        QCOMPARE(comm.CTSHolding(), false);
        comm.setDTREnable(true);
        comm.setRTSEnable(true);
        comm.setOutput("AT\r");
        QVERIFY(codes.isEmpty());
        QCOMPARE(comm.modem()->outputAvailable(), 0);
        QTRY_COMPARE(comm.modem()->outputAvailable(), 9); // "AT\r" echoed and OK wait, unannounced
        comm.setRThreshold(1);
        QTRY_COMPARE(received, "AT\r" + ok);
        QCOMPARE(codes, (QList<int>{CommControl::comEvDSR, CommControl::comEvCTS, CommControl::comEvReceive}));
        comm.setSettings("19200,E,7,1"); // applied at once while open
        comm.setOutput("ATD123\r");
        QTRY_VERIFY(received.contains("CONNECT 19200\r\nWelcome"));
        QCOMPARE(comm.CDHolding(), true);
        QVERIFY(codes.contains(CommControl::comEvCD));
        comm.setPortOpen(false);
        comm.setPortOpen(true);
        QCOMPARE(comm.CDHolding(), false);
    }

    // modemsim --rfc2217 serves one client at a time, each finding the modem
    // as after ATZ, also one back the moment it closed. One that sends without
    // end and takes nothing is read no further than a bounded backlog, then closed.
    void modemsimServesEachClientAfresh()
    {
        Sim sim({"--rfc2217", "0", "--no-pacing"});
        const quint16 port = sim.said.section(u':', -1).toUShort();
        const auto ask = [port](const char *command) {
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, port);
            client.write(command);
            B heard;
            return QTest::qWaitFor([&] { return (heard += client.readAll()).contains(ok) || heard.contains("zaj"); }, 10000)
                ? heard
                : B();
        };
        QTcpSocket hog;
        hog.setReadBufferSize(1);
        hog.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(hog.waitForConnected(10000));
        hog.write(B::fromHex("fffa2c00fff0").repeated(4 << 20)); // signature requests, each answered at length
        QVERIFY(ask("AT\r").contains("zaj"));
        QVERIFY(QTest::qWaitFor([&] { return ask("ATS7=33\r").contains(ok); }, 30000));
        QVERIFY(ask("ATS7?\r").contains("\r\n050\r\n" + ok));
    }

    // modemsim refuses a stray argument, a link over what is
    // not one, a link with --rfc2217, an address it cannot listen on.
    void modemsimCommandLine_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::newRow("stray") << u"extra"_qs << 2;
        QTest::newRow("link over a folder") << u"--link /"_qs << 1;
        QTest::newRow("--rfc2217 --link") << u"--rfc2217 0 --link FILE"_qs << 2;
        QTest::newRow("bare IPv6") << u"--rfc2217 ::1:2217"_qs << 2;
    }

    void modemsimCommandLine()
    {
        QFETCH(QString, args);
        QFETCH(int, status);
        Sim sim(args.split(u' ')); // it has ended when nothing came to its output
        QCOMPARE(sim.exitCode(), status);
    }

    // The file service at 700: after DOWNLOAD, a real rz gets both sample files.
    void fileServiceDownload()
    {
        FileCall call;
        call.send("download\r");
        call.lrzsz.start("rz", {"-b", "-q"});
        QCOMPARE(call.status(), 0);
        for (const auto &[name, bytes] : FileService::sampleFiles()) {
            QFile file(call.dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), bytes);
        }
        QVERIFY(call.heard("Both files sent."));
    }

    // After UPLOAD a real sz sends a file; the service tells its name and size.
    void fileServiceUpload()
    {
        FileCall call;
        QFile file(call.dir.filePath("upload.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(B(20000, '\x18') + B(5000, '\0'));
        file.close();
        call.send("UPLOAD\r");
        call.lrzsz.start("sz", {"-b", "-q", "upload.bin"});
        QCOMPARE(call.status(), 0);
        QVERIFY(call.heard("Received upload.bin, 25000 bytes (not kept)."));
    }

    // Hanging up in the middle of a download, paced at 9600, ends the service's sz.
    void fileServiceHangUpEndsLrzsz()
    {
        FileCall call;
        const auto children = [] { // the processes the test runs, the service's lrzsz among them
            QFile list(u"/proc/%1/task/%1/children"_s.arg(QCoreApplication::applicationPid()));
            return list.open(QIODevice::ReadOnly) ? list.readAll() : "?";
        };
        call.modem.setPacing(true);
        call.send("DOWNLOAD\r");
        call.lrzsz.start("rz", {"-b", "-q"});
        QTRY_VERIFY(QFileInfo::exists(call.dir.filePath("sample.txt")));
        call.lrzsz.kill();
        QVERIFY(call.lrzsz.waitForFinished());
        QCOMPARE(children().isEmpty(), false);
        call.modem.setPacing(false);
        QVERIFY(call.escape());
        QCOMPARE(call.send("ATH\r"), noCarrier);
        QTRY_COMPARE(children(), "");
    }

    // Without lrzsz the service says so and hangs up.
    void fileServiceWithoutLrzsz()
    {
        const B path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        FileCall call;
        qputenv("PATH", path);
        QVERIFY(call.heard("not installed here. Goodbye.\r\n" + noCarrier));
    }

    // modemsim through Qt Serial Port on its --link, which replaces a stale
    // one, at the speed the client sets. Any request to end, even while
    // clients send without pause, ends it at once with status 0, link removed.
    void modemsimEndsCleanly_data()
    {
        QTest::addColumn<int>("signal");
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
            QTest::newRow(strsignal(signal)) << signal;
    }

    void modemsimEndsCleanly()
    {
        QFETCH(int, signal);
        QTemporaryDir dir;
        const QString link = dir.filePath("modem");
        QVERIFY(QFile::link("/dev/pts/no-such-terminal", link));
        Sim sim({"--link", link});
        SerialPortComm port(link);
        port.setSettings("115200,N,8,1");
        port.setPortOpen(true);
        port.setOutput("ATS7=33&V\r"); // the active profile listed, not the stored one
        B received;
        QTRY_VERIFY2_WITH_TIMEOUT((received += port.Input()).endsWith(ok), received, 10000);
        QVERIFY(received.contains("LINE: 115200,N,8,1   CARRIER: NONE\r\n"));
        QVERIFY(received.contains("\r\nS07:033 "));
        QProcess clients; // two, without pause; a line once the modem took a megabyte
        clients.start("sh", {"-c", "yes >\"$0\" & head -c 1M /dev/zero >\"$0\"; echo; wait", link});
        QVERIFY(clients.waitForReadyRead(10000));
        ::kill(pid_t(sim.processId()), signal);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(clients.waitForFinished(5000));
        QCOMPARE(QFileInfo(link).isSymLink(), false);
    }
};

QTEST_GUILESS_MAIN(TestModem)
#include "tst_modem.moc"
