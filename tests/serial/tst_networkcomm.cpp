// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "networkcomm.h"
#include "processusage.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// A COM-PORT subnegotiation as the wire carries it (the server's codes are 100 up).
QByteArray sub(int code, const QByteArray &value)
{
    return "\xff\xfa\x2c" + QByteArray(1, char(code)) + value + "\xff\xf0";
}

// The offer of Telnet options the client opens with.
const QByteArray offer = QByteArray::fromHex("fffb00fffd00fffb03fffd03fffb2c");

// A server the test scripts: one client, every byte it sent kept. It reads
// only while the test waits to hear something; what is not heard within the
// wait fails the test.
struct ScriptedServer
{
    QTcpServer server;
    QTcpSocket *client = nullptr;
    QByteArray heard;

    ScriptedServer() { server.listen(QHostAddress::LocalHost); }
    QString url(const QString &scheme = "rfc2217") const { return u"%1://127.0.0.1:%2"_qs.arg(scheme).arg(server.serverPort()); }
    void hears(const QByteArray &bytes)
    {
        QVERIFY(QTest::qWaitFor([&] {
            client = client ? client : server.nextPendingConnection();
            if (client)
                heard += client->readAll();
            return heard.contains(bytes);
        }));
    }
    // Only once the client has been heard from.
    void say(const QByteArray &bytes)
    {
        QVERIFY(client);
        QVERIFY(client->write(bytes) == bytes.size());
    }
};

// The control under test, opened on the line asked for, gathering what it
// receives, the line events it raises and its failures.
struct Client
{
    NetworkComm comm;
    QByteArray received;
    QList<int> lineEvents;
    QList<CommError> failures;

    explicit Client(const QString &url, const QString &settings = "9600,N,8,1")
        : comm(*NetworkAddress::parse(url))
    {
        comm.setSettings(settings);
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this] {
            if (comm.CommEvent() == CommControl::comEvReceive)
                received += comm.Input();
            else
                lineEvents << comm.CommEvent();
        });
        QObject::connect(&comm, &CommControl::PortFailed, &comm, [this](const CommError &e) { failures << e; });
        comm.setRThreshold(1);
        comm.setPortOpen(true);
    }
};

// Data sent before the connection is up, then COM-PORT agreed with a greeting
// as ser2net sends it: the offer (BINARY and SUPPRESS-GO-AHEAD both ways,
// COM-PORT), then the data; refusing its ECHO is the only answer; then
// 9600,N,8,1, DTR and RTS on, as the window asks before opening. Every test of
// COM-PORT starts with it.
void agree(ScriptedServer &server, Client &c)
{
    c.comm.setOutput("AT\xff\r");
    server.hears(offer + "AT\xff\xff\r");
    server.say(QByteArray::fromHex("fffb03fffd03fffb01fffe01fffd00fffb00fffd2c"));
    server.hears("AT\xff\xff\r\xff\xfe\x01" + sub(1, "\0\0\x25\x80"_qba) + sub(2, "\x08")
                         + sub(3, "\x01") + sub(4, "\x01") + sub(5, "\x08") + sub(5, "\x0b"));
}

} // namespace

