// SPDX-License-Identifier: MIT
#include "modalwatcher.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A terminal on a pseudo-terminal, logging as `files` asks, with a transcript
// far smaller than the floods sent to it.
struct LoggingTerminal : RunningTerminal
{
    LoggingTerminal(const QString &device, const SessionLog::Files &files)
        : RunningTerminal(boundTo(device))
    {
        QString error;
        std::unique_ptr<SessionLog> log = SessionLog::open(files, u"port COM 2 (%1)"_qs.arg(device), &error);
        QVERIFY2(log, qPrintable(error));
        window->setSessionLog(std::move(log));
        text1()->setLimits(20, 2000);
        start();
    }

    static PortRouter *boundTo(const QString &device)
    {
        auto *router = new PortRouter;
        router->bindPort(2, device);
        return router;
    }
};

// Numbered lines the transcript cannot hold all of, as sent and as shown.
std::pair<QByteArray, QString> flood(int lines)
{
    std::pair<QByteArray, QString> out;
    for (int i = 0; i < lines; ++i) {
        const QByteArray line = "flood line " + QByteArray::number(i) + ' ' + QByteArray(60, char('a' + i % 26));
        out.first += line + "\r\n";
        out.second += QString::fromLatin1(line) + u'\n';
    }
    return out;
}

} // namespace

// The session log on a whole terminal window fed through a real pseudo-terminal.
class tst_SessionLog : public QObject
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
        LoggingTerminal t(pty.path(), files);
        QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));

        // Every byte value, then the LF of a CR LF in a read of its own.
        QByteArray sent;
        for (int b = 0; b < 256; ++b)
            sent += char(b);
        sent += '\r';
        QVERIFY(PtyIo::write(pty, sent));
        QTRY_VERIFY(t.text1()->textLength() > 200 && t.text1()->text().endsWith(u'\n'));
        QVERIFY(PtyIo::write(pty, "\nnext\r\n"));
        sent += "\nnext\r\n";
        QTRY_VERIFY(t.text1()->text().endsWith(u"\nnext\n"_qs));
        const QString shown = t.text1()->text();

        const auto [floodBytes, floodText] = flood(2000);
        QVERIFY(PtyIo::write(pty, floodBytes));
        sent += floodBytes;
        QTRY_VERIFY(t.text1()->text().endsWith(floodText.right(200)));
        QVERIFY(!t.text1()->text().contains(shown)); // gone from the screen

        // Written out within a second, without the port closing.
        QTRY_COMPARE(contents(files.raw), sent);
        QTRY_VERIFY(contents(files.text).endsWith(floodText.right(40).toUtf8())); // the last line's end
        const QDateTime finished = QDateTime::currentDateTime();

        const QStringList lines = QString::fromUtf8(contents(files.text)).split(u'\n');
        QVERIFY2(lines.first().contains(u"port COM 2 (%1)"_qs.arg(pty.path())), qPrintable(lines.first()));
        QCOMPARE(lines.last(), QString());
        static const QRegularExpression stamp(u"^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) "_qs);
        QString text;
        for (const QString &line : lines.mid(1, lines.size() - 2)) {
            const QRegularExpressionMatch m = stamp.match(line);
            QVERIFY2(m.hasMatch(), qPrintable(line));
            const QDateTime at = QDateTime::fromString(m.captured(1), u"yyyy-MM-dd HH:mm:ss.zzz"_qs);
            QVERIFY(at >= started && at <= finished);
            text += line.mid(m.capturedLength()) + u'\n';
        }
        QCOMPARE(text, shown + floodText);
        QCOMPARE(boxes.count(), 0);
    }

    // A log whose disk is full warns once; the terminal and the other log go on.
    void failingWriteWarnsOnce_data()
    {
        QTest::addColumn<bool>("smallDisk");
        QTest::newRow("disk filling up") << true;
        QTest::newRow("disk full from the start") << false;
    }

    void failingWriteWarnsOnce()
    {
        QFETCH(bool, smallDisk);
        QTemporaryDir dir;
        QString textLog = u"/dev/full"_qs;
        auto unmount = qScopeGuard([&] {
            if (smallDisk)
                QProcess::execute(u"umount"_qs, {dir.filePath(u"disk"_qs)});
        });
        if (smallDisk) {
            QVERIFY(QDir(dir.path()).mkdir(u"disk"_qs));
            QProcess mount;
            mount.start(u"mount"_qs, {u"-t"_qs, u"tmpfs"_qs, u"-o"_qs, u"size=16k"_qs, u"modemterm-test"_qs,
                                      dir.filePath(u"disk"_qs)});
            if (!mount.waitForFinished() || mount.exitCode() != 0) {
                smallDisk = false;
                QSKIP("cannot mount a small tmpfs here (mounting needs root)");
            }
            textLog = dir.filePath(u"disk/session.log"_qs);
        }
        PseudoTerminal pty;
        QVERIFY(pty.open());
        ModalWatcher boxes;
        const SessionLog::Files files{textLog, dir.filePath(u"raw.log"_qs), false};
        LoggingTerminal t(pty.path(), files);
        QCOMPARE(PtyIo::read(pty, 3), QByteArray("AT\r"));

        QByteArray sent;
        for (int round = 0; round < 3; ++round) {
            const auto [bytes, text] = flood(200 * (round + 1));
            QVERIFY(PtyIo::write(pty, bytes));
            sent += bytes;
            QTRY_VERIFY(t.text1()->text().endsWith(text.right(200)));
            QTRY_COMPARE(contents(files.raw), sent);
        }
        QTRY_COMPARE(boxes.count(), 1);
        QCOMPARE(boxes.looks.first(), u"Ostrzeżenie, warning, OK, over the window"_qs);
        const QString text = boxes.texts.first();
        QCOMPARE(text.section(u'\n', 0, 0), u"Nie mogę dalej zapisywać dziennika sesji; terminal działa bez niego."_qs);
        QVERIFY2(text.section(u'\n', 1).startsWith(textLog + u": "_qs), qPrintable(text));

        t.typeLine(u"ATI"_qs);
        QCOMPARE(PtyIo::read(pty, 4), QByteArray("ATI\r"));
        t.window->close();
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(contents(files.raw), sent);
    }
};

QTEST_MAIN(tst_SessionLog)
#include "tst_sessionlog.moc"
