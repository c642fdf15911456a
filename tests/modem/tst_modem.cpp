// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "hayesmodem.h"
#include "serialportcomm.h"
#include "simulatedcomm.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace {

using B = QByteArray;
using State = HayesModem::State;
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
        modem.setRts(true);
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
        if (!QTest::qWaitFor([&] { return (seen += modem.takeOutput()).contains(text); }, 2000))
            return false;
        seen.remove(0, seen.indexOf(text) + text.size());
        return true;
    }
    // Dials the echo service and waits for the call.
    bool call() { return send("ATD123\r").isEmpty() && heard("CONNECT 9600\r\n") && heard("Welcome"); }
    // Guard time, "+++", guard time: back to commands with the call kept.
    bool escape()
    {
        return QTest::qWaitFor([&] { return modem.escapeGuardPassed(); }) && send("+++").isEmpty() && heard(ok);
    }
};

// Records the code of every OnComm and gathers what Input() hands out.
struct Listener
{
    QList<int> codes;
    QByteArray received;

    explicit Listener(CommControl &comm)
    {
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this, &comm] {
            codes << comm.CommEvent();
            received += comm.CommEvent() == CommControl::comEvReceive ? comm.Input() : QByteArray();
        });
    }
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
        QTest::addColumn<B>("setup");
        QTest::addColumn<B>("input");
        QTest::addColumn<B>("answer");
        const auto row = [](const char *name, const B &setup, const B &input, const B &answer) {
            QTest::newRow(name) << setup << input << answer;
        };
        const B forty = B("X4").repeated(20);
        row("plain", "", "AT\r", ok), row("lower case", "", "at\r", ok), row("several", "", "ATE0V1Q0\r", ok);
        row("no-ops", "", "ATX4L2M1X0L0M0\r", ok), row("spaces ignored", "", "AT E0 V1 X4\r", ok);
        row("noise before AT", "", "xyz\x1b" "AT\r", ok), row("line feed after CR", "", "AT\r\n", ok);
        row("bare CR is silent", "", "\r", ""), row("not a command is silent", "", "hello\r", "");
        row("unknown letter", "", "ATJ\r", error), row("bare ampersand", "", "AT&\r", error);
        row("value out of range", "", "ATE2\r", error), row("huge number", "", "ATE99999999999999\r", error);
        row("backspace edits AT", "", "AX\bT\r", ok), row("backspace edits a command", "", "ATE5\b0\r", ok);
        row("backspace past AT", "", "AT\b\b\bAT\r", ok), row("40 characters", "", "AT" + forty + "\r", ok);
        row("41 characters", "", "AT" + forty + "E\r", error), row("41 then backspace", "", "AT" + forty + "E\b\r", ok);
        row("far too long", "", "AT" + B(5000, 'E') + "\b\r", error);
        row("numeric ok", "ATV0\r", "AT\r", "0\r"), row("numeric error", "ATV0\r", "ATJ\r", "4\r");
        row("error stops the line", "", "ATV0JQ1\rAT\r", "4\r0\r");
        row("quiet", "ATQ1\r", "AT\r", ""), row("quiet error", "ATQ1\r", "ATJ\r", "");
        row("verbose info", "", "ATI2\r", "\r\nROM OK\r\n" + ok), row("numeric info", "ATV0\r", "ATI2\r", "ROM OK\r\n0\r");
        row("quiet keeps info", "ATQ1\r", "ATI2\r", "\r\nROM OK\r\n");
        row("S4 frames", "ATS4=33\r", "AT\r", "\r!OK\r!"), row("S3 ends lines", "ATS3=64\r", "AT@", "@\nOK@\n");
        row("register defaults", "", "ATS0?S2?S5?s7?S12?\r",
            "\r\n000\r\n\r\n043\r\n\r\n008\r\n\r\n050\r\n\r\n050\r\n" + ok);
        row("register writes", "ATS7=30S0=255S12=\r", "ATS7?S0?S12?\r", "\r\n030\r\n\r\n255\r\n\r\n000\r\n" + ok);
        for (const char *bad : {"S0=256", "S3=128", "S13?", "S?", "S7", "S7:1"})
            row(bad, "", "AT" + B(bad) + "\r", error);
        // A/ repeats the last command line, not one refused as too long.
        row("A/ before any line", "", "A/", ok), row("A/", "ATS7?\r", "A/", "\r\n050\r\n" + ok);
        row("a/", "ATS7?\r", "a/", "\r\n050\r\n" + ok);
        row("A/ after a long line", "ATS7?\rAT" + B(50, 'E') + "\r", "A/", "\r\n050\r\n" + ok);
        // Z goes back to the stored profile, the factory one (echo on) until &W; &F to the factory one.
        row("Z", "ATS7=30V0\rATZ\r", "ATS7?\r", "ATS7?\r\r\n050\r\n" + ok);
        row("&W then Z", "ATS7=30&W\rATS7=40Z\r", "ATS7?\r", "\r\n030\r\n" + ok);
        row("&F", "ATS7=30&W\rAT&F\r", "ATS7?\r", "ATS7?\r\r\n050\r\n" + ok);
        row("echo", "ATE1\r", "AT\r", "AT\r" + ok), row("echo of anything", "ATE1\r", "xy\r", "xy\r");
        row("echo of backspace", "ATE1\r", "AX\bT\r", "AX\bT\r" + ok), row("echo off", "ATE1\r", "ATE0\r", "ATE0\r" + ok);
        // Calls: dialling with nobody there, hanging up with nothing to hang up.
        row("ATO without a call", "", "ATO\r", noCarrier), row("ATH without a call", "", "ATH\r", ok);
    }

    void commands()
    {
        QFETCH(B, setup);
        QFETCH(B, input);
        QFETCH(B, answer);
        Rig rig;
        rig.send(setup);
        QCOMPARE(rig.send(input), answer);
        if (setup.isEmpty()) // ready for the next line whatever came before
            QCOMPARE(rig.send("ATV1E0\r"), ok);
    }

    void dial_data()
    {
        QTest::addColumn<B>("command");
        QTest::addColumn<B>("result");
        for (const auto &[command, result] :
             {std::pair("ATD123\r", "CONNECT 9600"), {"ATDT1,2-3\r", "CONNECT 9600"}, {"atdpw (123)\r", "CONNECT 9600"},
              {"ATDT555\r", "BUSY"}, {"ATDP777\r", "NO ANSWER"}, {"ATD000\r", "NO DIALTONE"},
              {"ATD4242\r", "NO CARRIER"}, {"ATD\r", "NO CARRIER"}, {"ATS7=1D123\r", "NO CARRIER"}})
            QTest::newRow(command) << B(command) << B(result);
    }

    void dial()
    {
        QFETCH(B, command);
        QFETCH(B, result);
        Rig rig;
        QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);
        QCOMPARE(rig.send(command), B()); // the result waits for the call
        QCOMPARE(rig.modem.state(), State::Dialling);
        QVERIFY2(rig.heard("\r\n" + result + "\r\n"), rig.seen);
        const bool connected = result.startsWith("CONNECT");
        QVERIFY(rig.modem.cd() == connected && rig.modem.carrier() == connected && cd.size() == int(connected));
    }

    // Any key aborts a dial; the echo service echoes lines and hangs up on
    // "bye"; escaped to commands, the call stays until ATH.
    void calls()
    {
        Rig rig;
        rig.send("ATD777\r");
        QCOMPARE(rig.send("x"), noCarrier);
        QCOMPARE(rig.modem.state(), State::Command);
        QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);
        QVERIFY(rig.call());
        // No local echo in data mode: only the far end's answer comes back; commands are data now.
        QCOMPARE(rig.send("two\r\nlines\rATH\r"), B("two\r\nlines\r\nATH\r\n"));
        QCOMPARE(rig.send("bye\r"), "bye\r\nGoodbye.\r\n" + noCarrier);
        QVERIFY(rig.modem.state() == State::Command && !rig.modem.cd() && cd.size() == 2);
        QVERIFY(rig.call() && rig.escape());
        QCOMPARE(rig.send("ATD123\rATA\r"), error + error);
        QCOMPARE(rig.send("ATI2\r"), "\r\nROM OK\r\n" + ok);
        QCOMPARE(rig.send("ATO\r"), B("\r\nCONNECT 9600\r\n"));
        // The escape went to the far end as data, as it does on a real line.
        QCOMPARE(rig.send("again\r"), B("+++again\r\n"));
        QVERIFY(rig.escape());
        QCOMPARE(rig.send("ATH\r"), noCarrier);
        QVERIFY(rig.modem.state() == State::Command && !rig.modem.cd() && cd.size() == 4);
    }

    // Guard time, the escape character (S2) three times, guard time (S12);
    // anything else goes to the far end as data.
    void escape()
    {
        for (const auto &[setup, waitForGuard, data, escaped] :
             {std::tuple("", true, "+++", true), {"", false, "x+++", false}, {"", true, "+++y", false},
              {"", true, "++++", false}, {"ATS2=42\r", true, "***", true}, {"ATS2=200\r", true, "+++", false},
              {"ATS12=0\r", false, "x+++", true}}) {
            Rig rig;
            rig.send(setup);
            QVERIFY(rig.call());
            QVERIFY(!waitForGuard || QTest::qWaitFor([&] { return rig.modem.escapeGuardPassed(); }));
            rig.modem.receive(data);
            if (escaped)
                QVERIFY(rig.heard(ok));
            for (int turn = 0; turn < 3 && !escaped; ++turn) // a guard time is one turn here
                QCoreApplication::processEvents();
            QVERIFY2(rig.modem.state() == (escaped ? State::OnlineCommand : State::Data) && rig.modem.cd(), data);
            QVERIFY(escaped || rig.send("\r") == B(data) + "\r\n");
        }
    }

    // DSR follows DTR, CTS follows RTS, &C0 holds CD on; dropping DTR in a
    // call does what &D says.
    void lines()
    {
        for (const auto &[mode, answer, state] :
             {std::tuple("AT&D2\r", noCarrier, State::Command), {"AT&D0\r", B(), State::Data},
              {"AT&D1\r", ok, State::OnlineCommand}, {"AT&D3S7=40\r", noCarrier, State::Command}}) {
            Rig rig;
            QSignalSpy dsr(&rig.modem, &HayesModem::dsrChanged), cts(&rig.modem, &HayesModem::ctsChanged);
            rig.modem.setDtr(true); // no change, no signal
            rig.modem.setRts(false);
            QVERIFY(rig.modem.dsr() && !rig.modem.cts() && dsr.size() == 0 && cts.size() == 1);
            rig.send("AT&C0\r");
            QVERIFY(rig.modem.cd());
            rig.send("AT&C1\r" + B(mode));
            QVERIFY(!rig.modem.cd() && rig.call());
            rig.modem.setDtr(false);
            QCOMPARE(rig.modem.takeOutput(), answer);
            QVERIFY(rig.modem.state() == state && dsr.size() == 1 && !rig.modem.dsr());
            QVERIFY(rig.modem.cd() == (state != State::Command) && rig.modem.sRegister(7) == 50); // &D3 reset the 40
        }
    }

    void incomingCalls()
    {
        Rig rig;
        QCOMPARE(rig.send("ATA\r"), B()); // nobody calls: answering finds no carrier
        QVERIFY(rig.heard(noCarrier));
        rig.modem.ring();
        QCOMPARE(rig.modem.takeOutput(), B("\r\nRING\r\n"));
        QVERIFY(rig.modem.isRinging());
        QCOMPARE(rig.send("ATS1?\r"), "\r\n001\r\n" + ok);
        rig.send("ATA\r");
        QVERIFY(!rig.modem.isRinging() && rig.heard("\r\nCONNECT 9600\r\nHello"));
        QCOMPARE(rig.send("hi\r"), B("hi\r\n"));
        rig.modem.ring(); // not heard while busy with a call
        QCOMPARE(rig.modem.takeOutput(), B());
        rig.modem.setDtr(false);
        rig.modem.setDtr(true);
        // Auto-answer on the second ring.
        rig.send("ATS0=2\r");
        rig.modem.ring();
        QVERIFY2(rig.heard("\r\nRING\r\n\r\nRING\r\n\r\nCONNECT"), rig.seen);
        rig.modem.setDtr(false);
        rig.modem.setDtr(true);
        // The callback service hangs up, rings back and is answered.
        rig.send("ATS0=1D999\r");
        QVERIFY2(rig.heard("call you back.\r\n" + noCarrier + "\r\nRING\r\n\r\nCONNECT 9600\r\nHello"), rig.seen);
        QVERIFY(rig.modem.cd());
    }

    // A paced piece ends at a line feed at the latest, so one starting with a
    // carriage return never hides the text of the next line.
    void pacedOutputComesInLines()
    {
        HayesModem modem;
        modem.setPacing(false);
        modem.receive("AT&V\r");
        const B whole = modem.takeOutput();
        modem.setPacing(true);
        QList<B> pieces;
        connect(&modem, &HayesModem::outputReady, this, [&] { pieces << modem.takeOutput(); });
        modem.receive("AT&V\r");
        QCOMPARE(modem.outputAvailable(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(pieces.join().size() == whole.size(), 10000);
        QCOMPARE(pieces.join(), whole);
        QVERIFY(pieces.size() >= whole.count('\n'));
        for (const B &piece : std::as_const(pieces))
            QVERIFY2(!piece.chopped(1).contains('\n'), piece);

        // What a terminal floods it with waits in a modem-sized buffer at most;
        // the rest is dropped, and the modem still answers.
        HayesModem flooded;
        flooded.receive(B(8 << 20, 'x'));
        flooded.setPacing(false);
        QVERIFY(flooded.takeOutput().size() <= 8192);
        flooded.receive("\rAT\r");
        QVERIFY(flooded.takeOutput().endsWith(ok));
    }

    void closedPortBehavesLikeAPort()
    {
        SimulatedComm comm;
        QCOMPARE(thrownNumber([&] { comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
        QCOMPARE(thrownNumber([&] { comm.Input(); }) + thrownNumber([&] { comm.setPortOpen(false); }), 8012);
        QVERIFY(!comm.DSRHolding() && !comm.CTSHolding() && !comm.CDHolding());
        comm.setPortOpen(true);
        QCOMPARE(thrownNumber([&] { comm.setPortOpen(true); }), int(CommError::PortAlreadyOpen));
        QCOMPARE(thrownNumber([&] { comm.setCommPort(3); }), int(CommError::PortAlreadyOpen));
        QCOMPARE(thrownNumber([&] { comm.setSettings("fast"); }), int(CommError::InvalidPropertyValue));
        QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
    }

    // DTR moves DSR and RTS moves CTS at once, but the events come later, never
    // from inside a call; answers come paced, in pieces.
    void eventsComeLater()
    {
        SimulatedComm comm;
        Listener listener(comm);
        comm.modem()->setTimeScale(0.0);
        comm.setRThreshold(1);
        comm.setPortOpen(true);
        QVERIFY(comm.DSRHolding() && comm.CTSHolding() && !comm.CDHolding());
        QTRY_COMPARE(listener.codes.size(), 2);
        for (const bool on : {false, true}) {
            listener.codes.clear();
            comm.setDTREnable(on);
            comm.setRTSEnable(on);
            QVERIFY(comm.DSRHolding() == on && comm.CTSHolding() == on && listener.codes.isEmpty());
            QTRY_COMPARE(listener.codes, (QList<int>{CommControl::comEvDSR, CommControl::comEvCTS}));
        }
        listener.codes.clear();
        comm.setOutput("ATI3\r");
        QVERIFY(listener.codes.isEmpty());
        QTRY_VERIFY(listener.received.endsWith("\r\nOK\r\n"));
        QVERIFY(listener.received.startsWith("ATI3\r\r\nModemterm") && listener.codes.size() > 1);
        // With no threshold nothing is announced; raising it announces what waits.
        comm.setRThreshold(0);
        listener.received.clear();
        comm.setOutput("AT\r");
        QTRY_VERIFY(comm.modem()->outputAvailable() >= 5); // "AT\r" echoed, then OK
        QVERIFY(listener.received.isEmpty());
        comm.setRThreshold(1);
        QTRY_VERIFY(listener.received.endsWith("OK\r\n"));
    }

    // A call raises CD and reports the line speed; dropping DTR hangs up, and
    // so does closing; the modem raises DTR again at the next opening.
    void callsFollowTheLines()
    {
        SimulatedComm comm;
        comm.modem()->setTimeScale(0.0);
        comm.setSettings("2400,N,8,1");
        comm.setRThreshold(1);
        comm.setPortOpen(true);
        comm.setSettings("19200,E,7,1"); // applied at once while open
        Listener listener(comm);
        comm.setOutput("ATD123\r");
        QTRY_VERIFY(listener.received.contains("CONNECT 19200\r\nWelcome"));
        QVERIFY(comm.CDHolding() && listener.codes.contains(CommControl::comEvCD));
        listener.codes.clear();
        comm.setDTREnable(false); // &D2: the modem hangs up
        QVERIFY(!comm.CDHolding() && !comm.DSRHolding());
        QTRY_VERIFY(listener.received.endsWith("NO CARRIER\r\n"));
        QVERIFY(listener.codes.count(CommControl::comEvCD) == 1 && listener.codes.count(CommControl::comEvDSR) == 1);
        comm.setDTREnable(true);
        comm.setOutput("ATD123\r");
        QTRY_VERIFY(comm.CDHolding());
        comm.setPortOpen(false);
        QVERIFY(!comm.modem()->carrier() && !comm.CDHolding());
        comm.setPortOpen(true);
        QVERIFY(!comm.CDHolding() && comm.DSRHolding() && comm.Input().isEmpty()); // what it said while closed is gone
        comm.setPortOpen(false);
        comm.setDTREnable(false); // remembered for the next opening
        comm.setPortOpen(true);
        QVERIFY(!comm.DSRHolding());
    }

    // modemsim through Qt Serial Port, reopened through its link at another
    // speed; it ends on SIGTERM or SIGINT with status 0 and removes the link.
    void modemsimAnswersThroughSerialPort()
    {
        for (const int signal : {SIGTERM, SIGINT}) {
            QTemporaryDir dir;
            const QString link = dir.filePath(QStringLiteral("modem"));
            QVERIFY(signal == SIGTERM || QFile::link(QStringLiteral("/dev/pts/no-such-terminal"), link)); // a stale one
            QProcess sim;
            sim.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("--link"), link});
            QVERIFY(sim.waitForReadyRead(10000));
            const QString path = QString::fromLocal8Bit(sim.readLine()).trimmed();
            QCOMPARE(QFileInfo(link).symLinkTarget(), path);
            for (const QString &device : {path, link}) {
                SerialPortComm port(device);
                Listener listener(port);
                port.setRThreshold(1);
                port.setSettings(device == link ? u"115200,N,8,1"_qs : u"9600,N,8,1"_qs);
                port.setPortOpen(true);
                port.setOutput("ATI\rAT&V\r");
                QTRY_VERIFY2_WITH_TIMEOUT(listener.received.count("OK\r\n") == 2, listener.received, 10000);
                QVERIFY(listener.received.startsWith("ATI\r\r\nMODEMTERM SIMULATED MODEM\r\n\r\nOK\r\n"));
                for (const QString &listed : {u"LINE: "_qs + port.Settings(), u"STORED PROFILE 0:"_qs, u"DIRECTORY:"_qs})
                    QVERIFY2(listener.received.contains(listed.toLatin1()), qPrintable(listed));
            }
            ::kill(pid_t(sim.processId()), signal);
            QVERIFY(sim.waitForFinished(10000) && sim.exitStatus() == QProcess::NormalExit && sim.exitCode() == 0);
            QVERIFY(!QFileInfo(link).isSymLink());
        }
    }

    // Any request to end is taken at once, link removed, even while a client
    // sends without pause.
    void modemsimEndsPromptlyWhateverAClientSends()
    {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
            QTemporaryDir dir;
            const QString link = dir.filePath(QStringLiteral("modem"));
            QProcess sim;
            sim.start(QStringLiteral(MODEMSIM_PATH), {QStringLiteral("--link"), link});
            QVERIFY(sim.waitForReadyRead(10000));
            const int fd = ::open(QFile::encodeName(link).constData(), O_WRONLY | O_NOCTTY);
            QVERIFY(fd >= 0);
            std::atomic<bool> sending{true};
            std::atomic<qint64> sent{0};
            const auto send = [&] {
                const B noise(65536, 'x');
                while (sending && ::write(fd, noise.constData(), size_t(noise.size())) > 0)
                    sent += noise.size();
            };
            std::thread client(send), client2(send);
            QTRY_VERIFY(sent > (1 << 20));
            ::kill(pid_t(sim.processId()), signal);
            const bool ended = sim.waitForFinished(5000);
            sending = false;
            ::close(fd); // unblocks the clients' writes
            client.join();
            client2.join();
            QVERIFY2(ended && sim.exitCode() == 0, strsignal(signal));
            QVERIFY(!QFileInfo(link).isSymLink());
        }
    }

    // --help and --version; a stray argument, or a link over a file, which stays.
    void modemsimCommandLine()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
        file.close();
        for (const auto &[args, exitCode, out, err] :
             {std::tuple(QStringList{"--help"}, 0, "--link", ""), {QStringList{"--version"}, 0, MODEMTERM_VERSION, ""},
              {QStringList{"extra"}, 2, "", "extra"}, {QStringList{"--link", file.fileName()}, 1, "", "nie jest dowiązaniem"},
              {QStringList{"--rfc2217", "0", "--link", "FILE"}, 2, "", "--link"},
              {QStringList{"--rfc2217", "::1:2217"}, 2, "", "[ADRES:]PORT"}}) {
            QProcess process;
            process.start(QStringLiteral(MODEMSIM_PATH), args);
            QVERIFY(process.waitForFinished(10000) && process.exitCode() == exitCode);
            QVERIFY(process.readAllStandardOutput().contains(out) && process.readAllStandardError().contains(err));
        }
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "keep me");
    }
};

QTEST_GUILESS_MAIN(TestModem)
#include "tst_modem.moc"
