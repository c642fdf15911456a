#include "hayesmodem.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Pacing off and every delay cut to one turn of the event loop: commands answer synchronously.
struct Rig
{
    HayesModem modem;
    QByteArray seen;

    explicit Rig(bool echo = false)
    {
        modem.setPacing(false);
        modem.setTimeScale(0.0);
        modem.setDtr(true);
        modem.setRts(true);
        if (!echo)
            send("ATE0\r");
        seen.clear();
    }
    // Sends and returns what the modem answered at once.
    QByteArray send(QByteArrayView bytes)
    {
        modem.receive(bytes);
        return modem.takeOutput();
    }
    // Everything the modem said since the last take(), gathered as events run.
    const QByteArray &collect()
    {
        seen += modem.takeOutput();
        return seen;
    }
    QByteArray take()
    {
        collect();
        return std::exchange(seen, QByteArray());
    }
};

using B = QByteArray;
const B ok = "\r\nOK\r\n";
const QByteArray error = "\r\nERROR\r\n";

#define CONNECT_TO(rig, number)                                                   \
    do {                                                                          \
        (rig).send("ATD" number "\r");                                            \
        QTRY_VERIFY((rig).collect().contains("CONNECT 9600\r\n"));                \
        QCOMPARE((rig).modem.state(), HayesModem::State::Data);                   \
        (rig).take();                                                             \
    } while (false)

// Guard time, "+++", guard time: back to commands with the call kept.
#define ESCAPE(rig)                                                               \
    do {                                                                          \
        QTRY_VERIFY((rig).modem.escapeGuardPassed());                             \
        (rig).send("+++");                                                        \
        QTRY_COMPARE((rig).collect(), ok);                                        \
        (rig).take();                                                             \
    } while (false)

} // namespace

class TestHayesModem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commands_data();
    void commands();
    void repeatAndEcho();
    void profilesAndListings();
    void dial_data();
    void dial();
    void echoServiceAndAbortedDial();
    void escape_data();
    void escape();
    void onlineCommands();
    void dtrDrop_data();
    void dtrDrop();
    void lines();
    void incomingCalls();
    void pacedOutputComesInLines();
};

void TestHayesModem::commands_data()
{
    QTest::addColumn<B>("setup");
    QTest::addColumn<B>("input");
    QTest::addColumn<B>("answer");

    const B forty = B("X4").repeated(20);
    QTest::newRow("plain") << B() << B("AT\r") << ok;
    QTest::newRow("lower case") << B() << B("at\r") << ok;
    QTest::newRow("several commands") << B() << B("ATE0V1Q0\r") << ok;
    QTest::newRow("no-ops") << B() << B("ATX4L2M1X0L0M0\r") << ok;
    QTest::newRow("spaces ignored") << B() << B("AT E0 V1 X4\r") << ok;
    QTest::newRow("noise before AT") << B() << B("xyz\x1b" "AT\r") << ok;
    QTest::newRow("line feed after CR") << B() << B("AT\r\n") << ok;
    QTest::newRow("bare CR is silent") << B() << B("\r") << B();
    QTest::newRow("not a command is silent") << B() << B("hello\r") << B();
    QTest::newRow("unknown letter") << B() << B("ATJ\r") << error;
    QTest::newRow("bare ampersand") << B() << B("AT&\r") << error;
    QTest::newRow("value out of range") << B() << B("ATE2\r") << error;
    QTest::newRow("huge number") << B() << B("ATE99999999999999\r") << error;
    QTest::newRow("backspace edits AT") << B() << B("AX\bT\r") << ok;
    QTest::newRow("backspace edits a command") << B() << B("ATE5\b0\r") << ok;
    QTest::newRow("backspace past AT") << B() << B("AT\b\b\bAT\r") << ok;
    QTest::newRow("40 characters") << B() << "AT" + forty + "\r" << ok;
    QTest::newRow("41 characters") << B() << "AT" + forty + "E\r" << error;
    QTest::newRow("41 then backspace") << B() << "AT" + forty + "E\b\r" << ok;
    QTest::newRow("far too long") << B() << "AT" + B(5000, 'E') + "\b\r" << error;

    QTest::newRow("numeric ok") << B("ATV0\r") << B("AT\r") << B("0\r");
    QTest::newRow("numeric error") << B("ATV0\r") << B("ATJ\r") << B("4\r");
    QTest::newRow("error stops the line") << B() << B("ATV0JQ1\rAT\r") << B("4\r0\r");
    QTest::newRow("quiet") << B("ATQ1\r") << B("AT\r") << B();
    QTest::newRow("quiet error") << B("ATQ1\r") << B("ATJ\r") << B();
    QTest::newRow("verbose info") << B() << B("ATI2\r") << "\r\nROM OK\r\n" + ok;
    QTest::newRow("numeric info") << B("ATV0\r") << B("ATI2\r") << B("ROM OK\r\n0\r");
    QTest::newRow("quiet keeps info") << B("ATQ1\r") << B("ATI2\r") << B("\r\nROM OK\r\n");
    QTest::newRow("S4 frames") << B("ATS4=33\r") << B("AT\r") << B("\r!OK\r!");
    QTest::newRow("S3 ends lines") << B("ATS3=64\r") << B("AT@") << B("@\nOK@\n");
    QTest::newRow("register defaults") << B() << B("ATS0?S2?S5?s7?S12?\r")
                                       << "\r\n000\r\n\r\n043\r\n\r\n008\r\n\r\n050\r\n\r\n050\r\n" + ok;
    QTest::newRow("register writes") << B("ATS7=30S0=255S12=\r") << B("ATS7?S0?S12?\r")
                                     << "\r\n030\r\n\r\n255\r\n\r\n000\r\n" + ok;
    for (const char *bad : {"S0=256", "S3=128", "S13?", "S?", "S7", "S7:1"})
        QTest::newRow(bad) << B() << "AT" + B(bad) + "\r" << error;
}

