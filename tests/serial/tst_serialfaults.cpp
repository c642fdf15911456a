#include "commtesting.h"
#include "portrouter.h"
#include "processusage.h"
#include "pseudoterminal.h"
#include "serialportcomm.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int CannotSwitchUser = -2;

struct Outcome
{
    int number = -1; // 0: opened
    QString description;
    QString detail;
};

// Opens `device` with a SerialPortComm in a child process running as uid:gid, as another program would.
Outcome openInChildProcess(const QString &device, uid_t uid, gid_t gid)
{
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A separate program holds none of our descriptors, the device among them.
        const int out = ::fcntl(channel[1], F_DUPFD, 512);
        ::close_range(3, unsigned(out) - 1, 0);
        const bool switchUser = uid != ::getuid() || gid != ::getgid();
        if (switchUser && (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            ::_exit(2);
        QByteArray report;
        {
            SerialPortComm comm(device);
            try {
                comm.setPortOpen(true);
                report = "0\n\n";
            } catch (const CommError &e) {
                report = QByteArray::number(e.number()) + '\n' + e.description().toUtf8() + '\n'
                         + e.detail().toUtf8();
            }
        }
        const ssize_t written = ::write(out, report.constData(), size_t(report.size()));
        ::_exit(written == report.size() ? 0 : 3);
    }
    ::close(channel[1]);
    QFile pipe;
    pipe.open(channel[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    const QByteArray report = pipe.readAll();
    pipe.close();
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        return {CannotSwitchUser, {}, {}};

    const QList<QByteArray> lines = report.split('\n');
    Outcome outcome;
    if (lines.size() >= 3) {
        outcome.number = lines[0].toInt();
        outcome.description = QString::fromUtf8(lines[1]);
        outcome.detail = QString::fromUtf8(lines.mid(2).join('\n'));
    }
    return outcome;
}

// Every 64 KiB of the stream differ, so a lost, doubled or reordered chunk shows.
inline char floodByte(qint64 position)
{
    return char(position ^ (position >> 8) ^ (position >> 16));
}

// Writes the endless stream into `fd` until killed.
[[noreturn]] void floodForever(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char chunk[16384];
    for (qint64 position = 0;; position += qint64(sizeof chunk)) {
        for (qsizetype i = 0; i < qsizetype(sizeof chunk); ++i)
            chunk[i] = floodByte(position + i);
        for (size_t done = 0; done < sizeof chunk;) {
            const ssize_t n = ::write(fd, chunk + done, sizeof chunk - done);
            if (n < 0 && errno != EINTR)
                ::_exit(1);
            done += size_t(std::max<ssize_t>(n, 0));
        }
    }
}

} // namespace

class tst_SerialFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void secondOpeningFindsDeviceInUse();
    void ordinaryUserIsRefused_data();
    void ordinaryUserIsRefused();
    void switchingPortsLeaksNoFileDescriptor();
    void farEndVanishingMidFlood();

private:
    QString m_userName;
    uid_t m_uid = 0; // 0: no ordinary user to act as
    gid_t m_gid = 0;
};

void tst_SerialFaults::initTestCase()
{
    // Root opens any device, so the permission faults need a throwaway user, or failing that an unused uid.
    if (::geteuid() != 0)
        return;
    m_userName = QStringLiteral("mtfault%1").arg(::getpid());
    const int added = QProcess::execute(QStringLiteral("useradd"),
                                        {QStringLiteral("--system"), QStringLiteral("--user-group"),
                                         QStringLiteral("--no-create-home"), QStringLiteral("--shell"),
                                         QStringLiteral("/usr/sbin/nologin"), m_userName});
    const passwd *pw = added == 0 ? ::getpwnam(m_userName.toLocal8Bit().constData()) : nullptr;
    if (!pw)
        m_userName.clear();
    m_uid = pw ? pw->pw_uid : 64999;
    m_gid = pw ? pw->pw_gid : 64999;
}

void tst_SerialFaults::cleanupTestCase()
{
    if (!m_userName.isEmpty())
        QProcess::execute(QStringLiteral("userdel"), {m_userName});
}

void tst_SerialFaults::secondOpeningFindsDeviceInUse()
{
    PseudoTerminal pty;
    ::chmod(pty.slavePath().toLocal8Bit().constData(), 0666);
    SerialPortComm first(pty.slavePath());
    first.setRThreshold(1);
    first.setPortOpen(true);
    const QString holder = QStringLiteral("proces %1").arg(::getpid()); // named by the lock file

    SerialPortComm second(pty.slavePath());
    try {
        second.setPortOpen(true);
        QFAIL("a device already in use opened twice");
    } catch (const CommError &e) {
        QCOMPARE(e.number(), int(CommError::PortInUse));
        QVERIFY(e.description().contains(QStringLiteral("zajęty przez inny program")));
        QVERIFY2(e.detail().startsWith(pty.slavePath() + u':') && e.detail().contains(holder),
                 qPrintable(e.detail()));
    }
    QVERIFY(!second.PortOpen());

    // Another program, as this user and as an ordinary one.
    QList<Outcome> others{openInChildProcess(pty.slavePath(), ::getuid(), ::getgid())};
    if (m_uid != 0)
        others << openInChildProcess(pty.slavePath(), m_uid, m_gid);
    for (const Outcome &other : std::as_const(others)) {
        if (other.number == CannotSwitchUser)
            continue;
        QCOMPARE(other.number, int(CommError::PortInUse));
        QCOMPARE(other.description, CommError::describe(CommError::PortInUse));
        QVERIFY2(other.detail.contains(holder), qPrintable(other.detail));
    }

    // The first keeps working both ways.
    QVERIFY(first.PortOpen());
    first.setOutput("ATI\r");
    QCOMPARE(pty.read(4), QByteArray("ATI\r"));
    QByteArray received;
    connect(&first, &CommControl::OnComm, this, [&] { received += first.Input(); });
    QVERIFY(pty.write("OK\r\n"));
    QTRY_COMPARE(received, QByteArray("OK\r\n"));
}

void tst_SerialFaults::ordinaryUserIsRefused_data()
{
    QTest::addColumn<bool>("exclusive");
    QTest::addColumn<int>("number");
    QTest::newRow("root's device, mode 600") << false << int(CommError::PermissionDenied);
    // Held with TIOCEXCL by a program keeping no lock file: EBUSY for all but root.
    QTest::newRow("exclusive, no lock file") << true << int(CommError::PortInUse);
}

void tst_SerialFaults::ordinaryUserIsRefused()
{
    QFETCH(bool, exclusive);
    QFETCH(int, number);
    if (m_uid == 0)
        QSKIP("needs root to act as an ordinary user");
    PseudoTerminal pty;
    const QByteArray path = pty.slavePath().toLocal8Bit();
    int holder = -1;
    if (exclusive) {
        holder = ::open(path.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(::ioctl(holder, TIOCEXCL), 0);
        QCOMPARE(::chmod(path.constData(), 0666), 0);
    } else {
        QCOMPARE(::chown(path.constData(), 0, 0), 0);
        QCOMPARE(::chmod(path.constData(), 0600), 0);
    }

    const Outcome outcome = openInChildProcess(pty.slavePath(), m_uid, m_gid);
    if (holder >= 0)
        ::close(holder);
    if (outcome.number == CannotSwitchUser)
        QSKIP("this root may not switch to another user");
    QCOMPARE(outcome.number, number);
    QCOMPARE(outcome.description, CommError::describe(number));
    QVERIFY2(outcome.detail.startsWith(pty.slavePath() + u':'), qPrintable(outcome.detail));
    if (exclusive)
        return;
    QVERIFY2(outcome.detail.contains(QLatin1String("tylko root")), qPrintable(outcome.detail));
    SerialPortComm comm(pty.slavePath()); // root still opens it: the refusal was about the user
    comm.setPortOpen(true);
}

void tst_SerialFaults::switchingPortsLeaksNoFileDescriptor()
{
    PseudoTerminal ptyA;
    PseudoTerminal ptyB;
    PseudoTerminal ptyBusy;
    SerialPortComm holder(ptyBusy.slavePath());
    holder.setPortOpen(true);

    PortRouter router;
    router.bindPort(2, ptyA.slavePath());
    router.bindPort(3, ptyB.slavePath());
    router.bindPort(4, QStringLiteral("/dev/ttyS_modemterm_missing"));
    router.bindPort(5, ptyBusy.slavePath());
    router.setRThreshold(1);

    auto cycle = [&](int i) {
        router.setCommPort(2 + i % 2);
        router.setPortOpen(true);
        router.setOutput("x");
        router.setPortOpen(false);
        if (i % 10 == 0) {
            for (int failing : {4, 5}) {
                router.setCommPort(failing);
                QVERIFY(thrownNumber([&] { router.setPortOpen(true); }) != 0);
            }
        }
        ptyA.readAvailable();
        ptyB.readAvailable();
    };

    // Whatever Qt opens once and keeps is not a leak: warm up first.
    cycle(0);
    cycle(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int baseline = ProcessUsage::openFileDescriptors();
    const qsizetype children = router.children().size();

    for (int i = 0; i < 200; ++i) {
        cycle(i);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(ProcessUsage::openFileDescriptors(), baseline);
    QTRY_COMPARE(router.children().size(), children);
    QVERIFY(!QFile::exists(QStringLiteral("/var/lock/LCK..pts_")
                           + ptyA.slavePath().section(u'/', -1)));
}

void tst_SerialFaults::farEndVanishingMidFlood()
{
    PseudoTerminal pty;
    SerialPortComm comm(pty.slavePath());
    comm.setRThreshold(1);
    comm.setPortOpen(true);
    QSignalSpy failed(&comm, &CommControl::PortFailed);

    const pid_t writer = ::fork();
    if (writer == 0)
        floodForever(pty.masterFd());
    QVERIFY(writer > 0);
    pty.closeMaster(); // the writer holds the only master side now

    QByteArray received;
    qint64 mismatchAt = -1;
    bool killed = false;
    connect(&comm, &CommControl::OnComm, this, [&] {
        const QByteArray bytes = comm.Input();
        for (qsizetype i = 0; i < bytes.size() && mismatchAt < 0; ++i) {
            if (bytes[i] != floodByte(received.size() + i))
                mismatchAt = received.size() + i;
        }
        received += bytes;
        if (!killed && received.size() >= 4 * 1024 * 1024) {
            ::kill(writer, SIGKILL);
            killed = true;
        }
    });

    QTRY_VERIFY_WITH_TIMEOUT(failed.size() >= 1, 60000);
    if (!killed)
        ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);

    QVERIFY(killed);
    QCOMPARE(mismatchAt, qint64(-1));
    QVERIFY(received.size() >= 4 * 1024 * 1024);
    QVERIFY(!comm.PortOpen());
    QCOMPARE(failed.at(0).at(0).value<CommError>().number(), int(CommError::DeviceLost));

    const qint64 cpuMs = ProcessUsage::cpuMsWhileEventLoopRuns(300);
    QVERIFY2(cpuMs < 100, qPrintable(QStringLiteral("%1 ms of CPU in 300 ms").arg(cpuMs)));
    QCOMPARE(failed.size(), 1);
}

QTEST_GUILESS_MAIN(tst_SerialFaults)
#include "tst_serialfaults.moc"
