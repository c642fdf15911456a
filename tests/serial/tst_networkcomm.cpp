// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "networkcomm.h"
#include "processusage.h"
#include "telnetcodec.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray telnet(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}
// A COM-PORT subnegotiation as the wire carries it.
QByteArray sub(int code, std::initializer_list<int> value)
{
    return telnet({255, 250, 44, code}) + telnet(value) + telnet({255, 240});
}
const QByteArray DoComPort = telnet({255, 253, 44});
const QByteArray DontComPort = telnet({255, 254, 44});

// A server the test scripts: one client, every byte it sent kept.
struct ScriptedServer
{
    QTcpServer server;
    QPointer<QTcpSocket> client;
    QByteArray heard;

    ScriptedServer()
    {
        server.listen(QHostAddress::LocalHost);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            client = server.nextPendingConnection();
            QObject::connect(client, &QTcpSocket::readyRead, &server, [this] { heard += client->readAll(); });
        });
    }
    QString url(const QString &scheme) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(scheme).arg(server.serverPort());
    }
    bool hears(const QByteArray &bytes) { return QTest::qWaitFor([&] { return heard.contains(bytes); }, 5000); }
    bool say(const QByteArray &bytes)
    {
        return QTest::qWaitFor([&] { return client; }, 5000) && client->write(bytes) == bytes.size();
    }
};

// The control under test, gathering what it receives and the line events it raises.
struct Client
{
    NetworkComm comm;
    QByteArray received;
    QList<int> lineEvents;
    QSignalSpy failed{&comm, &CommControl::PortFailed};

    explicit Client(const QString &url)
        : comm(*NetworkAddress::parse(url))
    {
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this] {
            if (comm.CommEvent() == CommControl::comEvReceive)
                received += comm.Input();
            else
                lineEvents << comm.CommEvent();
        });
        comm.setRThreshold(1);
    }
    bool lines() const { return comm.CDHolding() || comm.CTSHolding() || comm.DSRHolding(); }
};

} // namespace

