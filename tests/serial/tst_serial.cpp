// SPDX-License-Identifier: MIT
#include "commerror.h"
#include "fakecomm.h"
#include "linesettings.h"
#include "modemlines.h"
#include "portnaming.h"
#include "portrouter.h"
#include "ptyio.h"
#include "serialportcomm.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <grp.h>
#include <filesystem>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

// Checks that `operation` throws the CommError numbered `error`.
#define COMPARE_THROWN(operation, error) QCOMPARE(thrownNumber([&] { operation; }), int(CommError::error))
// Checks `text.check`, showing the text when it fails.
#define VERIFY_TEXT(text, check) QVERIFY2(text.check, qPrintable(text))
// Fetches the row of textRows().
#define FETCH_TEXT_ROW QFETCH(QString, text); QFETCH(QString, expected)

namespace {

// The number and detail of what opening `device` with a SerialPortComm throws
// in a child process, as in another program, run as user and group `id` when
// given (not 0): number 0 when it opened, -1 when the child could not take the id.
CommError openInChild(const QString &device, uid_t id = 0)
{
    QTemporaryFile report;
    report.open();
    if (!::fork()) {
        try {
            if (id && (::setgroups(0, nullptr) || ::setgid(id) || ::setuid(id)))
                throw CommError(-1, {});
            SerialPortComm(device).setPortOpen(true);
            throw CommError();
        } catch (const CommError &e) {
            QDataStream(&report) << e.number() << e.detail();
        }
        report.flush();
        ::_exit(0);
    }
    ::wait(nullptr);
    report.seek(0);
    int number;
    QString detail;
    QDataStream(&report) >> number >> detail;
    return {number, {}, detail};
}

// Entries in a folder of /proc/self: the process's threads, its open files.
qsizetype entries(const char *folder)
{
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

// Rows of a text and what is expected of it, each named by its text.
void textRows(std::initializer_list<std::pair<QString, QString>> rows)
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    for (const auto &[text, expected] : rows)
        QTest::newRow(qPrintable(text)) << text << expected;
}

// A pseudo-terminal, open.
struct Pty : PseudoTerminal
{
    Pty() { QTEST_ASSERT(open()); }
};

// Where the shim linked into this test keeps the modem lines it answers with.
const QTemporaryDir shimDir;

// A pseudo-terminal given modem lines by the shim, the port open on it, and
// the line events it raised.
struct LinedPort : Pty
{
    explicit LinedPort(uint32_t refuse = 0)
    {
        lines.state().refuse = refuse;
        QObject::connect(&*comm, &CommControl::OnComm, [this] { events += comm->CommEvent(); });
        comm->setPortOpen(true);
    }
    ModemLines lines{shimDir.path().toStdString(), terminalFd()};
    std::optional<SerialPortComm> comm{path()};
    QList<int> events;
};

} // namespace

