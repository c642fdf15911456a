#include "hayesmodem.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// The modem with pacing off and every delay cut to one turn of the event loop,
// so commands answer synchronously and calls settle as soon as events run.
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
    // Runs the event loop a few turns without waiting for anything.
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
};

const QByteArray ok = "\r\nOK\r\n";
const QByteArray error = "\r\nERROR\r\n";

#define CONNECT_TO(rig, number)                                                   \
    do {                                                                          \
        (rig).send("ATD" number "\r");                                            \
        QTRY_VERIFY((rig).collect().contains("CONNECT 9600\r\n"));                \
        QCOMPARE((rig).modem.state(), HayesModem::State::Data);                   \
    } while (false)

} // namespace

class TestHayesModem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void errorStopsTheLine();
    void repeatLastLine();
    void echo();
    void resultFraming_data();
    void resultFraming();
    void registers_data();
    void registers();
    void profiles();
    void identificationAndListing();
    void dial_data();
    void dial();
    void echoService();
    void anyKeyAbortsDial();
    void escape_data();
    void escape();
    void onlineCommands();
    void dtrDrop_data();
    void dtrDrop();
    void lines();
    void incomingCall();
    void autoAnswerAndCallBack();
    void pacedOutputComesInLines();
};

void TestHayesModem::commandLine_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("answer");

    const QByteArray forty = QByteArray("X4").repeated(20);
    QTest::newRow("plain") << QByteArray("AT\r") << ok;
    QTest::newRow("lower case") << QByteArray("at\r") << ok;
    QTest::newRow("mixed case") << QByteArray("aT\r") << ok;
    QTest::newRow("several commands") << QByteArray("ATE0V1Q0\r") << ok;
    QTest::newRow("no-ops") << QByteArray("ATX4L2M1X0L0M0\r") << ok;
    QTest::newRow("spaces ignored") << QByteArray("AT E0 V1 X4\r") << ok;
    QTest::newRow("noise before AT") << QByteArray("xyz\x1b" "AT\r") << ok;
    QTest::newRow("line feed after CR") << QByteArray("AT\r\n") << ok;
    QTest::newRow("bare CR is silent") << QByteArray("\r") << QByteArray();
    QTest::newRow("not a command is silent") << QByteArray("hello\r") << QByteArray();
    QTest::newRow("unknown letter") << QByteArray("ATJ\r") << error;
    QTest::newRow("unknown ampersand") << QByteArray("AT&Z\r") << error;
    QTest::newRow("bare ampersand") << QByteArray("AT&\r") << error;
    QTest::newRow("value out of range") << QByteArray("ATE2\r") << error;
    QTest::newRow("I4") << QByteArray("ATI4\r") << error;
    QTest::newRow("huge number") << QByteArray("ATE99999999999999\r") << error;
    QTest::newRow("backspace edits AT") << QByteArray("AX\bT\r") << ok;
    QTest::newRow("backspace edits a command") << QByteArray("ATE5\b0\r") << ok;
    QTest::newRow("backspace past AT") << QByteArray("AT\b\b\bAT\r") << ok;
    QTest::newRow("40 characters") << "AT" + forty + "\r" << ok;
    QTest::newRow("41 characters") << "AT" + forty + "E\r" << error;
    QTest::newRow("41 then backspace") << "AT" + forty + "E\b\r" << ok;
    QTest::newRow("far too long") << "AT" + QByteArray(5000, 'E') + "\b\r" << error;
}

void TestHayesModem::commandLine()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, answer);
    Rig rig;
    QCOMPARE(rig.send(input), answer);
    // The modem is ready for the next line whatever came before.
    QCOMPARE(rig.send("AT\r"), ok);
}

void TestHayesModem::errorStopsTheLine()
{
    Rig rig;
    // V0 runs, the unknown J stops the line, Q1 never runs.
    QCOMPARE(rig.send("ATV0JQ1\r"), QByteArray("4\r"));
    QCOMPARE(rig.send("AT\r"), QByteArray("0\r"));
}

void TestHayesModem::repeatLastLine()
{
    Rig rig;
    QCOMPARE(rig.send("A/"), ok); // nothing typed yet: an empty command line
    const QByteArray answer = rig.send("ATI3S7?\r");
    QVERIFY(answer.contains("050"));
    QCOMPARE(rig.send("A/"), answer);
    QCOMPARE(rig.send("a/"), answer);
    // A rejected over-long line is not remembered.
    rig.send("AT" + QByteArray(50, 'E') + "\r");
    QCOMPARE(rig.send("A/"), answer);
}

