// SPDX-License-Identifier: MIT
#include "floodtext.h"
#include "modalwatcher.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"

#include <QDateTime>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <sys/mount.h>

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
            QCOMPARE(line.mid(23, 1), u" "_qs);
            text += line.mid(24) + u'\n';
        }
        QCOMPARE(text, shown + QString::fromLatin1(flood.lines(0, 2000)).remove(u'\r'));
        QCOMPARE(boxes.count(), 0);
    }

    // A log whose disk is full warns once; the terminal and the other log go
    // on, the flood after the failure shown and logged whole.
    void failingWriteWarnsOnce()
    {
        // A disk full from the start; then, where one can be mounted (as
        // root), a small disk filling up mid-session.
        for (const bool smallDisk : {false, true}) {
            QTemporaryDir dir, disk;
            if (smallDisk && ::mount("modemterm-test", qPrintable(disk.path()), "tmpfs", 0, "size=16k") != 0)
                break;
            const auto unmount = qScopeGuard([&] { ::umount(qPrintable(disk.path())); }); // if it is mounted
            const QString textLog = smallDisk ? disk.filePath(u"session.log"_qs) : u"/dev/full"_qs;
            PseudoTerminal pty;
            QVERIFY(pty.open());
            ModalWatcher boxes;
            const SessionLog::Files files{textLog, dir.filePath(u"raw.log"_qs), false};
            const auto t = loggingTerminal(pty.path(), files);
            QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));

            const FloodText flood;
            QByteArray sent;
            for (int round = 1; round <= 3; ++round) {
                sent += flood.lines(0, 200 * round);
                QVERIFY(PtyIo::write(pty, flood.lines(0, 200 * round)));
                QTRY_VERIFY(t->text1()->text().endsWith(flood.shown(200 * round - 1)));
                QTRY_COMPARE(contents(files.raw), sent);
            }
            QTRY_COMPARE(boxes.count(), 1);
            QCOMPARE(boxes.looks.first(), u"Ostrzeżenie, warning, OK, over the window"_qs);
            QVERIFY2(boxes.texts.first().contains(textLog + u": "_qs), qPrintable(boxes.texts.first()));
            // Closing the window writes out what came within the last second, and tells nothing more.
            QVERIFY(PtyIo::write(pty, "bye\r\n"));
            QTRY_VERIFY(t->text1()->text().endsWith(u"bye\n"_qs));
            QVERIFY(t->window->close());
            QCOMPARE(contents(files.raw), sent + "bye\r\n");
            QCOMPARE(boxes.count(), 1);
        }
    }
};

QTEST_MAIN(TestSessionLog)
#include "tst_sessionlog.moc"