// The serial layer: line settings, the port router, and the Qt Serial Port
// back end on pseudo-terminals, how it works and how it fails.
class TestSerial : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(shimDir.isValid());
        qputenv("MODEMTERM_LINESHIM_DIR", QFile::encodeName(shimDir.path()));
    }

    // Each text is read and spelt back canonically.
    void parseSpellsBack_data()
    {
        textRows({{" 19200 , e , 7 , 2 ", "19200,E,7,2"}, {"300,O,5,1.5", "300,O,5,1.5"}, {"50,M,6,1", "50,M,6,1"},
                  {"4000000,S,8,2", "4000000,S,8,2"}});
    }

    void parseSpellsBack()
    {
        FETCH_TEXT_ROW;
        QCOMPARE(LineSettings::parse(text).toString(), expected);
    }

    // A text that is not line settings is refused with a complaint about the field at fault.
    void parseNamesTheFieldAtFault_data()
    {
        textRows({{"49,N,8,1", "prędkość"}, {"9600,None,8,1", "parzystość"}, {"9600,N,8,2.5", "bitów stopu"},
                  {"9600,N,8", "czterech pól"}, {"9600,N,8,1,", "czterech pól"}});
    }

    void parseNamesTheFieldAtFault()
    {
        FETCH_TEXT_ROW; // expected: the field at fault
        try {
            LineSettings::parse(text);
            QFAIL("accepted");
        } catch (const CommError &e) {
            VERIFY_TEXT(e.description(), contains(expected));
            VERIFY_TEXT(e.detail(), contains(u'"' + text + u'"'));
        }
    }

    // Port numbers name devices by the usual naming.
    void portNumbersNameDevices()
    {
        PortRouter router;
        QCOMPARE(router.deviceName(2), "/dev/ttyS1");
        COMPARE_THROWN(router.setCommPort(0), PortNotFound);
    }

    // COMn names the usual device; what only looks like it is a device's own name.
    void systemDeviceNames_data()
    {
        textRows({{"com12", "/dev/ttyS11"}, {"COM0", "COM0"}, {"COM3x", "COM3x"}});
    }

    void systemDeviceNames()
    {
        FETCH_TEXT_ROW;
        QCOMPARE(PortNaming::systemDeviceName(text), expected);
    }

    // A special name builds its back end with what was set while closed. What
    // the back end refuses while open is not kept; once failed, it is
    // disposed of, and what was set is kept for the next opening.
    void routerDrivesItsBackEnd()
    {
        PortRouter router;
        router.bindPort(1, "sim");
        QPointer<FakeComm> fake;
        router.registerDevice("sim", [&](QObject *parent) { return fake = new FakeComm(parent); });
        router.setSettings("2400,E,7,1");
        router.setRThreshold(1);
        router.setRTSEnable(false);
        router.setPortOpen(true);
        COMPARE_THROWN(router.setCommPort(2), PortAlreadyOpen);
        QCOMPARE(fake->openings, QStringList{"COM1 2400,E,7,1 RThreshold=1 DTR=1 RTS=0"});
        router.setSettings("4800,N,8,1");
        fake->failOn(FakeComm::SetSettings, CommError(CommError::SettingsRejected)); // kept out of the next opening
        COMPARE_THROWN(router.setSettings("300,N,8,1"), SettingsRejected);
        router.setDTREnable(false);
        router.setRTSEnable(true);
        QCOMPARE(fake->RTSEnable(), true);
        fake->fail(CommError(CommError::DeviceLost));
        QTRY_VERIFY(!fake);
        router.setPortOpen(true);
        QCOMPARE(fake->openings, QStringList{"COM1 4800,N,8,1 RThreshold=1 DTR=0 RTS=1"});
    }

    // With a send threshold, the port says when what it was given has gone out.
    void writtenOutputRaisesTheSendEvent()
    {
        Pty pty;
        SerialPortComm comm(pty.path());
        comm.setPortOpen(true);
        comm.setSThreshold(1);
        comm.setOutput(QByteArray(4096, 'x'));
        QTRY_COMPARE(comm.CommEvent(), int(CommControl::comEvSend));
    }

    // A refused setting changes nothing; with no threshold, input waits to be
    // asked for; with no modem lines to watch, the port sits idle.
    void pseudoTerminalPortFromOpeningToHangUp()
    {
        Pty pty;
        SerialPortComm comm(pty.path());
        COMPARE_THROWN(comm.Input(), PortNotOpen);
        COMPARE_THROWN(comm.setRThreshold(-1), InvalidPropertyValue);
        // A pseudo-terminal insists on 8 data bits without parity: Qt sees the refusal.
        comm.setSettings("9600,E,7,1");
        COMPARE_THROWN(comm.setPortOpen(true), SettingsRejected);
        comm.setSettings("57600,N,8,1");
        QSignalSpy failed(&comm, &CommControl::PortFailed), events(&comm, &CommControl::OnComm);
        comm.setPortOpen(true);
        COMPARE_THROWN(comm.setPortOpen(true), PortAlreadyOpen);
        COMPARE_THROWN(comm.setSettings("9600,E,7,1"), SettingsRejected);
        QCOMPARE(comm.Settings(), "57600,N,8,1");
        QCOMPARE(PtyIo::lineAttributes(pty), "57600 cs8 -parenb -cstopb -crtscts -ixon -ixoff");

        QByteArray received;
        QVERIFY(PtyIo::write(pty, "quiet"));
        QTRY_COMPARE((received += comm.Input()), "quiet"_qba);
        QCOMPARE(comm.linesPolled(), false);
        QCOMPARE(comm.CDHolding(), false);
        QCOMPARE(events.size(), 0);

        // The far end hangs up: the port closes, and it is told in one
        // wording whatever errno Qt happened to keep.
        pty.closeMaster();
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(failed[0][0].value<CommError>().detail(), pty.path() + ": połączenie zerwane");
    }

    // A name with no serial port behind it: 8002, naming it and why.
    void noSerialPortThere_data()
    {
        // Not a terminal, a folder, a terminal that is no port, a name too long.
        textRows({{"/dev/null", ""}, {"/", "katalog"}, {"/dev/ptmx", "nie jest port szeregowy"}});
        QTest::newRow("name too long") << "/dev/" + QString(5000, u'x') << "za długa";
    }

    void noSerialPortThere()
    {
        FETCH_TEXT_ROW; // the device and the cause
        const CommError e = openInChild(text);
        QCOMPARE(e.number(), int(CommError::PortNotFound));
        VERIFY_TEXT(e.detail(), startsWith(text.left(60)));
        VERIFY_TEXT(e.detail(), contains(expected));
        QCOMPARE_LT(e.detail().size(), 200);
    }

    // Another program is told who holds the device, also through a link: a
    // link and its device share one lock.
    void heldDeviceNamesItsHolder()
    {
        Pty pty;
        QTemporaryDir dir;
        const QString link = dir.filePath("modem");
        QVERIFY(QFile::link(pty.path(), link));
        SerialPortComm comm(link);
        comm.setPortOpen(true);
        const CommError e = openInChild(link);
        QCOMPARE(e.number(), int(CommError::PortInUse));
        VERIFY_TEXT(e.detail(), contains(u"LCK..pts_%1; używa go proces %2"_qs.arg(pty.path().section(u'/', -1)).arg(::getpid())));
    }

    // A live holder's lock file counts in each common form; a dead holder's
    // does not, and one that names nobody yet is not blamed on a program that
    // merely has the device open.
    void lockFiles_data()
    {
        QTest::addColumn<bool>("byNumber");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("blamed");
        const pid_t pid = ::getpid();
        QTest::newRow("empty") << false << ""_qba << false;
        QTest::newRow("binary pid") << false << QByteArray(reinterpret_cast<const char *>(&pid), 4) << true;
        QTest::newRow("text pid, by device number") << true << QByteArray::number(pid).rightJustified(10) + '\n' << true;
        QTest::newRow("dead pid") << false << "2147483647\n"_qba << false;
    }

    void lockFiles()
    {
        QFETCH(bool, byNumber);
        QFETCH(QByteArray, contents);
        QFETCH(bool, blamed);
        Pty pty;
        struct stat st{};
        ::fstat(pty.terminalFd(), &st);
        QFile lock(byNumber ? QString::asprintf("/var/lock/LK.%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev),
                                                minor(st.st_rdev))
                            : "/var/lock/LCK..pts_" + pty.path().section(u'/', -1));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(contents);
        lock.close();
        const CommError e = openInChild(pty.path());
        lock.remove();
        QCOMPARE(e.detail().contains("używa go proces"), blamed);
    }

    // As root, the refusals an ordinary user meets, in a child that takes a
    // user and group no one else has (nobody's); the advice fits the device:
    // its own group, or that only root may open it.
    void ordinaryUserIsRefused_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("advice");
        QTest::newRow("root's only") << 0600 << int(CommError::PermissionDenied) << "tylko root";
        QTest::newRow("group tty") << 0660 << int(CommError::PermissionDenied) << "do grupy tty";
        QTest::newRow("held exclusively") << 0666 << int(CommError::PortInUse) << QString();
    }

    void ordinaryUserIsRefused()
    {
        QFETCH(int, mode);
        QFETCH(int, number);
        QFETCH(QString, advice);
        if (::geteuid() != 0)
            QSKIP("only root can act as another user here; as an ordinary user the refusals are real ones");
        Pty pty;
        QCOMPARE(::fchown(pty.terminalFd(), 0, ::getgrnam("tty")->gr_gid), 0);
        QCOMPARE(::fchmod(pty.terminalFd(), mode_t(mode)), 0);
        QCOMPARE(::ioctl(pty.terminalFd(), TIOCEXCL), 0); // as by a program keeping no lock file
        const CommError e = openInChild(pty.path(), 65534);
        if (e.number() == -1)
            QSKIP("this root may not switch to another user (a container without CAP_SETUID)");
        QCOMPARE(e.number(), number);
        VERIFY_TEXT(e.detail(), contains(advice));
    }

    // Using a port and failing to open another leaves no descriptor or back
    // end behind.
    void switchingPortsLeaksNoFileDescriptor()
    {
        Pty pty;
        PortRouter router;
        router.bindPort(2, pty.path());
        router.bindPort(3, "/dev/ttyS_modemterm_missing");
        const auto cycle = [&] {
            router.setCommPort(2);
            router.setPortOpen(true);
            router.setOutput("x");
            router.setPortOpen(false);
            router.setCommPort(3);
            COMPARE_THROWN(router.setPortOpen(true), PortNotFound);
        };
        cycle(); // whatever Qt opens once and keeps is not a leak
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const qsizetype descriptors = entries("/proc/self/fd");
        for (int i = 0; i < 100 && !QTest::currentTestFailed(); ++i)
            cycle();
        QCOMPARE(entries("/proc/self/fd"), descriptors);
        QTRY_VERIFY(router.findChildren<CommControl *>().isEmpty());
    }

    // Changes coming faster than the waiting thread looks, a pulse that is
    // over before anyone reads the line among them, are each reported.
    void changesBetweenWaitsAreNotLost()
    {
        LinedPort port;
        QCOMPARE(port.comm->linesPolled(), false); // waited for, not also polled
        port.lines.set(TIOCM_CTS, true);
        port.lines.set(TIOCM_DSR, true);
        port.lines.pulse(TIOCM_CAR);
        QTRY_COMPARE(QSet<int>(port.events.cbegin(), port.events.cend()),
                     (QSet<int>{CommControl::comEvCTS, CommControl::comEvDSR, CommControl::comEvCD}));
        QVERIFY(port.comm->DSRHolding());
        QVERIFY(!port.comm->CDHolding());
    }

    // Closing the port, or dropping it, ends the waiting thread before it
    // returns, whether the thread is asleep in the driver yet or not.
    void closingEndsLineWaiting_data()
    {
        QTest::addColumn<bool>("asleep");
        QTest::addColumn<bool>("destroy");
        QTest::newRow("closed while asleep") << true << false;
        QTest::newRow("closed at once") << false << false;
        QTest::newRow("destroyed while asleep") << true << true;
    }
    void closingEndsLineWaiting()
    {
        QFETCH(bool, asleep);
        QFETCH(bool, destroy);
        const qsizetype before = entries("/proc/self/task"), descriptors = entries("/proc/self/fd");
        LinedPort port;
        if (asleep)
            QTRY_COMPARE(port.lines.state().waiting.load(), 1u);
        if (destroy)
            port.comm.reset();
        else
            port.comm->setPortOpen(false);
        QCOMPARE(entries("/proc/self/task"), before);
        QCOMPARE(port.lines.state().waiting.load(), 0u);
        QCOMPARE(entries("/proc/self/fd"), descriptors + 2); // the pseudo-terminal's own
    }

    // A device that vanishes while its lines are waited for is reported
    // once (as closed), and the thread ends.
    void vanishedDeviceEndsLineWaiting()
    {
        const qsizetype before = entries("/proc/self/task");
        LinedPort port;
        QSignalSpy failed(&*port.comm, &CommControl::PortFailed);
        QTRY_COMPARE(port.lines.state().waiting.load(), 1u);
        port.lines.vanish();
        QTRY_COMPARE(failed.size(), 1);
        QCOMPARE(entries("/proc/self/task"), before);
    }

    // Where the lines cannot be waited for, they are read at most 20 times a
    // second, and a change still raises its event.
    void refusedWaitingPollsGently_data()
    {
        QTest::addColumn<uint32_t>("refuse");
        QTest::newRow("no waiting") << 1u;
        QTest::newRow("no counting") << 2u;
    }
    void refusedWaitingPollsGently()
    {
        QFETCH(uint32_t, refuse);
        LinedPort port(refuse);
        QTRY_VERIFY(port.comm->linesPolled()); // a refusal may be found on the waiting thread
        const uint32_t first = port.lines.state().reads;
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY(port.lines.state().reads >= first + 6);
        QCOMPARE_GE(clock.elapsed(), 225); // five times 50 ms, less 10 %: timers may fire 5 % early
        port.lines.set(TIOCM_CAR, true);
        QTRY_COMPARE(port.events, QList<int>{CommControl::comEvCD});
    }
};

QTEST_GUILESS_MAIN(TestSerial)
#include "tst_serial.moc"
