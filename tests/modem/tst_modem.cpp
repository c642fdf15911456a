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
const B ok = "\r\nOK\r\n", error = "\r\nERROR\r\n", noCarrier = "\r\nNO CARRIER\r\n",
        welcome = "\r\nCONNECT 9600\r\nWelcome to the echo service. Every line you send comes back; send BYE to hang up.\r\n";

// Pacing off and every delay cut to one turn of the event loop: commands
// answer at once, calls connect and hang up as events run. Echo off.
struct Rig
{
    HayesModem modem;
    B seen; // what the modem said, as heard() and commands take it

    Rig()
    {
        modem.setPacing(false);
        modem.setTimeScale(0);
        modem.setDtr(true);
        send("ATE0\r");
    }
    // Sends and returns what the modem answered at once.
    B send(QByteArrayView bytes)
    {
        modem.receive(bytes);
        return modem.takeOutput();
    }
    // Whether the modem says (or said) `text`, as events run.
    bool heard(const B &text)
    {
        return QTest::qWaitFor([&] { return (seen += modem.takeOutput()).contains(text); }, 2000);
    }
};

// modemsim with `args`, and the first line it printed: its terminal or its address.
struct Sim : QProcess
{
    QString said;

    explicit Sim(const QStringList &args)
    {
        start(MODEMSIM_PATH, args);
        waitForReadyRead(10000);
        said = readLine().trimmed();
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
        modem.receive("ATD700\r");
        QVERIFY(heard("CONNECT 9600\r\nWelcome"));
        modem.setTimeScale(1);
    }
    // Runs lrzsz to its end; its exit status, -1 if it did not end.
    int run(const QString &command)
    {
        lrzsz.startCommand(command);
        return QTest::qWaitFor([&] { return lrzsz.state() == QProcess::NotRunning; }, 30000) ? lrzsz.exitCode() : -1;
    }
};

} // namespace