class tst_NetworkComm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void codecReassemblesWhateverTheSplit_data()
    {
        QTest::addColumn<int>("chunk");
        QTest::newRow("whole") << 1000;
        QTest::newRow("byte by byte") << 1;
        QTest::newRow("in threes") << 3;
    }

    void codecReassemblesWhateverTheSplit()
    {
        QFETCH(int, chunk);
        // A greeting as ser2net sends it (with an ECHO we refuse), then data
        // with escaped 0xFF around a modem state whose value is 0xFF itself,
        // a no-op, a subnegotiation of an option nobody agreed and a line state.
        const QByteArray server = telnet({255, 251, 3, 255, 253, 3, 255, 251, 1, 255, 254, 1, 255, 253, 0,
                                          255, 251, 0, 255, 253, 44})
                                  + "A" + telnet({255, 255}) + "B" + sub(107, {255, 255}) + telnet({255, 241})
                                  + "C" + telnet({255, 250, 99, 1, 2, 255, 240}) + "D" + sub(106, {0x60});
        TelnetCodec codec(TelnetCodec::Role::Client);
        codec.start();
        QByteArray data;
        QByteArray reply;
        for (qsizetype at = 0; at < server.size(); at += chunk)
            codec.decode(QByteArrayView(server).sliced(at, qMin<qsizetype>(chunk, server.size() - at)), data, reply);
        QCOMPARE(data, QByteArray("A\xff" "BCD"));
        QCOMPARE(reply, telnet({255, 254, 1})); // DONT ECHO, and nothing answered twice
        QCOMPARE(codec.comPort(), TelnetCodec::ComPort::Agreed);
        const QList<TelnetCodec::Event> events = codec.takeEvents();
        QCOMPARE(events.size(), 3);
        QCOMPARE(events[0].kind, TelnetCodec::Event::Kind::ComPortAgreed);
        QCOMPARE(events[1].command, quint8(TelnetCodec::NotifyModemState));
        QCOMPARE(events[1].value, QByteArray("\xff"));
        QCOMPARE(events[1].at, 3);
        QCOMPARE(events[2].command, quint8(TelnetCodec::NotifyLineState));
    }

    void linesFollowTheServer()
    {
        ScriptedServer server;
        Client c(server.url(QStringLiteral("rfc2217")));
        c.comm.setPortOpen(true);
        c.comm.setOutput("AT\xff\r"); // before the connection is even up
        QVERIFY(server.hears(QByteArray("AT\xff\xff\r")));
        QVERIFY(server.say(DoComPort));
        // 9600,N,8,1, DTR and RTS on, as the window asks before opening.
        QVERIFY(server.hears(sub(1, {0, 0, 0x25, 0x80}) + sub(2, {8}) + sub(3, {1}) + sub(4, {1})
                             + sub(5, {8}) + sub(5, {11})));
        QVERIFY(!c.lines());

        // CD, DSR and CTS come on, in a report that may arrive in pieces.
        const QByteArray state = sub(107, {0xB0});
        QVERIFY(server.say(state.left(5)));
        QVERIFY(server.say(state.mid(5) + "OK\xff\xff\r\n"));
        QTRY_COMPARE(c.received, QByteArray("OK\xff\r\n"));
        QVERIFY(c.comm.CDHolding() && c.comm.CTSHolding() && c.comm.DSRHolding());
        std::sort(c.lineEvents.begin(), c.lineEvents.end());
        QCOMPARE(c.lineEvents, (QList<int>{CommControl::comEvCTS, CommControl::comEvDSR, CommControl::comEvCD}));

        c.comm.setDTREnable(false);
        QVERIFY(server.hears(sub(5, {9})));
        c.comm.setSettings(QStringLiteral("2400,E,7,2"));
        QVERIFY(server.hears(sub(1, {0, 0, 0x09, 0x60}) + sub(2, {7}) + sub(3, {3}) + sub(4, {2})));
        QVERIFY(server.say(sub(107, {0x10})));
        QTRY_VERIFY(!c.comm.CDHolding() && !c.comm.DSRHolding() && c.comm.CTSHolding());

        // The server going away: the port closes, told once, and nothing spins.
        server.client->close();
        QTRY_COMPARE(c.failed.size(), 1);
        const auto error = c.failed.first().first().value<CommError>();
        QCOMPARE(error.number(), int(CommError::DeviceLost));
        QVERIFY2(error.detail().startsWith(server.url(QStringLiteral("rfc2217")) + ": "), qPrintable(error.detail()));
        QVERIFY(!c.comm.PortOpen() && !c.lines());
        QVERIFY(ProcessUsage::cpuMsWhileEventLoopRuns(500) < 200);
        QCOMPARE(c.failed.size(), 1);
    }

    void withoutComPortOnlyBytesPass_data()
    {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("shown");
        QTest::newRow("COM-PORT refused") << "rfc2217" << DontComPort + sub(107, {0xB0}) + "x"
                                          << QByteArray("AT\xff\xff\r") << QByteArray("x");
        QTest::newRow("server never answers") << "rfc2217" << QByteArray("x") << QByteArray("AT\xff\xff\r")
                                              << QByteArray("x");
        QTest::newRow("plain TCP") << "socket" << DoComPort + sub(107, {0xB0}) << QByteArray("AT\xff\r")
                                   << DoComPort + sub(107, {0xB0});
    }

    void withoutComPortOnlyBytesPass()
    {
        QFETCH(QString, scheme);
        QFETCH(QByteArray, greeting);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, shown);
        ScriptedServer server;
        Client c(server.url(scheme));
        c.comm.setPortOpen(true);
        c.comm.setOutput("AT\xff\r");
        QVERIFY(server.say(greeting));
        QTRY_COMPARE(c.received, shown);
        QVERIFY(server.hears(sent));

        // A line switch is remembered and changes nothing on the wire.
        c.comm.setDTREnable(false);
        c.comm.setOutput("!");
        QVERIFY(server.hears("!"));
        QVERIFY(!c.comm.DTREnable() && !c.lines() && c.lineEvents.isEmpty());
        QVERIFY2(!server.heard.contains(telnet({255, 250, 44, 5})), server.heard.toHex(' '));
        if (scheme == QLatin1String("socket"))
            QCOMPARE(server.heard, QByteArray("AT\xff\r!"));
    }

    void failedConnectionsReportPortNotFound_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("refused") << false;
        QTest::newRow("no answer") << true;
    }

    void failedConnectionsReportPortNotFound()
    {
        QFETCH(bool, listening);
        // A loopback port that refuses, or one whose queue is full so that the
        // handshake never completes.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr *>(&addr), length) == 0);
        QVERIFY(::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length) == 0);
        std::vector<std::unique_ptr<QTcpSocket>> queued;
        if (listening) {
            QVERIFY(::listen(fd, 0) == 0);
            for (int i = 0; i < 2; ++i) {
                queued.push_back(std::make_unique<QTcpSocket>());
                queued.back()->connectToHost(QHostAddress::LocalHost, ntohs(addr.sin_port));
            }
        }
        const QString url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(ntohs(addr.sin_port));
        Client c(url);
        c.comm.setPortOpen(true);
        QVERIFY(c.comm.PortOpen()); // returns at once, whatever the outcome
        c.comm.setOutput("AT\r");
        QTRY_COMPARE_WITH_TIMEOUT(c.failed.size(), 1, NetworkComm::ConnectTimeoutMs + 5000);
        ::close(fd);
        const auto error = c.failed.first().first().value<CommError>();
        QCOMPARE(error.number(), int(CommError::PortNotFound));
        QVERIFY2(error.detail().startsWith(url + ": "), qPrintable(error.detail()));
        QVERIFY(!c.comm.PortOpen());
        QCOMPARE(thrownNumber([&] { c.comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(c.failed.size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_NetworkComm)
#include "tst_networkcomm.moc"