void TestHayesModem::echo()
{
    Rig rig(true);
    QCOMPARE(rig.send("AT\r"), "AT\r" + ok);
    QCOMPARE(rig.send("xy"), QByteArray("xy")); // everything typed is echoed
    QCOMPARE(rig.send("\r"), QByteArray("\r"));
    QCOMPARE(rig.send("ATE0\r"), "ATE0\r" + ok);
    QCOMPARE(rig.send("AT\r"), ok);
    QCOMPARE(rig.send("ATE1\r"), ok);
    QCOMPARE(rig.send("AX\bT\r"), "AX\bT\r" + ok);
}

void TestHayesModem::resultFraming_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("verbose ok") << QByteArray() << QByteArray("AT\r") << ok;
    QTest::newRow("verbose error") << QByteArray() << QByteArray("ATJ\r") << error;
    QTest::newRow("numeric ok") << QByteArray("ATV0\r") << QByteArray("AT\r") << QByteArray("0\r");
    QTest::newRow("numeric error") << QByteArray("ATV0\r") << QByteArray("ATJ\r") << QByteArray("4\r");
    QTest::newRow("quiet") << QByteArray("ATQ1\r") << QByteArray("AT\r") << QByteArray();
    QTest::newRow("quiet error") << QByteArray("ATQ1\r") << QByteArray("ATJ\r") << QByteArray();
    QTest::newRow("verbose info") << QByteArray() << QByteArray("ATI2\r")
                                  << "\r\nROM OK\r\n" + ok;
    QTest::newRow("numeric info") << QByteArray("ATV0\r") << QByteArray("ATI2\r")
                                  << QByteArray("ROM OK\r\n0\r");
    QTest::newRow("quiet keeps info") << QByteArray("ATQ1\r") << QByteArray("ATI2\r")
                                      << QByteArray("\r\nROM OK\r\n");
    QTest::newRow("two infos") << QByteArray() << QByteArray("ATS2?S3?\r")
                               << "\r\n043\r\n\r\n013\r\n" + ok;
    QTest::newRow("S4 frames") << QByteArray("ATS4=33\r") << QByteArray("AT\r")
                               << QByteArray("\r!OK\r!");
    QTest::newRow("S3 ends lines") << QByteArray("ATS3=64\r") << QByteArray("AT@")
                                   << QByteArray("@\nOK@\n");
}

void TestHayesModem::resultFraming()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    Rig rig;
    rig.send(setup);
    QCOMPARE(rig.send(command), answer);
}

void TestHayesModem::registers_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("S0 default") << QByteArray("ATS0?\r") << "\r\n000\r\n" + ok;
    QTest::newRow("S2 default") << QByteArray("ATS2?\r") << "\r\n043\r\n" + ok;
    QTest::newRow("S5 default") << QByteArray("ATS5?\r") << "\r\n008\r\n" + ok;
    QTest::newRow("S7 default") << QByteArray("ATS7?\r") << "\r\n050\r\n" + ok;
    QTest::newRow("S12 default") << QByteArray("ats12?\r") << "\r\n050\r\n" + ok;
    QTest::newRow("write then read") << QByteArray("ATS7=30S7?\r") << "\r\n030\r\n" + ok;
    QTest::newRow("write 255") << QByteArray("ATS0=255S0?\r") << "\r\n255\r\n" + ok;
    QTest::newRow("empty value is 0") << QByteArray("ATS12=S12?\r") << "\r\n000\r\n" + ok;
    QTest::newRow("over 255") << QByteArray("ATS0=256\r") << error;
    QTest::newRow("S3 must be 7-bit") << QByteArray("ATS3=128\r") << error;
    QTest::newRow("S13 unknown") << QByteArray("ATS13?\r") << error;
    QTest::newRow("no number") << QByteArray("ATS?\r") << error;
    QTest::newRow("no operation") << QByteArray("ATS7\r") << error;
    QTest::newRow("bad operation") << QByteArray("ATS7:1\r") << error;
}

void TestHayesModem::registers()
{
    QFETCH(QByteArray, command);
    QFETCH(QByteArray, answer);
    Rig rig;
    QCOMPARE(rig.send(command), answer);
}

