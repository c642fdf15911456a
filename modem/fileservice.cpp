// SPDX-License-Identifier: MIT
#include "fileservice.h"

#include "hayesmodempacer.h"

#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Bytes of lrzsz's output kept queued on the line at most: about a second at
// 9600 baud, so that a cancel from the user is not stuck behind seconds of data.
constexpr qsizetype MaxQueued = 1024;
// What the user sends towards lrzsz waits here; beyond it, it is dropped as by
// a modem without flow control (ZMODEM asks again for what got lost).
constexpr qsizetype MaxToChild = 256 * 1024;
// The socket between us and lrzsz: small, so what is in flight stays small.
constexpr int SocketBuffer = 16 * 1024;
constexpr qsizetype MaxLine = 256;
// A sender's session end: the hex header ZFIN.
const QByteArray SenderFinished = "\x18" "B08";
// Silence after it before rz is given the sender's closing "OO" itself.
constexpr int ClosingSilenceMs = 1000;

const QByteArray Menu = "Send DOWNLOAD to receive two sample files, UPLOAD to send one file "
                        "(ZMODEM), or BYE to hang up.\r\n";

} // namespace

FileService::FileService(QObject *parent)
    : HayesModemFarEnd(parent)
    , m_closing(new QTimer(this))
{
    // sz on a pseudo-terminal flushes its own closing "OO" away as it exits
    // (TCIOFLUSH), and rz would then wait half a minute for it: once the
    // sender has said ZFIN and fallen silent, rz is told what it said.
    m_closing->setSingleShot(true);
    connect(m_closing, &QTimer::timeout, this, [this] {
        m_toChild += "OO";
        writeToChild();
    });
}

FileService::~FileService()
{
    stopChild();
}

QList<std::pair<QString, QByteArray>> FileService::sampleFiles()
{
    QByteArray text;
    for (int i = 1; i <= 40; ++i)
        text += "Line " + QByteArray::number(i) + " of the sample text from the modemterm file service.\r\n";
    text += "Zażółć gęślą jaźń.\r\n";
    QByteArray binary;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b < 256; ++b)
            binary += char(round % 2 ? 255 - b : b);
    }
    return {{QStringLiteral("sample.txt"), text}, {QStringLiteral("allbytes.bin"), binary}};
}

void FileService::start()
{
    if (QStandardPaths::findExecutable(QStringLiteral("sz")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("rz")).isEmpty()) {
        Q_EMIT send("Welcome to the file service. It needs lrzsz (sz and rz), which is not "
                    "installed here. Goodbye.\r\n");
        Q_EMIT hangUp();
        return;
    }
    Q_EMIT send("Welcome to the modemterm file service.\r\n" + Menu);
}

void FileService::receive(QByteArrayView bytes)
{
    if (!m_child) {
        for (const char c : bytes)
            commandByte(c);
        return;
    }
    if (m_upload) {
        m_tail = (m_tail + bytes.toByteArray()).right(SenderFinished.size() + 16);
        if (m_closing->isActive() || m_tail.contains(SenderFinished))
            m_closing->start(ClosingSilenceMs);
    }
    const qsizetype room = MaxToChild - m_toChild.size();
    m_toChild += bytes.first(std::clamp<qsizetype>(room, 0, bytes.size()));
    if (m_writable)
        m_writable->setEnabled(!m_toChild.isEmpty());
}

void FileService::commandByte(char c)
{
    if (c == '\n')
        return;
    if (c == '\b' || c == '\x7f') {
        if (!m_line.isEmpty()) {
            m_line.chop(1);
            Q_EMIT send("\b \b");
        }
        return;
    }
    if (c != '\r') {
        if (uchar(c) < 0x20 || m_line.size() >= MaxLine)
            return;
        m_line += c;
        Q_EMIT send(QByteArray(1, c));
        return;
    }
    Q_EMIT send("\r\n");
    command(std::exchange(m_line, QByteArray()).trimmed().toUpper());
}

void FileService::command(const QByteArray &line)
{
    if (line == "DOWNLOAD" || line == "UPLOAD") {
        startTransfer(line == "UPLOAD");
    } else if (line == "BYE") {
        Q_EMIT send("Goodbye.\r\n");
        Q_EMIT hangUp();
    } else {
        Q_EMIT send(Menu);
    }
}

