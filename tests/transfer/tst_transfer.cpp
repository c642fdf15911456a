// SPDX-License-Identifier: MIT
#include "filetransfer.h"
#include "modalwatcher.h"
#include "ptyio.h"
#include "runningterminal.h"
#include "sessionlog.h"
#include "transferdialog.h"
#include "transferglue.h"

#include <QDir>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTcpServer>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

using Protocol = FileTransfer::Protocol;
using Direction = FileTransfer::Direction;
using Outcome = FileTransfer::Outcome;

namespace {

const QString Empty = "pusty", Big = "duży.bin", Polish = "zażółć gęślą jaźń.txt";

QByteArray contents(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
}

// Random bytes, every value among them, in whole XMODEM blocks (XMODEM fills
// the last block with ^Z).
QByteArray sample(const QString &name)
{
    QByteArray bytes(name == Big ? 1 << 20 : name == Empty ? 0 : 5120, 0);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes;
}

// Takes connections without reading them, so a child can have the socket.
struct DeviceServer : QTcpServer
{
    int socket = -1;
    ~DeviceServer() override { ::close(socket); }
    void incomingConnection(qintptr fd) override { socket = int(fd); }
};

// A TCP connection whose far end the test hands to lrzsz, our folder and
// theirs, and our end of a transfer over it.
struct Session
{
    PseudoTerminal pty;
    DeviceServer device;
    QTemporaryDir ours, theirs;
    QProcess far;
    PortRouter *router = new PortRouter(&far); // until a window takes it
    FileTransfer::Request request;
    std::unique_ptr<FileTransfer> transfer;

    Session() { far.setWorkingDirectory(theirs.path()); }

    // lrzsz at the far end of the line (in binary mode), its standard input and output on `fd`.
    void startFar(int fd, const QString &program, const QStringList &args)
    {
        far.setChildProcessModifier([fd] {
            ::dup2(fd, STDIN_FILENO);
            ::dup2(fd, STDOUT_FILENO);
            ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) & ~O_NONBLOCK);
        });
        far.start(program, QStringList{"-b"} + args);
    }

    // Opens the port (COM 1), starts lrzsz's `program` at the far end, then
    // our end on `request`.
    void start(const QString &program, const QStringList &args)
    {
        request.downloadFolder = ours.path();
        transfer = std::make_unique<FileTransfer>(router, request);
        QObject::connect(router, &CommControl::OnComm, transfer.get(), [this] { transfer->received(router->Input()); });
        device.listen(QHostAddress::LocalHost);
        router->bindPort(1, "socket://127.0.0.1:" + QString::number(device.serverPort()));
        router->setRThreshold(1);
        router->setPortOpen(true);
        QVERIFY(device.waitForNewConnection(10000));
        startFar(device.socket, program, args);
        QString error;
        QVERIFY(transfer->start(&error));
    }

    // What the download folder holds.
    QStringList left() const { return QDir(ours.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot); }

    // The far end ends within 30 s, waited for with the event loop running:
    // the port may still have bytes for it.
    void farEnds() { QTRY_COMPARE_WITH_TIMEOUT(far.state(), QProcess::NotRunning, 30000); }
};

// The window on the pseudo-terminal, with transfers on, not yet started.
struct Window : Session
{
    RunningTerminal t{router};
    TransferGlue glue{t.window.get(), router, ours.path()};

    Window()
    {
        pty.open();
        router->bindPort(2, pty.path());
    }
};

} // namespace