void TestHayesModem::profiles()
{
    Rig rig;
    rig.send("ATS7=30V0\r");
    // Z goes back to the stored profile, which is the factory one until &W.
    QCOMPARE(rig.send("ATZ\r"), ok);
    QCOMPARE(rig.modem.sRegister(7), 50);
    rig.send("ATE0S7=30&W\r");
    rig.send("ATS7=40Z\r");
    QCOMPARE(rig.modem.sRegister(7), 30);
    QCOMPARE(rig.send("AT&F\r"), ok);
    QCOMPARE(rig.modem.sRegister(7), 50);
    QCOMPARE(rig.send("AT\r"), "AT\r" + ok); // echo is on again
}

void TestHayesModem::identificationAndListing()
{
    Rig rig;
    for (int n = 0; n <= 3; ++n) {
        const QByteArray answer = rig.send("ATI" + QByteArray::number(n) + "\r");
        QVERIFY2(answer.startsWith("\r\n") && answer.endsWith("\r\n" + ok), answer);
        QVERIFY2(answer.count('\n') == 4, answer); // one line of text, then OK
    }
    QCOMPARE(rig.send("ATI\r"), rig.send("ATI0\r"));

    rig.send("ATS7=33\r");
    const QByteArray listing = rig.send("AT&V\r");
    QVERIFY2(listing.size() > 300, listing);
    QVERIFY(listing.endsWith(ok));
    QVERIFY(listing.contains("ACTIVE PROFILE:\r\nE0 "));
    QVERIFY(listing.contains("S07:033"));
    QVERIFY(listing.contains("STORED PROFILE 0:\r\nE1 "));
    QVERIFY(listing.contains("9600,N,8,1"));
    for (const char *number : {"123", "555", "777", "999", "000"})
        QVERIFY2(listing.contains(QByteArray("\r\n") + number + " "), number);
}

void TestHayesModem::dial_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<bool>("connected");

    QTest::newRow("echo") << QByteArray("ATD123\r") << QByteArray("CONNECT 9600") << true;
    QTest::newRow("echo, tone, pauses, dashes") << QByteArray("ATDT1,2-3\r") << QByteArray("CONNECT 9600") << true;
    QTest::newRow("echo, pulse, wait, brackets") << QByteArray("atdpw (123)\r") << QByteArray("CONNECT 9600") << true;
    QTest::newRow("busy") << QByteArray("ATDT555\r") << QByteArray("BUSY") << false;
    QTest::newRow("no answer") << QByteArray("ATDP777\r") << QByteArray("NO ANSWER") << false;
    QTest::newRow("no dial tone") << QByteArray("ATD000\r") << QByteArray("NO DIALTONE") << false;
    QTest::newRow("no modem there") << QByteArray("ATD4242\r") << QByteArray("NO CARRIER") << false;
    QTest::newRow("no number") << QByteArray("ATD\r") << QByteArray("NO CARRIER") << false;
    QTest::newRow("S7 too short for the echo") << QByteArray("ATS7=1D123\r") << QByteArray("NO CARRIER") << false;
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

void TestHayesModem::echoService()
{
    Rig rig;
    QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);
    CONNECT_TO(rig, "123");
    QVERIFY(rig.take().contains("Welcome"));

    // No local echo in data mode: only the far end's answer comes back.
    QCOMPARE(rig.send("hello\r"), QByteArray("hello\r\n"));
    QCOMPARE(rig.send("two\r\nlines\r"), QByteArray("two\r\nlines\r\n"));
    QCOMPARE(rig.send("ATH\r"), QByteArray("ATH\r\n")); // commands are data now
    QCOMPARE(rig.send("bye\r"), "bye\r\nGoodbye.\r\n\r\nNO CARRIER\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Command);
    QCOMPARE(rig.modem.cd(), false);
    QCOMPARE(cd.size(), 2);
    QCOMPARE(rig.send("AT\r"), ok);
}

