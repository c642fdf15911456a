// SPDX-License-Identifier: MIT
#include "farend.h"
#include "filetransfer.h"
#include "modalwatcher.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"
#include "transferdialog.h"
#include "transferglue.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <utility>

using Protocol = FileTransfer::Protocol;
using Direction = FileTransfer::Direction;
using Outcome = FileTransfer::Outcome;

namespace {

enum class Link { Pty, Ser2net };

const QString Empty = u"pusty"_qs;
const QString AllBytes = u"bajty.bin"_qs;
const QString Random = u"losowe.bin"_qs;
const QString Polish = u"zażółć gęślą jaźń.txt"_qs;

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray sample(const QString &name)
{
    if (name == AllBytes) {
        QByteArray bytes(256, 0);
        for (int i = 0; i < 256; ++i)
            bytes[i] = char(i);
        return bytes;
    }
    if (name == Empty)
        return {};
    QByteArray bytes(name == Random ? 1 << 20 : 5000, 0);
    QRandomGenerator random(42);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes;
}

// The open port to a line whose far end the test hands to lrzsz.
struct Line
{
    PseudoTerminal pty;
    DeviceServer device;
    QProcess ser2net;
    QTemporaryDir dir;
    PortRouter *router = new PortRouter;
    int farFd = -1;

    ~Line()
    {
        delete router;
        ser2net.kill();
        ser2net.waitForFinished();
    }

    // The port, closed, for a window to take over and open as at start.
    PortRouter *handOver()
    {
        PortRouter *taken = std::exchange(router, new PortRouter);
        taken->setPortOpen(false);
        return taken;
    }

    // False (after QSKIP or a failed check) when the line cannot be made.
    bool open(Link link)
    {
        if (link == Link::Pty) {
            if (!pty.open())
                return false;
            router->bindPort(2, pty.path());
            farFd = pty.masterFd();
            return openPort();
        }
        const QString program = QStandardPaths::findExecutable(u"ser2net"_qs, {u"/usr/sbin"_qs, u"/usr/bin"_qs});
        if (program.isEmpty() || !device.listen(QHostAddress::LocalHost))
            return false;
        QTcpServer probe; // for a free port
        probe.listen(QHostAddress::LocalHost);
        const quint16 port = probe.serverPort();
        probe.close();
        // The device behind ser2net is a TCP connection: in front of a
        // pseudo-terminal ser2net drops bytes of a flood.
        QFile config(dir.filePath(u"ser2net.yaml"_qs));
        config.open(QIODevice::WriteOnly);
        config.write(u"connection: &line\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%1\n"
                     "  connector: tcp,127.0.0.1,%2\n"_qs.arg(port).arg(device.serverPort()).toUtf8());
        config.close();
        ser2net.setProcessChannelMode(QProcess::ForwardedChannels);
        ser2net.start(program, {u"-n"_qs, u"-u"_qs, u"-c"_qs, config.fileName()});
        const QByteArray listening = QString::asprintf(": 0100007F:%04X 00000000:0000 0A ", port).toLatin1();
        if (!QTest::qWaitFor([&] {
                QFile table(u"/proc/net/tcp"_qs);
                return table.open(QIODevice::ReadOnly) && table.readAll().contains(listening);
            }, 10000))
            return false;
        router->bindPort(2, u"rfc2217://127.0.0.1:%1"_qs.arg(port));
        if (!openPort() || !QTest::qWaitFor([&] { return !device.sockets.isEmpty(); }, 10000))
            return false;
        farFd = device.sockets.first();
        return true;
    }

    bool openPort()
    {
        router->setCommPort(2);
        router->setSettings(u"9600,N,8,1"_qs);
        router->setRThreshold(1);
        router->setPortOpen(true);
        return router->PortOpen();
    }

    // Relays what the port receives to `transfer`, as the window does.
    void feed(FileTransfer &transfer)
    {
        QObject::connect(router, &CommControl::OnComm, &transfer, [this, &transfer] {
            if (router->CommEvent() == CommControl::comEvReceive)
                transfer.received(router->Input());
        });
    }
};

// Waits with the event loop running: the port still has bytes for the far end.
bool ended(QProcess &far, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&] { return far.state() == QProcess::NotRunning; }, timeoutMs);
}

bool isXmodem(Protocol protocol)
{
    return protocol == Protocol::Xmodem || protocol == Protocol::Xmodem1k;
}