void TestHayesModem::commands()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, answer);
    Rig rig;
    rig.send(setup);
    QCOMPARE(rig.send(input), answer);
    if (setup.isEmpty()) // ready for the next line whatever came before
        QCOMPARE(rig.send("ATV1\r"), ok);
}

void TestHayesModem::repeatAndEcho()
{
    Rig rig;
    QCOMPARE(rig.send("A/"), ok); // nothing typed yet: an empty command line
    const QByteArray answer = rig.send("ATI3S7?\r");
    QVERIFY(answer.contains("050"));
    QCOMPARE(rig.send("A/"), answer);
    QCOMPARE(rig.send("a/"), answer);
    rig.send("AT" + QByteArray(50, 'E') + "\r"); // rejected as too long: not remembered
    QCOMPARE(rig.send("A/"), answer);

    Rig echoing(true);
    QCOMPARE(echoing.send("AT\r"), "AT\r" + ok);
    QCOMPARE(echoing.send("xy"), QByteArray("xy")); // everything typed is echoed
    QCOMPARE(echoing.send("\r"), QByteArray("\r"));
    QCOMPARE(echoing.send("AX\bT\r"), "AX\bT\r" + ok);
    QCOMPARE(echoing.send("ATE0\r"), "ATE0\r" + ok);
    QCOMPARE(echoing.send("AT\r"), ok);
}

void TestHayesModem::profilesAndListings()
{
    Rig rig;
    rig.send("ATS7=30V0\r");
    // Z goes back to the stored profile, which is the factory one until &W.
    QCOMPARE(rig.send("ATZ\r"), ok);
    QCOMPARE(rig.modem.sRegister(7), 50);
    rig.send("ATE0S7=30&W\r"); // stored with echo off
    rig.send("ATS7=40Z\r");
    QCOMPARE(rig.modem.sRegister(7), 30);
    QCOMPARE(rig.send("AT&F\r"), ok);
    QCOMPARE(rig.modem.sRegister(7), 50);
    QCOMPARE(rig.send("ATE0\r"), "ATE0\r" + ok); // echo came back with the factory profile

    for (int n = 0; n <= 3; ++n) {
        const QByteArray answer = rig.send("ATI" + QByteArray::number(n) + "\r");
        QVERIFY2(answer.startsWith("\r\n") && answer.endsWith("\r\n" + ok) && answer.count('\n') == 4, answer);
    }
    QCOMPARE(rig.send("ATI\r"), rig.send("ATI0\r"));

    rig.send("ATS7=33\r");
    const QByteArray listing = rig.send("AT&V\r");
    QVERIFY(listing.endsWith(ok));
    QVERIFY(listing.contains("ACTIVE PROFILE:\r\nE0 ") && listing.contains("STORED PROFILE 0:\r\nE0 "));
    QVERIFY(listing.contains("S07:033") && listing.contains("9600,N,8,1"));
    for (const char *number : {"123", "555", "777", "999", "000"})
        QVERIFY2(listing.contains(QByteArray("\r\n") + number + " "), number);
}

