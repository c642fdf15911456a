// SPDX-License-Identifier: MIT
#include "floodtext.h"
#include "modalwatcher.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A terminal on a pseudo-terminal, logging as `files` asks, with a transcript
// far smaller than the floods sent to it.
std::unique_ptr<RunningTerminal> loggingTerminal(const QString &device, const SessionLog::Files &files)
{
    auto *router = new PortRouter;
    router->bindPort(2, device);
    auto t = std::make_unique<RunningTerminal>(router);
    t->window->setSessionLog(SessionLog::open(files, u"port COM 2 (%1)"_qs.arg(device), nullptr));
    t->text1()->setLimits(20, 2000);
    t->start();
    return t;
}

} // namespace

// The session log on a whole terminal window fed through a real pseudo-terminal.
class TestSessionLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void logsEverythingReceived()
    {
        PseudoTerminal pty;
        QVERIFY(pty.open());
        QTemporaryDir dir;
        const SessionLog::Files files{dir.filePath(u"session.log"_qs), dir.filePath(u"raw.log"_qs), true};
        ModalWatcher boxes;
        const QDateTime started = QDateTime::currentDateTime();
        const auto t = loggingTerminal(pty.path(), files);
        QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));

        // Every byte value and a CR; the LF, in a read of its own, starts far
        // more than the transcript keeps.
        QByteArray sent;
        for (int b = 0; b < 256; ++b)
            sent += char(b);
        QVERIFY(PtyIo::write(pty, sent + '\r'));
        QTRY_VERIFY(t->text1()->text().endsWith(u'\n'));
        const QString shown = t->text1()->text();
        const FloodText flood;
        sent += '\r' + ('\n' + flood.lines(0, 2000));
        QVERIFY(PtyIo::write(pty, sent.sliced(257)));
        QTRY_VERIFY(t->text1()->text().endsWith(flood.shown(1999)));

        // Written out within a second, without the port closing.
        QTRY_COMPARE(contents(files.raw), sent);

        const QStringList lines = QString::fromUtf8(contents(files.text)).split(u'\n');
        QVERIFY2(lines.first().contains(u"port COM 2 (%1)"_qs.arg(pty.path())), qPrintable(lines.first()));
        QString text;
        for (const QString &line : lines.mid(1, lines.size() - 2)) { // each stamped with when it came
            const QDateTime at = QDateTime::fromString(line.left(23), u"yyyy-MM-dd HH:mm:ss.zzz"_qs);
            QVERIFY2(at >= started, qPrintable(line));
            QVERIFY2(at <= QDateTime::currentDateTime(), qPrintable(line));
            text += line.mid(24) + u'\n';
        }
        QCOMPARE(text, shown + QString::fromLatin1(flood.lines(0, 2000)).remove(u'\r'));
    }

    // A log whose disk is full warns once; the terminal and the other log go
    // on, what came after the failure shown and logged whole.
    void failingWriteWarnsOnce()
    {
        QTemporaryDir dir;
        PseudoTerminal pty;
        QVERIFY(pty.open());
        ModalWatcher boxes;
        const SessionLog::Files files{u"/dev/full"_qs, dir.filePath(u"raw.log"_qs), false};
        const auto t = loggingTerminal(pty.path(), files);
        QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));
        const QByteArray sent = FloodText().lines(0, 200);
        QVERIFY(PtyIo::write(pty, sent));
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.texts.first().contains(u"/dev/full: "_qs), qPrintable(boxes.texts.first()));
        // Closing the window writes out what came within the last second, and tells nothing more.
        QVERIFY(PtyIo::write(pty, "bye\r\n"));
        QTRY_VERIFY(t->text1()->text().endsWith(u"bye\n"_qs));
        QVERIFY(t->window->close());
        QCOMPARE(contents(files.raw), sent + "bye\r\n");
        QCOMPARE(boxes.count(), 1);
    }

    // A FIFO is a fine log: refused at once while nobody reads it, and never
    // holding the window up: a reader that stops reading gets what fitted in
    // a bounded backlog, then one warning ends that log.
    void pipesNeverHoldTheWindowUp()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(u"fifo"_qs);
        QCOMPARE(::mkfifo(qPrintable(fifo), 0600), 0);
        QString error;
        QVERIFY(!SessionLog::open({fifo, {}, false}, u"port"_qs, &error));
        QVERIFY2(error.contains(u"nikt nie czyta z tego potoku"_qs), qPrintable(error));
        const int reader = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK);
        PseudoTerminal pty;
        QVERIFY(pty.open());
        ModalWatcher boxes;
        const auto t = loggingTerminal(pty.path(), {{}, fifo, false});
        QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));
        const QByteArray sent = FloodText().lines(0, 30'000); // twice what the pipe and the backlog hold
        QVERIFY(PtyIo::write(pty, sent));
        QTRY_VERIFY(t->text1()->text().endsWith(FloodText().shown(29'999)));
        QTRY_COMPARE(boxes.count(), 1);
        QVERIFY2(boxes.texts.first().contains(fifo + u": odbiorca nie nadąża czytać"_qs), qPrintable(boxes.texts.first()));
        QByteArray got(sent.size(), '\0');
        got.truncate(::read(reader, got.data(), size_t(got.size())));
        ::close(reader);
        QVERIFY(got.size() >= 4096);
        QVERIFY(sent.startsWith(got));
    }

    // A symbolic link another user planted in a shared directory is not
    // followed; one of ours is. A new log is for its owner's eyes only.
    void plantedLinksAreRefused()
    {
        if (::geteuid() != 0)
            QSKIP("planting another user's link needs root");
        QTemporaryDir dir;
        QCOMPARE(::chmod(qPrintable(dir.path()), 01777), 0);
        const QString secret = dir.filePath(u"secret"_qs), link = dir.filePath(u"raw.log"_qs);
        QVERIFY(QFile(secret).open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(secret, link));
        QCOMPARE(::lchown(qPrintable(link), 65534, 65534), 0);
        QString error;
        QVERIFY(!SessionLog::open({{}, link, false}, u"port"_qs, &error));
        QVERIFY2(error.startsWith(u"nie otworzę dziennika „%1”: „%1” to dowiązanie symboliczne innego"_qs.arg(link)),
                 qPrintable(error));
        QCOMPARE(::lchown(qPrintable(link), 0, 0), 0);
        QVERIFY(SessionLog::open({{}, link, false}, u"port"_qs, &error));

        const QString fresh = dir.filePath(u"session.log"_qs);
        QVERIFY(SessionLog::open({fresh, {}, false}, u"port"_qs, &error));
        struct stat st;
        QCOMPARE(::stat(qPrintable(fresh), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