// What the far end's lrzsz is started with.
QStringList farArguments(Protocol protocol, Direction ours, const QStringList &files)
{
    QStringList args{u"-b"_qs};
    if (ours == Direction::Send)
        return isXmodem(protocol) ? args << u"-c"_qs << files.first() : args;
    if (protocol == Protocol::Xmodem1k || protocol == Protocol::Ymodem)
        args << u"-k"_qs;
    return args + files;
}

} // namespace

Q_DECLARE_METATYPE(Link)
Q_DECLARE_METATYPE(FileTransfer::Protocol)
Q_DECLARE_METATYPE(FileTransfer::Direction)

// Whole transfers with real lrzsz at the far end of a pseudo-terminal and of
// ser2net, and the window starting one by itself.
class TestTransfer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!FileTransfer::lrzszFound())
            QSKIP("lrzsz is not installed (Debian package lrzsz)");
    }

    void filesArriveIntact_data()
    {
        QTest::addColumn<Link>("link");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QStringList>("files");
        const QStringList batch{Empty, AllBytes, Random, Polish};
        // Uploads by XMODEM and YMODEM go through ser2net: lrzsz's receiver
        // on a pseudo-terminal's master side holds its last answer back. Both
        // wait for an answer to every block, which lrzsz's receiver on the
        // test's side of the line gives some 50 ms late: 1 MB would take most
        // of a minute, so it goes by XMODEM-1K one way only.
        const QStringList small{Empty, AllBytes, Polish};
        for (Direction d : {Direction::Send, Direction::Receive}) {
            const char *way = d == Direction::Send ? "upload" : "download";
            const Link blockLink = d == Direction::Send ? Link::Ser2net : Link::Pty;
            const char *via = d == Direction::Send ? "ser2net" : "pty";
            QTest::addRow("pty, %s, ZMODEM", way) << Link::Pty << d << Protocol::Zmodem << batch;
            QTest::addRow("ser2net, %s, ZMODEM", way) << Link::Ser2net << d << Protocol::Zmodem << batch;
            QTest::addRow("%s, %s, YMODEM", via, way) << blockLink << d << Protocol::Ymodem << small;
            if (d == Direction::Receive)
                QTest::addRow("%s, %s, XMODEM-1K, 1 MB", via, way) << blockLink << d << Protocol::Xmodem1k << QStringList{Random};
            QTest::addRow("%s, %s, XMODEM, every byte", via, way) << blockLink << d << Protocol::Xmodem << QStringList{AllBytes};
            QTest::addRow("%s, %s, XMODEM, Polish name", via, way) << blockLink << d << Protocol::Xmodem << QStringList{Polish};
        }
    }
    void filesArriveIntact()
    {
        QFETCH(Link, link);
        QFETCH(Direction, direction);
        QFETCH(Protocol, protocol);
        QFETCH(QStringList, files);
        Line line;
        if (!line.open(link))
            QSKIP("no line to the far end (ser2net missing?)");
        QTemporaryDir ours, theirs;
        const QDir source(direction == Direction::Send ? ours.path() : theirs.path());
        const QDir target(direction == Direction::Send ? theirs.path() : ours.path());
        for (const QString &name : files)
            put(source.filePath(name), sample(name));

        FileTransfer::Request request;
        request.direction = direction;
        request.protocol = protocol;
        request.downloadFolder = ours.path();
        request.xmodemName = files.first();
        for (const QString &name : files)
            request.files += source.filePath(name);
        QProcess far;
        startFarEnd(far, line.farFd, FileTransfer::programName(protocol, direction == Direction::Send ? Direction::Receive : Direction::Send),
                    farArguments(protocol, direction, files), theirs.path());
        FileTransfer transfer(line.router, request);
        line.feed(transfer);
        QSignalSpy finished(&transfer, &FileTransfer::finished);
        QString error;
        QVERIFY2(transfer.start(&error), qPrintable(error));
        QVERIFY2(finished.wait(60000), far.readAllStandardError().right(600).constData());
        QCOMPARE(transfer.message(), u"Gotowe."_qs);
        QVERIFY(ended(far));
        QCOMPARE(far.exitCode(), 0);

        for (const QString &name : files) {
            const QByteArray sent = sample(name);
            QByteArray got = contents(target.filePath(name));
            if (isXmodem(protocol)) { // XMODEM fills the last block with ^Z
                QVERIFY(got.size() - sent.size() < 1024);
                QCOMPARE(got.sliced(sent.size()), QByteArray(got.size() - sent.size(), '\x1a'));
                got.truncate(sent.size());
            }
            QCOMPARE(got, sent);
        }
        if (direction == Direction::Receive) // and no staging folder left
            QCOMPARE(QDir(ours.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), files.size());
    }

    // Whatever name the far end sends, the file lands in the download folder
    // under a plain name, next to what was there, or not at all.
    void receivedNamesAreSafe_data()
    {
        QTest::addColumn<QString>("sent");      // the far end's argument
        QTest::addColumn<QStringList>("saved"); // what the download folder then holds
        QTest::newRow("up a folder") << u"../x"_qs << QStringList{};
        QTest::newRow("control characters") << u"a\u0001b\u001b.txt"_qs << QStringList{u"ab.txt"_qs};
        QTest::newRow("name taken") << u"x.bin"_qs << QStringList{u"x (2).bin"_qs, u"x.bin"_qs};
    }
    void receivedNamesAreSafe()
    {
        QFETCH(QString, sent);
        Line line;
        if (!line.open(Link::Ser2net))
            QSKIP("ser2net is not installed (Debian package ser2net)");
        QTemporaryDir ours, theirs;
        QDir(theirs.path()).mkdir(u"sub"_qs);
        put(theirs.filePath(u"x"_qs), "far");
        if (!sent.startsWith(u".."_qs))
            put(theirs.filePath(u"sub/"_qs + sent), "far");
        if (sent == u"x.bin"_qs)
            put(ours.filePath(sent), "old");

        QProcess far;
        startFarEnd(far, line.farFd, u"sz"_qs, {u"-b"_qs, u"-f"_qs, sent}, theirs.filePath(u"sub"_qs));
        FileTransfer::Request request;
        request.downloadFolder = ours.path();
        FileTransfer transfer(line.router, request);
        line.feed(transfer);
        QSignalSpy finished(&transfer, &FileTransfer::finished);
        QString error;
        QVERIFY2(transfer.start(&error), qPrintable(error));
        QVERIFY2(finished.wait(30000), far.readAllStandardError().right(600).constData());
        QTEST(QDir(ours.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), "saved");
        QCOMPARE(contents(theirs.filePath(u"x"_qs)), QByteArray("far"));
        if (sent == u"x.bin"_qs) {
            QCOMPARE(contents(ours.filePath(sent)), QByteArray("old"));
            QVERIFY(TransferDialog::summary(transfer).contains(u"x (2).bin"_qs));
        }
    }

    // Stopped from either end, or the far end gone, a download stops, says
    // why, and leaves nothing that looks like a whole file.
    void interruptedDownloadLeavesNoWholeFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("Przerwij") << u"ours"_qs << Outcome::Cancelled;
        QTest::newRow("far end cancels") << u"theirs"_qs << Outcome::FarCancelled;
        QTest::newRow("far end closes") << u"gone"_qs << Outcome::LineLost;
    }
    void interruptedDownloadLeavesNoWholeFile()
    {
        QFETCH(QString, how);
        Line line;
        QVERIFY(line.open(Link::Pty));
        QTemporaryDir ours, theirs;
        QByteArray big(40 << 20, 0);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(big.data()), big.size() / 4);
        put(theirs.filePath(Random), big);
        QProcess far;
        startFarEnd(far, line.farFd, u"sz"_qs, {u"-b"_qs, Random}, theirs.path());
        FileTransfer::Request request;
        request.downloadFolder = ours.path();
        FileTransfer transfer(line.router, request);
        line.feed(transfer);
        QSignalSpy finished(&transfer, &FileTransfer::finished);
        QString error;
        QVERIFY2(transfer.start(&error), qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(transfer.currentDone() > 0, 20000);
        if (how == u"ours"_qs) {
            transfer.cancel();
        } else if (how == u"theirs"_qs) {
            // The far end's user stops it with Ctrl+X, as lrzsz itself does.
            far.kill();
            QVERIFY(ended(far));
            QVERIFY(PtyIo::write(line.pty, QByteArray(10, '\x18')));
        } else {
            far.kill();
            far.waitForFinished();
            line.pty.closeMaster();
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QTEST(transfer.outcome(), "outcome");
        QVERIFY(ended(far, 5000));
        QVERIFY(!QFile::exists(ours.filePath(Random)));
        const QStringList left = QDir(ours.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(left.isEmpty() || left == QStringList{Random + u".part"_qs}, qPrintable(left.join(u'|')));
    }

    // The far end's sz starts a download by itself: the text before the
    // header shows, however the header is split; the file arrives; the text
    // area gets the port back; the log gets one line for the transfer.
    void zmodemStartsByItself()
    {
        Line line;
        QVERIFY(line.open(Link::Pty));
        QTemporaryDir ours, theirs;
        put(theirs.filePath(Polish), sample(Polish));
        const QString logPath = ours.filePath(u"log.txt"_qs);
        auto *router = line.handOver();
        router->bindPort(2, line.pty.path());
        QTemporaryDir downloads;
        RunningTerminal t(router);
        t.window->setSessionLog(SessionLog::open({logPath, {}, false}, u"test"_qs, nullptr));
        TransferGlue glue(t.window.get(), router, downloads.path());
        QPointer<QWidget> progress;
        ModalWatcher watcher;
        watcher.setDialogHandler([&](QWidget *w) { progress = w; });
        t.start();
        QVERIFY(PtyIo::write(line.pty, "Witaj\r\n*"));
        QTRY_VERIFY(t.text1()->text().contains(u"Witaj"_qs));
        QVERIFY(PtyIo::write(line.pty, "*\x18" "B00"));
        QTRY_VERIFY(progress);
        QProcess far;
        startFarEnd(far, line.farFd, u"sz"_qs, {u"-b"_qs, Polish}, theirs.path());
        QTRY_VERIFY_WITH_TIMEOUT(!glue.holdsPort(), 30000);
        QCOMPARE(contents(downloads.filePath(Polish)), sample(Polish));
        QVERIFY(!t.text1()->text().contains(u"B00"_qs));
        QVERIFY(ended(far));
        QVERIFY(PtyIo::write(line.pty, "\r\nOK\r\n"));
        QTRY_VERIFY(t.text1()->text().endsWith(u"OK\n"_qs));
        t.window->sessionLog()->flush();
        QVERIFY2(QString::fromUtf8(contents(logPath)).contains(u"⇩ modemterm: odbiór ZMODEM, „%1” (5000 B): Gotowe."_qs.arg(Polish)), contents(logPath).constData());
        delete progress;
    }

    // The far end's rz announcing itself opens the file chooser; the file
    // chosen goes out at once.
    void farReceiverOpensTheChooser()
    {
        Line line;
        QVERIFY(line.open(Link::Pty));
        auto *router = line.handOver();
        QTemporaryDir ours, theirs;
        put(ours.filePath(AllBytes), sample(AllBytes));
        RunningTerminal t(router);
        TransferGlue glue(t.window.get(), router, ours.path());
        QPointer<QWidget> progress;
        ModalWatcher watcher;
        watcher.setDialogHandler([&](QWidget *w) {
            if (auto *chooser = qobject_cast<QFileDialog *>(w)) {
                chooser->findChild<QLineEdit *>(u"fileNameEdit"_qs)->setText(ours.filePath(AllBytes));
                static_cast<QDialog *>(chooser)->done(QDialog::Accepted);
            } else {
                progress = w;
            }
        });
        t.start();
        QProcess far;
        startFarEnd(far, line.farFd, u"rz"_qs, {u"-b"_qs}, theirs.path());
        QTRY_VERIFY_WITH_TIMEOUT(progress, 10000);
        QVERIFY(ended(far, 30000));
        QCOMPARE(contents(theirs.filePath(AllBytes)), sample(AllBytes));
        delete progress;
    }

    // A header with no transfer behind it is given up within ten seconds,
    // with one line saying so, and the terminal goes on.
    void falseHeaderGivesUp()
    {
        Line line;
        QVERIFY(line.open(Link::Pty));
        auto *router = line.handOver();
        QTemporaryDir downloads;
        RunningTerminal t(router);
        TransferGlue glue(t.window.get(), router, downloads.path());
        QPointer<TransferDialog> progress;
        ModalWatcher watcher;
        watcher.setDialogHandler([&](QWidget *w) { progress = qobject_cast<TransferDialog *>(w); });
        t.start();
        QVERIFY(PtyIo::write(line.pty, "**\x18" "B00"));
        QTRY_VERIFY(progress);
        QTRY_VERIFY_WITH_TIMEOUT(!progress->resultLine().isEmpty(), 15000);
        QVERIFY(progress->resultLine().contains(u"10 s"_qs));
        QVERIFY(PtyIo::write(line.pty, "\r\nOK\r\n"));
        QTRY_VERIFY(t.text1()->text().endsWith(u"OK\n"_qs));
        QVERIFY(QDir(downloads.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        delete progress;
    }
};

QTEST_MAIN(TestTransfer)
#include "tst_transfer.moc"