void TestHayesModem::anyKeyAbortsDial()
{
    Rig rig;
    rig.send("ATD777\r");
    QCOMPARE(rig.send("x"), "\r\nNO CARRIER\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Command);
    // A line feed trailing the carriage return is not a key.
    rig.send("ATD123\r\n");
    QTRY_VERIFY(rig.collect().contains("CONNECT"));
}

void TestHayesModem::escape_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<bool>("waitForGuard");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("escaped");

    QTest::newRow("guard before and after") << QByteArray() << true << QByteArray("+++") << true;
    QTest::newRow("no guard before") << QByteArray() << false << QByteArray("x+++") << false;
    QTest::newRow("data right after") << QByteArray() << true << QByteArray("+++y") << false;
    QTest::newRow("four pluses") << QByteArray() << true << QByteArray("++++") << false;
    QTest::newRow("other escape character") << QByteArray("ATS2=42\r") << true << QByteArray("***") << true;
    QTest::newRow("escape disabled") << QByteArray("ATS2=200\r") << true << QByteArray("+++") << false;
    QTest::newRow("no guard time set") << QByteArray("ATS12=0\r") << false << QByteArray("x+++") << true;
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
    rig.take();
    if (waitForGuard)
        QTRY_VERIFY(rig.modem.escapeGuardPassed());

    rig.modem.receive(data);
    if (escaped) {
        QTRY_COMPARE(rig.collect(), ok);
        QCOMPARE(rig.modem.state(), HayesModem::State::OnlineCommand);
        QVERIFY(rig.modem.cd()); // the carrier stays
        return;
    }
    Rig::settle();
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
    rig.take();
    QTRY_VERIFY(rig.modem.escapeGuardPassed());
    rig.send("+++");
    QTRY_COMPARE(rig.collect(), ok);
    rig.take();

    QCOMPARE(rig.send("ATD123\r"), error);
    QCOMPARE(rig.send("ATA\r"), error);
    QCOMPARE(rig.send("ATI2\r"), "\r\nROM OK\r\n" + ok);
    QCOMPARE(rig.send("ATO\r"), "\r\nCONNECT 9600\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Data);
    // The escape went to the far end as data, as it does on a real line.
    QCOMPARE(rig.send("again\r"), QByteArray("+++again\r\n"));

    QTRY_VERIFY(rig.modem.escapeGuardPassed());
    rig.send("+++");
    QTRY_COMPARE(rig.collect(), ok);
    rig.take();
    QSignalSpy cd(&rig.modem, &HayesModem::cdChanged);
    QCOMPARE(rig.send("ATH\r"), "\r\nNO CARRIER\r\n");
    QCOMPARE(rig.modem.state(), HayesModem::State::Command);
    QCOMPARE(cd.size(), 1);
    QCOMPARE(rig.modem.cd(), false);
}

void TestHayesModem::dtrDrop_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<HayesModem::State>("state");

    QTest::newRow("&D2 hangs up") << QByteArray("AT&D2\r") << QByteArray("\r\nNO CARRIER\r\n")
                                  << HayesModem::State::Command;
    QTest::newRow("&D0 ignores") << QByteArray("AT&D0\r") << QByteArray() << HayesModem::State::Data;
    QTest::newRow("&D1 to commands") << QByteArray("AT&D1\r") << ok << HayesModem::State::OnlineCommand;
    QTest::newRow("&D3 hangs up and resets") << QByteArray("AT&D3S7=40\r") << QByteArray("\r\nNO CARRIER\r\n")
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
    rig.take();
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
    QCOMPARE(dsr.size(), 1);
    QVERIFY(modem.dsr() && !modem.cts());
    modem.setRts(true);
    QCOMPARE(cts.size(), 1);
    QVERIFY(modem.cts());
    modem.setRts(false);
    QCOMPARE(cts.size(), 2);
    QVERIFY(!modem.cts() && modem.dsr());

    // &C0 holds CD on without a carrier; &C1 lets it follow the carrier again.
    modem.receive("AT&C0\r");
    QCOMPARE(cd.size(), 1);
    QVERIFY(modem.cd());
    modem.receive("AT&C1\r");
    QCOMPARE(cd.size(), 2);
    QVERIFY(!modem.cd());
    QCOMPARE(dsr.size(), 1);
}

void TestHayesModem::incomingCall()
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
    QVERIFY(rig.modem.cd());
    QCOMPARE(rig.send("hi\r"), QByteArray("hi\r\n"));

    // A ring while busy with a call is not heard.
    rig.take();
    rig.modem.ring();
    QCOMPARE(rig.take(), QByteArray());
}

void TestHayesModem::autoAnswerAndCallBack()
{
    Rig rig;
    rig.send("ATS0=2\r");
    rig.modem.ring();
    QTRY_VERIFY(rig.collect().contains("CONNECT"));
    QCOMPARE(rig.seen.count("RING"), 2);
    rig.modem.setDtr(false);
    rig.modem.setDtr(true);
    rig.take();

    // The callback service hangs up, rings back and is answered on the first ring.
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
}

QTEST_GUILESS_MAIN(TestHayesModem)
#include "tst_hayesmodem.moc"