void TestHayesModem::dial_data()
{
    QTest::addColumn<B>("command");
    QTest::addColumn<B>("result");
    QTest::addColumn<bool>("connected");

    QTest::newRow("echo") << B("ATD123\r") << B("CONNECT 9600") << true;
    QTest::newRow("echo, tone, pauses, dashes") << B("ATDT1,2-3\r") << B("CONNECT 9600") << true;
    QTest::newRow("echo, pulse, wait, brackets") << B("atdpw (123)\r") << B("CONNECT 9600") << true;
    QTest::newRow("busy") << B("ATDT555\r") << B("BUSY") << false;
    QTest::newRow("no answer") << B("ATDP777\r") << B("NO ANSWER") << false;
    QTest::newRow("no dial tone") << B("ATD000\r") << B("NO DIALTONE") << false;
    QTest::newRow("no modem there") << B("ATD4242\r") << B("NO CARRIER") << false;
    QTest::newRow("no number") << B("ATD\r") << B("NO CARRIER") << false;
    QTest::newRow("S7 too short for the echo") << B("ATS7=1D123\r") << B("NO CARRIER") << false;
}

void TestHayesModem::dial()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, result);
    QFETCH(bool, connected);
    Rig rig;
    QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);

    QCOMPARE(rig.send(command), QByteArray()); // the result waits for the call
    QCOMPARE(rig.modem.state(), HayesModem::State::Dialling);
    QTRY_VERIFY(rig.modem.state() != HayesModem::State::Dialling);
    QVERIFY2(rig.collect().startsWith("\r\n" + result + "\r\n"), rig.seen);
    QCOMPARE(rig.modem.cd(), connected);
    QCOMPARE(rig.modem.carrier(), connected);
    QCOMPARE(cd.size(), connected ? 1 : 0);
    if (connected)
        QCOMPARE(cd.first().first().toBool(), true);
}

void TestHayesModem::echoServiceAndAbortedDial()
{
    Rig rig;
    rig.send("ATD777\r");
    QCOMPARE(rig.send("x"), "\r\nNO CARRIER\r\n"); // any key aborts a dial
    QCOMPARE(rig.modem.state(), HayesModem::State::Command);

    QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);
    rig.send("ATD123\r\n"); // a line feed trailing the carriage return is not a key
    QTRY_VERIFY(rig.collect().contains("CONNECT 9600\r\n"));
    QVERIFY(rig.take().contains("Welcome"));
    // No local echo in data mode: only the far end's answer comes back.
    QCOMPARE(rig.send("two\r\nlines\r"), QByteArray("two\r\nlines\r\n"));
    QCOMPARE(rig.send("ATH\r"), QByteArray("ATH\r\n")); // commands are data now
    QCOMPARE(rig.send("bye\r"), "bye\r\nGoodbye.\r\n\r\nNO CARRIER\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Command);
    QVERIFY(!rig.modem.cd());
    QCOMPARE(cd.size(), 2);
    QCOMPARE(rig.send("AT\r"), ok);
}

