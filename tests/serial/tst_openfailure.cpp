// SPDX-License-Identifier: MIT
#include "ptyio.h"
#include "serialportcomm.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// What opening `path` throws; number 0 when it opened.
CommError openingError(const QString &path)
{
    SerialPortComm comm(path);
    try {
        comm.setPortOpen(true);
    } catch (const CommError &e) {
        return e;
    }
    return {};
}

// A lock file another program keeps, removed again at the end.
struct ForeignLock
{
    explicit ForeignLock(const QString &name, const QByteArray &contents)
        : file(QStringLiteral("/var/lock/") + name)
    {
        if (file.open(QIODevice::WriteOnly))
            file.write(contents), file.close();
    }
    ~ForeignLock() { file.remove(); }
    bool written() const { return file.exists(); }
    QFile file;
};

} // namespace

// Why a port does not open, told the way a user can act on.
class TestOpenFailure : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void notASerialPortIsNamedAsSuch_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("cause");
        QTest::newRow("directory") << QDir::tempPath() << "katalog";
        QTest::newRow("controlling terminal") << "/dev/tty" << "nie jest port szeregowy";
        QTest::newRow("pseudo-terminal multiplexer") << "/dev/ptmx" << "nie jest port szeregowy";
        QTest::newRow("path too long") << QStringLiteral("/dev/") + QString(5000, u'x') << "za długa";
    }

    void notASerialPortIsNamedAsSuch()
    {
        QFETCH(QString, path);
        QFETCH(QString, cause);
        if (!path.contains(u'x') && !QFile::exists(path))
            QSKIP("no such device here");
        const CommError e = openingError(path);
        QCOMPARE(e.number(), int(CommError::PortNotFound));
        QVERIFY2(e.detail().contains(cause) && e.detail().size() < 200, qPrintable(e.detail()));
    }

    // A device is one device whatever name reaches it.
    void aLinkAndItsDeviceShareOneLock()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("modem"));
        QVERIFY(QFile::link(pty.path(), link));
        for (const auto &[first, second] : {std::pair(pty.path(), link), {link, pty.path()}}) {
            SerialPortComm holder(first);
            holder.setPortOpen(true);
            QCOMPARE(openingError(second).number(), int(CommError::PortInUse));
            holder.setOutput("AT\r");
            QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));
        }
    }

    // Another program's live lock file counts in each common form; a dead
    // holder's does not, and one that names nobody yet blames nobody.
    void foreignLockFiles_data()
    {
        QTest::addColumn<QString>("form");
        QTest::addColumn<bool>("alive");
        QTest::addColumn<int>("number");
        QTest::newRow("one line, padded") << "text" << true << int(CommError::PortInUse);
        QTest::newRow("binary") << "binary" << true << int(CommError::PortInUse);
        QTest::newRow("by device number") << "number" << true << int(CommError::PortInUse);
        QTest::newRow("dead holder") << "text" << false << 0;
        QTest::newRow("empty, being written") << "empty" << true << -1;
    }

    void foreignLockFiles()
    {
        QFETCH(QString, form);
        QFETCH(bool, alive);
        QFETCH(int, number);
        PseudoTerminal pty;
        QVERIFY(pty.open());
        // The lock's holder, which also has the device open.
        QProcess other;
        other.setStandardInputFile(pty.path());
        other.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(other.waitForStarted());
        const auto stopOther = [&] {
            other.kill();
            other.waitForFinished();
        };
        const auto stop = qScopeGuard(stopOther);
        const qint64 pid = other.processId();
        if (!alive)
            stopOther();
        struct stat st{};
        QCOMPARE(::stat(QFile::encodeName(pty.path()).constData(), &st), 0);
        const qint32 binaryPid = qint32(pid);
        const QByteArray contents = form == u"binary" ? QByteArray(reinterpret_cast<const char *>(&binaryPid), 4)
                                    : form == u"empty" ? QByteArray()
                                                       : QByteArray::number(pid).rightJustified(10) + '\n';
        const QString name = form == u"number"
            ? QString::asprintf("LK.%03u.%03u.%03u", major(st.st_dev), major(st.st_rdev), minor(st.st_rdev))
            : QStringLiteral("LCK..pts_") + pty.path().section(u'/', -1);
        ForeignLock lock(name, contents);
        if (!lock.written())
            QSKIP("cannot write to /var/lock here");

        const CommError e = openingError(pty.path());
        if (number >= 0) {
            QCOMPARE(e.number(), number);
            if (number)
                QVERIFY2(e.detail().contains(QString::number(pid)), qPrintable(e.detail()));
        } else {
            // Opened, or refused for the lock file itself: never blamed on
            // a program that merely has the device open.
            QVERIFY2(!e.detail().contains(QStringLiteral("używa go")), qPrintable(e.detail()));
        }
    }
};

QTEST_GUILESS_MAIN(TestOpenFailure)
#include "tst_openfailure.moc"
