#include "commtesting.h"
#include "hayesmodem.h"
#include "simulatedcomm.h"

#include <QTest>

namespace {

// Records the code of every OnComm and gathers what Input() hands out.
struct Listener
{
    CommControl &comm;
    QList<int> codes;
    QByteArray received;
    int receiveEvents = 0;

    explicit Listener(CommControl &c)
        : comm(c)
    {
        QObject::connect(&comm, &CommControl::OnComm, &comm, [this] {
            codes << comm.CommEvent();
            if (comm.CommEvent() == CommControl::comEvReceive) {
                ++receiveEvents;
                received += comm.Input();
            }
        });
    }
};

void open(SimulatedComm &comm)
{
    comm.modem()->setTimeScale(0.0);
    comm.setRThreshold(1);
    comm.setDTREnable(true);
    comm.setRTSEnable(true);
    comm.setPortOpen(true);
}

} // namespace

class TestSimulatedComm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void closedPortBehavesLikeAPort();
    void lineChangesRaiseEventsLater_data();
    void lineChangesRaiseEventsLater();
    void receiveEventsFollowTheThreshold();
    void callMovesCarrierDetectAtTheLineSpeed();
    void closingHangsUp();
};

void TestSimulatedComm::closedPortBehavesLikeAPort()
{
    SimulatedComm comm;
    QVERIFY(!comm.PortOpen());
    QCOMPARE(thrownNumber([&] { comm.setOutput("AT\r"); }), int(CommError::PortNotOpen));
    QCOMPARE(thrownNumber([&] { comm.Input(); }), int(CommError::PortNotOpen));
    QCOMPARE(thrownNumber([&] { comm.setPortOpen(false); }), 0);
    comm.setDTREnable(true); // remembered while closed
    QVERIFY(comm.DTREnable());
    QVERIFY(!comm.DSRHolding() && !comm.CTSHolding() && !comm.CDHolding());

    comm.setPortOpen(true);
    QCOMPARE(thrownNumber([&] { comm.setPortOpen(true); }), int(CommError::PortAlreadyOpen));
    QCOMPARE(thrownNumber([&] { comm.setCommPort(3); }), int(CommError::PortAlreadyOpen));
    QCOMPARE(thrownNumber([&] { comm.setSettings("fast"); }), int(CommError::InvalidPropertyValue));
    QCOMPARE(comm.Settings(), QStringLiteral("9600,N,8,1"));
}

void TestSimulatedComm::lineChangesRaiseEventsLater_data()
{
    QTest::addColumn<bool>("dtr");
    QTest::addColumn<int>("code");
    QTest::newRow("DTR moves DSR") << true << int(CommControl::comEvDSR);
    QTest::newRow("RTS moves CTS") << false << int(CommControl::comEvCTS);
}

void TestSimulatedComm::lineChangesRaiseEventsLater()
{
    QFETCH(bool, dtr);
    QFETCH(int, code);
    SimulatedComm comm;
    Listener listener(comm);
    open(comm);
    QVERIFY(comm.DSRHolding() && comm.CTSHolding() && !comm.CDHolding());
    QTRY_COMPARE(listener.codes.size(), 2);
    QVERIFY(listener.codes.contains(CommControl::comEvDSR) && listener.codes.contains(CommControl::comEvCTS));
    listener.codes.clear();
    const auto set = [&](bool on) { dtr ? comm.setDTREnable(on) : comm.setRTSEnable(on); };
    const auto holding = [&] { return dtr ? comm.DSRHolding() : comm.CTSHolding(); };

    set(false);
    QVERIFY(!holding()); // the line follows at once...
    QVERIFY(listener.codes.isEmpty()); // ...but the event never runs inside the setter
    QTRY_COMPARE(listener.codes, QList<int>{code});
    set(true);
    QVERIFY(holding());
    QTRY_COMPARE(listener.codes, (QList<int>{code, code}));
}

void TestSimulatedComm::receiveEventsFollowTheThreshold()
{
    SimulatedComm comm;
    open(comm);
    Listener listener(comm);
    comm.setOutput("ATI3\r");
    QVERIFY(listener.codes.isEmpty()); // never raised inside the setter
    QTRY_VERIFY(listener.received.endsWith("\r\nOK\r\n"));
    QVERIFY(listener.received.startsWith("ATI3\r\r\nModemterm"));
    QVERIFY2(listener.receiveEvents > 1, QByteArray::number(listener.receiveEvents)); // paced, in pieces
    QCOMPARE(comm.Input(), QByteArray());

    comm.setRThreshold(0);
    comm.modem()->setPacing(false);
    const int events = listener.receiveEvents;
    comm.setOutput("AT\r");
    QByteArray got;
    QTRY_VERIFY((got += comm.Input()).endsWith("OK\r\n"));
    QCOMPARE(listener.receiveEvents, events);
    // Raising the threshold announces bytes that already wait.
    listener.received.clear();
    comm.setOutput("AT\r");
    comm.setRThreshold(1);
    QTRY_COMPARE(listener.received, QByteArray("AT\r\r\nOK\r\n"));
}

void TestSimulatedComm::callMovesCarrierDetectAtTheLineSpeed()
{
    SimulatedComm comm;
    comm.setSettings("2400,N,8,1");
    open(comm);
    comm.setSettings("19200,E,7,1"); // applied at once while open
    Listener listener(comm);
    comm.setOutput("ATD123\r");
    QTRY_VERIFY(listener.codes.contains(CommControl::comEvCD));
    QVERIFY(comm.CDHolding());
    QTRY_VERIFY(listener.received.contains("CONNECT 19200\r\nWelcome"));

    listener.codes.clear();
    comm.setDTREnable(false); // &D2: the modem hangs up
    QVERIFY(!comm.CDHolding() && !comm.DSRHolding());
    QTRY_COMPARE(listener.codes.count(CommControl::comEvCD), 1);
    QCOMPARE(listener.codes.count(CommControl::comEvDSR), 1);
    QTRY_VERIFY(listener.received.endsWith("NO CARRIER\r\n"));
}

void TestSimulatedComm::closingHangsUp()
{
    SimulatedComm comm;
    open(comm);
    comm.modem()->setPacing(false);
    comm.setOutput("ATD123\r");
    QTRY_VERIFY(comm.CDHolding());
    comm.setPortOpen(false);
    QVERIFY(!comm.modem()->carrier() && !comm.CDHolding());

    Listener listener(comm);
    comm.setPortOpen(true);
    QVERIFY(!comm.CDHolding() && comm.DSRHolding()); // DTR is remembered and raised again
    // What the modem said while the port was closed is gone.
    QCOMPARE(comm.Input(), QByteArray());
    comm.setOutput("AT\r");
    QTRY_COMPARE(listener.received, QByteArray("AT\r\r\nOK\r\n"));
}

QTEST_GUILESS_MAIN(TestSimulatedComm)
#include "tst_simulatedcomm.moc"