// The simulated modem: its command interpreter and calls, behind the serial
// control (--port sim), and on a pseudo-terminal as modemsim.
class TestModem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What the modem answers to what the terminal types; a "~" in the input is
    // a pause until the modem is settled (see commands()), and a piece that
    // starts with "!" is typed with DTR dropped.
    void commands_data()
    {
        QTest::addColumn<B>("input");
        QTest::addColumn<B>("answer");
        const auto row = [](const char *name, const B &in, const B &out) { QTest::newRow(name) << in << out; };
        // Lower case, ATH without a call, spaces, no-ops, noise before AT, a line feed
        // after CR, backspaces, 40 characters after AT (41 with one taken back);
        // each line answers OK.
        const B forty = "X4"_ba.repeated(20);
        row("accepted", "AT\rat\rATH\rATE0V1Q0\rATX4L2M1X0L0M0\rAT E0 V1 X4\rxyz\x1b" "AT\r\nAX\bT\rATE5\b0\r"
            "AT\b\b\bAT\rAT" + forty + "\rAT" + forty + "E\b\r", ok.repeated(12));
        // Each refused line answers ERROR; the next one is taken.
        row("refused", "ATJ\rAT&\rATE2\rATE99999999999999\rAT" + forty + "E\rAT" + B(5000, 'E') + "\b\r"
            "ATS0=256\rATS3=128\rATS13?\rATS?\rATS7\rATS7:1\rAT\r", error.repeated(12) + ok);
        // An error drops the rest of its line (Q1 here).
        row("numeric", "ATV0\rAT\rATJQ1\rATI2\r", "0\r0\r4\rROM OK\r\n0\r");
        row("quiet keeps info", "ATQ1\rAT\rATJ\rATI1I2\r", "\r\n241\r\n\r\nROM OK\r\n");
        row("S4 and S3 frame lines", "ATS4=33\rATS3=64\rAT@", "\r!OK\r!@!OK@!@!OK@!");
        row("register writes", "ATS7=30S0=255S12=\rATS7?S0?S12?\r", ok + "\r\n030\r\n\r\n255\r\n\r\n000\r\n" + ok);
        // A/ repeats the last command line (at first the rig's ATE0), not one refused as too long.
        row("A/", "A/ATS7?\rA/a/AT" + B(50, 'E') + "\rA/", ok + ("\r\n050\r\n" + ok).repeated(3) + error + "\r\n050\r\n" + ok);
        // Z goes back to the profile &W stored; &F to the factory one, echo on.
        row("&W, Z, &F", "ATS7=30&W\rATS7=40Z\rATS7?\rAT&F\rATS7?\r",
            ok + ok + "\r\n030\r\n" + ok + ok + "ATS7?\r\r\n050\r\n" + ok);
        row("echo", "ATE1\rAT\rxy\rAX\bT\rATE0\r", ok + "AT\r" + ok + "xy\rAX\bT\r" + ok + "ATE0\r" + ok);
        row("any key aborts a dial", "ATD777\rx", noCarrier);
        // A dial's result comes when the call is settled, as does that of an
        // answer with nobody calling (the number that connects: below).
        row("dial results", "ATDT555\r~ATDP777\r~ATD000\r~ATD4242\r~ATD\r~ATS7=1D123\r~ATA\r",
            "\r\nBUSY\r\n\r\nNO ANSWER\r\n\r\nNO DIALTONE\r\n" + noCarrier.repeated(4));
        // A call leaves data mode by an escape: guard time, the escape character
        // (S2) three times, guard time (S12); anything else goes to the far end
        // as data, and a line of it comes back. (The plain "+++": the call row below.)
        row("x+++", "ATD123\r~x+++~\r", welcome + "x+++\r\n"), row("+++y", "ATD123\r~+++y~\r", welcome + "+++y\r\n");
        row("S2=42 ***", "ATS2=42D123\r~***~\r", welcome + ok), row("S12=0 x+++", "ATS12=0D123\r~x+++~\r", welcome + ok);
        // A dial string may hold tone, pulse, pauses, waits and punctuation, and
        // a line feed after its carriage return does not abort it. Escaped to
        // commands, the call stays until ATH ends it. The escape went to the far
        // end as data, as on a real line; in data mode only the far end's answer
        // comes back, commands are data.
        row("call stays until ATH", "atdt1,2-3pw ()\r\n~+++~ATD123\rATA\rATI2\rATO\r~two\r\nlines\rATH\r~+++~ATH\rATO\r",
            welcome + ok + error + error + "\r\nROM OK\r\n" + ok + "\r\nCONNECT 9600\r\n+++two\r\nlines\r\nATH\r\n" + ok + noCarrier + noCarrier);
        // The callback service rings back, and the modem answers at the ring S0 says.
        row("callback answered at S0", "ATS0=2D999\r", "\r\nCONNECT 9600\r\nCallback service: hang on, we will call you back.\r\n"
            + noCarrier + "\r\nRING\r\n\r\nRING\r\n\r\nCONNECT 9600\r\nHello, this is the echo service calling you back. "
            "Every line you send comes back; send BYE to hang up.\r\n");
        // Dropping DTR in a call does what &D says (&D2, the default, hangs up:
        // tst_networkterminal); what ATO does next tells where it left the call.
        // &D0: still in data mode, the far end echoes it; &D3: back to the
        // stored profile too, where echo is on.
        row("&D0", "AT&D0D123\r~!ATO\r", welcome + "!ATO\r\n");
        row("&D1", "AT&D1D123\r~!ATO\r", welcome + ok + "\r\nCONNECT 9600\r\n");
        row("&D3", "AT&D3D123\r~!ATO\r", welcome + noCarrier + "!ATO\r" + noCarrier);
    }

    void commands()
    {
        QFETCH(B, input);
        QFETCH(B, answer);
        Rig rig;
        for (const B &piece : input.split('~')) {
            // Each piece once a dial or an answer is settled and, in a call, the
            // guard time has passed since the last byte (the silence an escape needs).
            QVERIFY(QTest::qWaitFor([&] { return rig.modem.carrier() ? rig.modem.escapeGuardPassed() : rig.modem.state() == HayesModem::State::Command; }));
            rig.modem.setDtr(!piece.startsWith('!'));
            rig.modem.receive(piece);
        }
        QTRY_COMPARE(rig.seen += rig.modem.takeOutput(), answer);
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
        QCOMPARE(rig.send("bye\r"), "bye\r\nGoodbye.\r\n" + noCarrier);
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
        connect(&rig.modem, &HayesModem::outputReady, [&] { pieces << rig.modem.takeOutput(); });
        rig.modem.receive("AT&V\rATE1\r");
        QTRY_COMPARE_WITH_TIMEOUT(pieces.join(), whole + ok, 10000);
        for (const B &piece : pieces)
            QVERIFY(!piece.chopped(1).contains('\n'));
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
        HayesModem &modem = *comm.modem();
        QList<int> codes;
        connect(&comm, &CommControl::OnComm, [&] { codes << comm.CommEvent(); });
        modem.setTimeScale(0);
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
        QCOMPARE(modem.outputAvailable(), 0);
        QTRY_COMPARE(modem.outputAvailable(), 9); // "AT\r" echoed and OK wait, unannounced
        comm.setRThreshold(1);
        QTRY_COMPARE(codes, (QList<int>{CommControl::comEvDSR, CommControl::comEvCTS, CommControl::comEvReceive}));
        QCOMPARE(comm.Input(), "AT\r" + ok);
        comm.setSettings("19200,E,7,1"); // applied at once while open
        comm.setOutput("ATD123\r");
        B received;
        QTRY_VERIFY((received += comm.Input()).contains("CONNECT 19200\r\nWelcome"));
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
            (void)QTest::qWaitFor([&] { return (heard += client.readAll()).contains(ok) || heard.contains("zaj"); }, 10000);
            return heard;
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
        QTest::addColumn<int>("status");
        QTest::newRow("extra") << 2;
        QTest::newRow("--link /") << 1;
        QTest::newRow("--rfc2217 0 --link FILE") << 2;
        QTest::newRow("--rfc2217 ::1:2217") << 2;
    }

    void modemsimCommandLine()
    {
        QFETCH(int, status);
        Sim sim(QString(QTest::currentDataTag()).split(u' ')); // it has ended when nothing came to its output
        QCOMPARE(sim.exitCode(), status);
    }

    // The file service at 700: after DOWNLOAD, a real rz gets both sample files.
    void fileServiceDownload()
    {
        FileCall call;
        call.send("download\r");
        QCOMPARE(call.run("rz -b -q"), 0);
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
        QCOMPARE(call.run("sz -b -q upload.bin"), 0);
        QVERIFY(call.heard("Received upload.bin, 25000 bytes (not kept)."));
    }

    // Hanging up (DTR dropped, &D2) in the middle of a download, paced at 9600,
    // ends the service's sz.
    void fileServiceHangUpEndsLrzsz()
    {
        FileCall call;
        const auto children = [] { // the processes the test runs, the service's lrzsz among them
            QFile list(u"/proc/%1/task/%1/children"_s.arg(QCoreApplication::applicationPid()));
            return list.open(QIODevice::ReadOnly) ? list.readAll() : "?";
        };
        call.modem.setPacing(true);
        call.send("DOWNLOAD\r");
        call.lrzsz.startCommand("rz -b -q");
        QTRY_VERIFY(QFileInfo::exists(call.dir.filePath("sample.txt")));
        call.lrzsz.kill();
        QVERIFY(call.lrzsz.waitForFinished());
        QCOMPARE(children().isEmpty(), false);
        call.modem.setDtr(false);
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
        QTRY_VERIFY_WITH_TIMEOUT((received += port.Input()).endsWith(ok), 10000);
        QVERIFY(received.contains("LINE: 115200,N,8,1   CARRIER: NONE\r\n"));
        QVERIFY(received.contains("\r\nS07:033 "));
        QProcess clients; // two, without pause; a line once the modem took a megabyte
        clients.start("sh", {"-c", "yes >\"$0\" & head -c 1M /dev/zero >\"$0\"; echo; wait", link});
        QVERIFY(clients.waitForReadyRead(10000));
        ::kill(sim.processId(), signal);
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitCode(), 0);
        QVERIFY(clients.waitForFinished(5000));
        QCOMPARE(QFileInfo(link).isSymLink(), false);
    }
};

QTEST_GUILESS_MAIN(TestModem)
#include "tst_modem.moc"