void FileService::startTransfer(bool upload)
{
    m_dir = std::make_unique<QTemporaryDir>();
    int pair[2] = {-1, -1};
    bool ready = m_dir->isValid() && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0;
    QStringList files;
    if (ready && !upload) {
        for (const auto &[name, bytes] : sampleFiles()) {
            QFile file(m_dir->filePath(name));
            ready = ready && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
            files << name;
        }
    }
    if (!ready) {
        if (pair[0] >= 0) {
            ::close(pair[0]);
            ::close(pair[1]);
        }
        m_dir.reset();
        Q_EMIT send("Sorry, the file service cannot make room for the files now.\r\n" + Menu);
        return;
    }
    for (const int fd : pair) {
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SocketBuffer, sizeof SocketBuffer);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &SocketBuffer, sizeof SocketBuffer);
    }
    m_upload = upload;
    m_socket = pair[0];
    ::fcntl(m_socket, F_SETFL, ::fcntl(m_socket, F_GETFL) | O_NONBLOCK);
    m_eof = m_exited = m_failedToStart = false;
    m_toChild.clear();
    m_tail.clear();

    Q_EMIT send(upload ? "Start sending your file by ZMODEM now.\r\n"
                       : "Sending sample.txt and allbytes.bin by ZMODEM.\r\n");

    m_child = new QProcess(this);
    m_child->setWorkingDirectory(m_dir->path());
    m_child->setStandardInputFile(QProcess::nullDevice());
    m_child->setStandardOutputFile(QProcess::nullDevice());
    m_child->setStandardErrorFile(QProcess::nullDevice());
    // The child talks over its end of the socket pair; dup2 keeps it across exec.
    const int childEnd = pair[1];
    m_child->setChildProcessModifier([childEnd] {
        ::dup2(childEnd, STDIN_FILENO);
        ::dup2(childEnd, STDOUT_FILENO);
    });
    connect(m_child, &QProcess::finished, this, [this] {
        m_exited = true;
        transferEnded();
    });
    connect(m_child, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_failedToStart = m_exited = m_eof = true;
        transferEnded();
    });
    // Binary, quiet; rz refuses paths and renames rather than overwrite.
    if (upload)
        m_child->start(QStringLiteral("rz"), {QStringLiteral("-b"), QStringLiteral("-q"), QStringLiteral("-E"),
                                              QStringLiteral("-R")});
    else
        m_child->start(QStringLiteral("sz"), QStringList{QStringLiteral("-b"), QStringLiteral("-q")} + files);
    ::close(childEnd);
    if (!m_child)
        return; // it failed to start and is gone already

    m_readable = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &FileService::pumpFromChild);
    m_writable = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &FileService::writeToChild);
    pumpFromChild();
}

void FileService::lineFreed()
{
    if (m_readable && !m_readable->isEnabled())
        schedulePump();
}

void FileService::schedulePump()
{
    // Queued: the modem may be in the middle of handing out its output.
    if (std::exchange(m_pumpQueued, true))
        return;
    QMetaObject::invokeMethod(this, [this] {
        m_pumpQueued = false;
        pumpFromChild();
    }, Qt::QueuedConnection);
}

void FileService::pumpFromChild()
{
    if (m_socket < 0 || m_eof)
        return;
    for (;;) {
        const qsizetype room = MaxQueued - (HayesModemPacer::Capacity - lineRoom());
        if (room <= 0) {
            // The line is behind: lrzsz waits until the modem has room again.
            m_readable->setEnabled(false);
            return;
        }
        char buf[MaxQueued];
        const ssize_t n = ::read(m_socket, buf, size_t(std::min<qsizetype>(room, sizeof buf)));
        if (n > 0) {
            Q_EMIT send(QByteArray(buf, n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_readable->setEnabled(true);
            return;
        }
        m_eof = true;
        m_readable->setEnabled(false);
        transferEnded();
        return;
    }
}

void FileService::writeToChild()
{
    while (!m_toChild.isEmpty() && m_socket >= 0) {
        const ssize_t n = ::send(m_socket, m_toChild.constData(), size_t(m_toChild.size()), MSG_NOSIGNAL);
        if (n > 0) {
            m_toChild.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        m_toChild.clear(); // lrzsz has gone; what it did not take is of no use
    }
    if (m_writable)
        m_writable->setEnabled(!m_toChild.isEmpty());
}

void FileService::transferEnded()
{
    // Done when lrzsz has exited and all it wrote has gone to the line.
    if (!m_eof || !m_exited)
        return;
    const bool failed = m_failedToStart;
    const int status = failed ? -1 : m_child->exitStatus() == QProcess::NormalExit ? m_child->exitCode() : -1;
    QByteArray report;
    if (failed) {
        report = "Sorry, lrzsz could not be started.\r\n";
    } else if (m_upload) {
        const QFileInfoList got = QDir(m_dir->path()).entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo &file : got)
            report += "Received " + file.fileName().toUtf8() + ", " + QByteArray::number(file.size())
                      + " bytes (not kept).\r\n";
        if (got.isEmpty())
            report = "Nothing was received.\r\n";
    }
    if (!failed && status != 0)
        report += "The transfer did not finish (lrzsz status " + QByteArray::number(status) + ").\r\n";
    else if (!failed && !m_upload)
        report += "Both files sent.\r\n";
    stopChild();
    Q_EMIT send("\r\n" + report + Menu);
}

void FileService::stopChild()
{
    delete std::exchange(m_readable, nullptr);
    delete std::exchange(m_writable, nullptr);
    if (m_socket >= 0)
        ::close(std::exchange(m_socket, -1));
    if (QProcess *child = std::exchange(m_child, nullptr)) {
        child->disconnect(this);
        if (child->state() != QProcess::NotRunning) {
            child->kill();
            child->waitForFinished(2000);
        }
        child->deleteLater();
    }
    m_toChild.clear();
    m_closing->stop();
    m_dir.reset();
}