void TestHayesModem::escape_data()
{
    QTest::addColumn<B>("setup");
    QTest::addColumn<bool>("waitForGuard");
    QTest::addColumn<B>("data");
    QTest::addColumn<bool>("escaped");

    QTest::newRow("guard before and after") << B() << true << B("+++") << true;
    QTest::newRow("no guard before") << B() << false << B("x+++") << false;
    QTest::newRow("data right after") << B() << true << B("+++y") << false;
    QTest::newRow("four pluses") << B() << true << B("++++") << false;
    QTest::newRow("other escape character") << B("ATS2=42\r") << true << B("***") << true;
    QTest::newRow("escape disabled") << B("ATS2=200\r") << true << B("+++") << false;
    QTest::newRow("no guard time set") << B("ATS12=0\r") << false << B("x+++") << true;
}

void TestHayesModem::escape()
{
    QFETCH(QByteArray, setup);
    QFETCH(bool, waitForGuard);
    QFETCH(QByteArray, data);
    QFETCH(bool, escaped);
    Rig rig;
    rig.send(setup);
    CONNECT_TO(rig, "123");
    if (waitForGuard)
        QTRY_VERIFY(rig.modem.escapeGuardPassed());

    rig.modem.receive(data);
    if (escaped) {
        QTRY_COMPARE(rig.collect(), ok);
        QCOMPARE(rig.modem.state(), HayesModem::State::OnlineCommand);
        QVERIFY(rig.modem.cd()); // the carrier stays
        return;
    }
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(rig.modem.state(), HayesModem::State::Data);
    // The escape characters went to the far end as data.
    rig.modem.receive("\r");
    QCOMPARE(rig.take(), data + "\r\n");
}

void TestHayesModem::onlineCommands()
{
    Rig rig;
    QCOMPARE(rig.send("ATO\r"), "\r\nNO CARRIER\r\n"); // nothing to return to
    QCOMPARE(rig.send("ATH\r"), ok);                   // nothing to hang up

    CONNECT_TO(rig, "123");
    ESCAPE(rig);

    QCOMPARE(rig.send("ATD123\r"), error);
    QCOMPARE(rig.send("ATA\r"), error);
    QCOMPARE(rig.send("ATI2\r"), "\r\nROM OK\r\n" + ok);
    QCOMPARE(rig.send("ATO\r"), "\r\nCONNECT 9600\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Data);
    // The escape went to the far end as data, as it does on a real line.
    QCOMPARE(rig.send("again\r"), QByteArray("+++again\r\n"));

    ESCAPE(rig);
    QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);
    QCOMPARE(rig.send("ATH\r"), "\r\nNO CARRIER\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Command);
    QCOMPARE(cd.size(), 1);
    QCOMPARE(rig.modem.cd(), false);
}

void TestHayesModem::dtrDrop_data()
{
    QTest::addColumn<B>("mode");
    QTest::addColumn<B>("answer");
    QTest::addColumn<HayesModem::State>("state");

    QTest::newRow("&D2 hangs up") << B("AT&D2\r") << B("\r\nNO CARRIER\r\n") << HayesModem::State::Command;
    QTest::newRow("&D0 ignores") << B("AT&D0\r") << B() << HayesModem::State::Data;
    QTest::newRow("&D1 to commands") << B("AT&D1\r") << ok << HayesModem::State::OnlineCommand;
    QTest::newRow("&D3 hangs up and resets") << B("AT&D3S7=40\r") << B("\r\nNO CARRIER\r\n")
                                             << HayesModem::State::Command;
}

void TestHayesModem::dtrDrop()
{
    QFETCH(QByteArray, mode);
    QFETCH(QByteArray, answer);
    QFETCH(HayesModem::State, state);
    Rig rig;
    rig.send(mode);
    CONNECT_TO(rig, "123");
    QSignalSpy dsr(&rig.modem, &HayesModem::dsrChanged);
    QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);

    rig.modem.setDtr(false);
    QCOMPARE(rig.take(), answer);
    QCOMPARE(rig.modem.state(), state);
    QCOMPARE(dsr.size(), 1);
    QCOMPARE(rig.modem.dsr(), false);
    const bool hungUp = state == HayesModem::State::Command;
    QCOMPARE(rig.modem.cd(), !hungUp);
    QCOMPARE(cd.size(), hungUp ? 1 : 0);
    if (mode.contains("&D3"))
        QCOMPARE(rig.modem.sRegister(7), 50);
}