class TestNetworkComm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // COM-PORT switched off and on: acknowledged, but the settings go out no second time.
    void comPortAgreedAgainSendsNoSettings()
    {
        ScriptedServer server;
        Client c(server.url());
        agree(server, c);
        server.say(QByteArray::fromHex("fffe2cfffd2c").repeated(50));
        c.comm.setDTREnable(false);
        server.hears(sub(5, "\x09"));
        QCOMPARE(server.heard.count(sub(2, "\x08")), 1);
    }

    // A modem state of 0xFF split inside its escape, around escaped data; a
    // no-op, an option nobody agreed and a line state carry nothing.
    void dataAndModemStateAreUnescaped()
    {
        ScriptedServer server;
        Client c(server.url());
        agree(server, c);
        const QByteArray state = sub(107, "\xff\xff");
        server.say("A\xff\xff" + state.left(5));
        QTRY_COMPARE(c.received, "A\xff"_qba);
        server.say(state.mid(5) + "B\xff\xf1" + "C\xff\xfa\x63\x01\x02\xff\xf0" + "D" + sub(106, "`"));
        QTRY_COMPARE(c.received, "A\xff" "BCD"_qba);
        std::sort(c.lineEvents.begin(), c.lineEvents.end());
        QCOMPARE(c.lineEvents, (QList<int>{CommControl::comEvCTS, CommControl::comEvDSR, CommControl::comEvCD}));
    }

    // The server going away is told once, and nothing spins.
    void serverGoingAwayIsToldOnce()
    {
        ScriptedServer server;
        Client c(server.url());
        agree(server, c);
        server.client->close();
        QTRY_COMPARE(c.failures.size(), 1);
        QCOMPARE(c.failures[0].number(), int(CommError::DeviceLost));
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(500) < 200);
        QCOMPARE(c.failures.size(), 1);
    }

    // Speed, framing and flow control go to the server once it agreed to
    // COM-PORT, before the data written meanwhile, and so does flow control
    // changed while connected. Under RTS/CTS RTS is the server's to drive: no
    // switch of it goes out.
    void lineAndFlowControlGoToTheServer()
    {
        ScriptedServer server;
        Client c(server.url(), "38400,E,7,1");
        c.comm.setHandshaking(CommControl::comRTS);
        c.comm.setOutput("AT\r");
        server.hears(offer);
        server.say(QByteArray::fromHex("fffd2c"));
        server.hears("AT\r");
        c.comm.setRTSEnable(false);
        c.comm.setHandshaking(CommControl::comXOnXoff);
        const QByteArray xonxoffAndRtsOff = sub(5, "\x02") + sub(5, "\x0c");
        server.hears(xonxoffAndRtsOff);
        QCOMPARE(server.heard, offer + sub(1, "\0\0\x96\0"_qba) + sub(2, "\x07") + sub(3, "\x03")
                                   + sub(4, "\x01") + sub(5, "\x03") + sub(5, "\x08") + sub(11, "\xbb") + "AT\r" + xonxoffAndRtsOff);
    }

    // Without COM-PORT (refused, never answered, or a plain socket with no
    // Telnet at all) only bytes pass, also when a line was asked for (then a
    // little later): a modem state is ignored, and a line switch is
    // remembered and changes nothing on the wire.
    void withoutComPortOnlyBytesPass_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QByteArray>("greeting");
        const QByteArray stateAndData = sub(107, "\xb0") + "x"; // every greeting ends in the only data byte
        QTest::newRow("refused") << "rfc2217" << "\xff\xfe\x2c" + stateAndData;
        QTest::newRow("never answered") << "rfc2217" << "x"_qba;
        QTest::newRow("plain socket") << "socket" << "\xff\xfd\x2c" + stateAndData;
    }

    void withoutComPortOnlyBytesPass()
    {
        QFETCH(QString, scheme);
        QFETCH(QByteArray, greeting);
        ScriptedServer server;
        Client c(server.url(scheme), "38400,E,7,1");
        c.comm.setOutput("AT\xff\r");
        server.hears("AT");
        server.say(greeting);
        QTRY_COMPARE(c.received, scheme == "socket" ? greeting : "x"_qba); // a plain socket passes the whole greeting
        c.comm.setDTREnable(false);
        c.comm.setOutput("!");
        server.hears("!");
        if (scheme == "socket")
            QCOMPARE(server.heard, "AT\xff\r!"_qba); // no Telnet at all
        else
            QVERIFY(server.heard.contains("AT\xff\xff\r!"));
        QCOMPARE(c.comm.DTREnable(), false);
        QCOMPARE(c.lineEvents, QList<int>());
    }

    // What the server sent just before it closed is still received, also
    // while a handler of the earlier bytes runs the event loop (as a message
    // box does).
    void bytesSentWithTheCloseAreReceived()
    {
        ScriptedServer server;
        Client c(server.url());
        c.comm.setOutput("ATH\r");
        server.hears("ATH");
        bool busy = false;
        QObject::connect(&c.comm, &CommControl::OnComm, &c.comm, [&] {
            if (std::exchange(busy, true))
                return;
            server.say("NO CARRIER\r\n");
            server.client->close();
            (void)QTest::qWaitFor([&] { return !c.comm.PortOpen(); });
        });
        server.say("ATH\r\n");
        QTRY_COMPARE(c.failures.size(), 1);
        QCOMPARE(c.received, "ATH\r\nNO CARRIER\r\n"_qba);
    }

    // A server that sends without end and takes nothing: past the limit a
    // typed line is refused, then the port is lost.
    void serverTakingNothingIsDropped()
    {
        ScriptedServer server;
        Client c(server.url());
        server.hears("\xff\xfb\x2c");
        server.client->setReadBufferSize(1);
        server.say(QByteArray::fromHex("fffb01fffd01").repeated(4 << 20)); // each refused, with an answer
        QTRY_COMPARE_WITH_TIMEOUT(thrownNumber([&] { c.comm.setOutput("AT\r"); }), int(CommError::WriteFailed), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(c.failures.value(0).number(), int(CommError::DeviceLost),
                                  NetworkComm::StallTimeoutMs + 5000);
    }

    // A loopback port whose queue is full, so that the handshake never
    // completes, and a closed one that refuses: reported later, as not found.
    void failedConnectionsReportPortNotFound_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("never accepted") << true;
        QTest::newRow("refused") << false;
    }

    void failedConnectionsReportPortNotFound()
    {
        QFETCH(bool, listening);
        QTcpServer server;
        server.setListenBacklogSize(0);
        QVERIFY(server.listen(QHostAddress::LocalHost));
        server.pauseAccepting();
        QTcpSocket queued[2];
        for (QTcpSocket &socket : queued)
            socket.connectToHost(QHostAddress::LocalHost, server.serverPort());
        const QString url = u"rfc2217://127.0.0.1:%1"_qs.arg(server.serverPort());
        if (!listening)
            server.close();
        Client c(url);
        QCOMPARE(c.comm.PortOpen(), true); // at once, whatever the outcome
        QTRY_COMPARE_WITH_TIMEOUT(c.failures.size(), 1, NetworkComm::ConnectTimeoutMs + 5000);
        QCOMPARE(c.failures[0].number(), int(CommError::PortNotFound));
        QCOMPARE(c.failures[0].detail().section(u' ', 0, 0), url + u':');
    }
};

QTEST_GUILESS_MAIN(TestNetworkComm)
#include "tst_networkcomm.moc"