// Whole transfers with real lrzsz at the far end of a pseudo-terminal and of
// a TCP connection, and the window starting one by itself.
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
        QTest::addColumn<bool>("upload");
        QTest::addColumn<Protocol>("protocol");
        for (bool upload : {true, false})
            for (Protocol p : {Protocol::Zmodem, Protocol::Ymodem, Protocol::Xmodem})
                QTest::addRow("%s, %s", upload ? "upload" : "download", qPrintable(FileTransfer::protocolName(p)))
                    << upload << p;
    }
    void filesArriveIntact()
    {
        QFETCH(bool, upload);
        QFETCH(Protocol, protocol);
        // A batch by ZMODEM; one file by XMODEM, which carries no name, and by
        // YMODEM, whose answer to every block lrzsz gives some 50 ms late.
        const QStringList files = protocol == Protocol::Zmodem ? QStringList{Empty, Big, Polish} : QStringList{Polish};
        Session s;
        const QTemporaryDir &source = upload ? s.ours : s.theirs, &target = upload ? s.theirs : s.ours;
        s.request.direction = upload ? Direction::Send : Direction::Receive;
        s.request.protocol = protocol;
        s.request.xmodemName = Polish;
        for (const QString &name : files) {
            put(source.filePath(name), sample(name));
            s.request.files += source.filePath(name); // what a download does not read
        }
        // The far end's sender is given the files, its receiver the name by XMODEM.
        s.start(FileTransfer::programName(protocol, upload ? Direction::Receive : Direction::Send),
                upload && protocol != Protocol::Xmodem ? QStringList{} : files);
        QTRY_VERIFY_WITH_TIMEOUT(!s.transfer->isRunning(), 60000);
        QCOMPARE(s.transfer->outcome(), Outcome::Done);
        s.farEnds();
        for (const QString &name : files)
            QCOMPARE(contents(target.filePath(name)), sample(name));
    }

    // Whatever name the far end sends, the file lands in the download folder
    // under a plain name, next to what was there, or not at all, and a name
    // refused is told.
    void receivedNamesAreSafe_data()
    {
        QTest::addColumn<QString>("sent");      // the far end's argument
        QTest::addColumn<QStringList>("saved"); // what the download folder then holds
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("up a folder") << "../x" << QStringList{"x.bin"} << Outcome::Failed;
        QTest::newRow("control characters") << "a\u0001b\u001b.txt" << QStringList{"ab.txt", "x.bin"} << Outcome::Done;
        QTest::newRow("name taken") << "x.bin" << QStringList{"x (2).bin", "x.bin"} << Outcome::Done;
    }
    void receivedNamesAreSafe()
    {
        QFETCH(QString, sent);
        Session s;
        const QString folder = s.theirs.filePath("sub");
        QDir().mkpath(folder);
        put(folder + '/' + sent, "far");
        put(s.ours.filePath("x.bin"), "old");
        s.far.setWorkingDirectory(folder);
        s.start("sz", {"-f", sent});
        QTRY_VERIFY_WITH_TIMEOUT(!s.transfer->isRunning(), 30000);
        QTEST(s.left(), "saved");
        QTEST(s.transfer->outcome(), "outcome");
        if (sent == "x.bin")
            QVERIFY(TransferDialog::summary(*s.transfer).contains("x (2).bin"));
    }

    // Stopped from either end, or the far end gone, a download stops, says
    // why, and leaves nothing that looks like a whole file.
    void interruptedDownloadLeavesNoWholeFile_data()
    {
        QTest::addColumn<Outcome>("outcome"); // and so how it stops
        QTest::addColumn<QStringList>("left"); // in the download folder (lrzsz removes what it gave up itself)
        QTest::newRow("Przerwij") << Outcome::Cancelled << QStringList{Big + ".part"};
        QTest::newRow("far end cancels") << Outcome::FarCancelled << QStringList{};
        QTest::newRow("far end closes") << Outcome::LineLost << QStringList{Big + ".part"};
    }
    void interruptedDownloadLeavesNoWholeFile()
    {
        QFETCH(Outcome, outcome);
        Session s;
        put(s.theirs.filePath(Big), QByteArray(40 << 20, 'x'));
        s.start("sz", {Big});
        QTRY_VERIFY_WITH_TIMEOUT(s.transfer->currentDone() > 1 << 20, 20000);
        if (outcome == Outcome::Cancelled) {
            s.transfer->cancel();
        } else {
            s.far.kill();
            s.farEnds();
            // The far end's user stops it with Ctrl+X, as lrzsz itself does.
            if (outcome == Outcome::FarCancelled)
                QCOMPARE(::write(s.device.socket, "\x18\x18\x18\x18\x18", 5), 5);
            else
                ::shutdown(s.device.socket, SHUT_RDWR);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!s.transfer->isRunning(), 5000);
        QCOMPARE(s.transfer->outcome(), outcome);
        s.farEnds();
        QTEST(s.left(), "left");
    }

    // The far end's sz starts a download by itself: the text before the
    // header shows, however the header is split; the file arrives; the log
    // tells of it.
    void zmodemStartsByItself()
    {
        Window s;
        put(s.theirs.filePath(Polish), sample(Polish));
        const QString logPath = s.theirs.filePath("log.txt");
        s.t.window->setSessionLog(SessionLog::open({logPath, {}, false}, "test", nullptr));
        s.t.start();
        QVERIFY(PtyIo::write(s.pty, "Witaj\r\n*"));
        QTRY_VERIFY(s.t.text1()->text().contains("Witaj"));
        QVERIFY(PtyIo::write(s.pty, "*\x18" "B00"));
        QTRY_VERIFY(s.glue.holdsPort());
        s.startFar(s.pty.masterFd(), "sz", {Polish});
        QTRY_VERIFY_WITH_TIMEOUT(!s.glue.holdsPort(), 30000);
        QCOMPARE(contents(s.ours.filePath(Polish)), sample(Polish));
        QTRY_VERIFY(contents(logPath).contains(Polish.toUtf8()));
    }

    // The far end's rz announcing itself opens the file chooser; the file
    // chosen goes out at once.
    void farReceiverOpensTheChooser()
    {
        Window s;
        put(s.ours.filePath(Polish), sample(Polish));
        ModalWatcher watcher;
        watcher.setDialogHandler([&](QWidget *w) { // the progress stays
            if (auto *name = w->findChild<QLineEdit *>("fileNameEdit")) { // the chooser's
                name->setText(s.ours.filePath(Polish));
                QMetaObject::invokeMethod(w, "accept");
            }
        });
        s.t.start();
        s.startFar(s.pty.masterFd(), "rz", {});
        s.farEnds();
        QCOMPARE(contents(s.theirs.filePath(Polish)), sample(Polish));
    }

    // A header with no transfer behind it is given up within ten seconds,
    // with a line saying so, and the terminal goes on.
    void falseHeaderGivesUp()
    {
        Window s;
        s.t.start();
        QVERIFY(PtyIo::write(s.pty, "**\x18" "B00"));
        QTRY_VERIFY(QApplication::activeModalWidget());
        QTRY_VERIFY_WITH_TIMEOUT(!static_cast<TransferDialog *>(QApplication::activeModalWidget())->resultLine().isEmpty(), 15000);
        QVERIFY(PtyIo::write(s.pty, "\r\nOK\r\n"));
        QTRY_COMPARE(s.t.text1()->text(), "\nOK\n"); // and no header
    }
};

QTEST_MAIN(TestTransfer)
#include "tst_transfer.moc"