void TestHayesModem::lines()
{
    HayesModem modem;
    modem.setPacing(false);
    QSignalSpy dsr(&modem, &HayesModem::dsrChanged);
    QSignalSpy cts(&modem, &HayesModem::ctsChanged);
    QSignalSpy cd(&modem, &HayesModem::cdChanged);
    QVERIFY(!modem.dsr() && !modem.cts() && !modem.cd());
    modem.setDtr(true);
    modem.setDtr(true); // no change, no signal
    modem.setRts(true);
    modem.setRts(false);
    QVERIFY(modem.dsr() && !modem.cts());
    QCOMPARE(dsr.size(), 1);
    QCOMPARE(cts.size(), 2);

    // &C0 holds CD on without a carrier; &C1 lets it follow the carrier again.
    modem.receive("AT&C0\r");
    QVERIFY(modem.cd());
    modem.receive("AT&C1\r");
    QVERIFY(!modem.cd());
    QCOMPARE(cd.size(), 2);
}

void TestHayesModem::incomingCalls()
{
    Rig rig;
    QCOMPARE(rig.send("ATA\r"), QByteArray()); // nobody calls: answering finds no carrier
    QTRY_COMPARE(rig.collect(), "\r\nNO CARRIER\r\n");
    rig.take();

    rig.modem.ring();
    QCOMPARE(rig.take(), "\r\nRING\r\n");
    QVERIFY(rig.modem.isRinging());
    QCOMPARE(rig.send("ATS1?\r"), "\r\n001\r\n" + ok);
    rig.send("ATA\r");
    QVERIFY(!rig.modem.isRinging());
    QTRY_VERIFY(rig.collect().contains("\r\nCONNECT 9600\r\nHello"));
    QCOMPARE(rig.send("hi\r"), QByteArray("hi\r\n"));
    rig.take();
    rig.modem.ring(); // not heard while busy with a call
    QCOMPARE(rig.take(), QByteArray());
    rig.modem.setDtr(false);
    rig.modem.setDtr(true);
    rig.take();

    // Auto-answer on the second ring; the callback service hangs up, rings back and is answered.
    rig.send("ATS0=2\r");
    rig.modem.ring();
    QTRY_VERIFY(rig.collect().contains("CONNECT"));
    QCOMPARE(rig.seen.count("RING"), 2);
    rig.modem.setDtr(false);
    rig.modem.setDtr(true);
    rig.take();
    rig.send("ATS0=1D999\r");
    QTRY_VERIFY2(rig.collect().contains("\r\nCONNECT 9600\r\nHello"), rig.seen);
    QVERIFY2(rig.seen.contains("call you back.\r\n\r\nNO CARRIER\r\n\r\nRING\r\n\r\nCONNECT 9600"),
             rig.seen);
    QVERIFY(rig.modem.cd());
}

void TestHayesModem::pacedOutputComesInLines()
{
    HayesModem modem;
    modem.setPacing(false);
    modem.receive("AT&V\r");
    const QByteArray whole = modem.takeOutput();

    modem.setPacing(true);
    QList<QByteArray> pieces;
    connect(&modem, &HayesModem::outputReady, this, [&] { pieces << modem.takeOutput(); });
    modem.receive("AT&V\r");
    QCOMPARE(modem.outputAvailable(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(pieces.join().size() == whole.size(), 10000);
    QCOMPARE(pieces.join(), whole);
    QVERIFY(pieces.size() >= whole.count('\n'));
    // A piece ends at a line feed at the latest, so one starting with a
    // carriage return never hides the text of the next line.
    for (const QByteArray &piece : std::as_const(pieces))
        QVERIFY2(!piece.chopped(1).contains('\n'), piece);

    // What a terminal floods it with waits in a modem-sized buffer at most;
    // the rest is dropped, and the modem still answers.
    HayesModem flooded;
    flooded.receive(QByteArray(8 << 20, 'x'));
    flooded.setPacing(false);
    QVERIFY(flooded.takeOutput().size() <= 8192);
    flooded.receive("\rAT\r");
    QVERIFY(flooded.takeOutput().endsWith("OK\r\n"));
}

QTEST_GUILESS_MAIN(TestHayesModem)
#include "tst_hayesmodem.moc"
