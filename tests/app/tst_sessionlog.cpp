// SPDX-License-Identifier: MIT
#include "floodtext.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"

#include <QDateTime>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// A terminal on a pseudo-terminal (whose other end this is), logging as
// `files` asks, with a transcript far smaller than the floods sent to it, and
// the boxes it shows.
struct LoggingTerminal : PseudoTerminal, WatchedTerminal
{
    explicit LoggingTerminal(const SessionLog::Files &files, PortRouter *router = new PortRouter) : WatchedTerminal(router)
    {
        QVERIFY(open());
        router->bindPort(2, path());
        window->setSessionLog(SessionLog::open(files, "port COM 2 (" + path() + ")", nullptr));
        text1()->setLimits(20, 2000);
        start();
        QCOMPARE(PtyIo::read(*this, 3), "AT\r");
    }
    QString shown() const { return text1()->text(); }
};

} // namespace

// The session log on a whole terminal window fed through a real pseudo-terminal.
class TestSessionLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void logsEverythingReceived()
    {
        QTemporaryDir dir;
        const SessionLog::Files files{dir.filePath("session.log"), dir.filePath("raw.log"), true};
        const QDateTime started = QDateTime::currentDateTime();
        LoggingTerminal t(files);

        // Every byte value and a CR; the LF, in a read of its own, starts far
        // more than the transcript keeps.
        QByteArray sent;
        for (int b = 0; b < 256; ++b)
            sent += char(b);
        QVERIFY(PtyIo::write(t, sent + '\r'));
        QTRY_VERIFY(t.shown().endsWith('\n'));
        const QString shown = t.shown();
        const QByteArray flood = FloodText().lines(0, 2000);
        sent += '\r' + ('\n' + flood);
        QVERIFY(PtyIo::write(t, sent.sliced(257)));
        QTRY_VERIFY(t.shown().endsWith(FloodText().shown(1999)));

        // Written out within a second, without the port closing.
        QTRY_COMPARE(contents(files.raw), sent);

        const QStringList lines = QString(contents(files.text)).split('\n');
        QVERIFY(lines.first().contains(t.path())); // the source the log was opened for
        QString text;
        for (const QString &line : lines.sliced(1, lines.size() - 2)) { // each stamped with when it came
            const QDateTime at = QDateTime::fromString(line.left(23), "yyyy-MM-dd HH:mm:ss.zzz");
            QCOMPARE_GE(at, started);
            QCOMPARE_LE(at, QDateTime::currentDateTime());
            text += line.sliced(24) + '\n';
        }
        QCOMPARE(text, shown + QString(flood).remove('\r'));
        // A new log is for its owner's eyes only.
        struct stat st;
        QCOMPARE(::stat(qPrintable(files.text), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }

    // A log whose disk is full warns once; the terminal and the other log go
    // on, what came after the failure shown and logged whole.
    void failingWriteWarnsOnce()
    {
        QTemporaryDir dir;
        const QString raw = dir.filePath("raw.log");
        LoggingTerminal t({"/dev/full", raw});
        const QByteArray sent = FloodText().lines(0, 200);
        QVERIFY(PtyIo::write(t, sent));
        QTRY_COMPARE(t.count(), 1);
        QVERIFY(t.texts.first().contains("/dev/full: "));
        // Closing the window writes out what came within the last second, and tells nothing more.
        QVERIFY(PtyIo::write(t, "bye\r\n"));
        QTRY_VERIFY(t.shown().endsWith("bye\n"));
        QVERIFY(t.window->close());
        QCOMPARE(contents(raw), sent + "bye\r\n");
        QCOMPARE(t.count(), 1);
    }

    // A FIFO is a fine log: refused at once while nobody reads it, and never
    // holding the window up: a reader that stops reading gets what fitted in
    // a bounded backlog, then one warning ends that log.
    void pipesNeverHoldTheWindowUp()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo");
        QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
        QString error;
        QVERIFY(!SessionLog::open({fifo, {}}, "port", &error));
        QVERIFY(error.contains("nikt nie czyta z tego potoku"));
        QFile pipe; // the reader, which never reads until the end
        QVERIFY(pipe.open(::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        LoggingTerminal t({{}, fifo});
        const QByteArray sent = FloodText().lines(0, 30'000); // twice what the pipe and the backlog hold
        QVERIFY(PtyIo::write(t, sent));
        QTRY_VERIFY(t.shown().endsWith(FloodText().shown(29'999)));
        QTRY_COMPARE(t.count(), 1);
        const QByteArray got = pipe.read(sent.size());
        QVERIFY(got.size() >= 4096);
        QVERIFY(sent.startsWith(got));
    }

    // A symbolic link another user planted in a shared directory is not
    // followed; one of ours is.
    void plantedLinksAreRefused()
    {
        if (::geteuid() != 0)
            QSKIP("planting another user's link needs root");
        QTemporaryDir dir;
        QCOMPARE(::chmod(qPrintable(dir.path()), 01777), 0);
        const QString secret = dir.filePath("secret"), link = dir.filePath("raw.log");
        QVERIFY(QFile(secret).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(secret, link));
        QCOMPARE(::lchown(qPrintable(link), 65534, 65534), 0);
        QString error;
        QVERIFY(!SessionLog::open({{}, link}, "port", &error));
        QVERIFY(error.startsWith(u"nie otworzę dziennika „%1”: „%1” to dowiązanie symboliczne innego"_qs.arg(link)));
        QCOMPARE(::lchown(qPrintable(link), 0, 0), 0);
        QVERIFY(SessionLog::open({{}, link}, "port", &error));
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
