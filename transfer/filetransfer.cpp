// SPDX-License-Identifier: MIT
#include "filetransfer.h"

#include "commcontrol.h"
#include "safename.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// What lrzsz itself sends to stop a transfer: ten CANs, then backspaces to
// wipe them from a screen the far end may be showing. XMODEM and YMODEM stop
// on two CANs, so the same serves every protocol.
const QByteArray CancelSequence = QByteArray(10, '\x18') + QByteArray(10, '\b');

constexpr qint64 ReadChunk = 16 * 1024;
constexpr int DrainPollMs = 10;
constexpr int FalseStartMs = 10000;

} // namespace

FileTransfer::FileTransfer(CommControl *port, Request request, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_request(std::move(request))
    , m_child(new QProcess(this))
    , m_drainTimer(new QTimer(this))
    , m_falseStartTimer(new QTimer(this))
{
    m_drainTimer->setInterval(DrainPollMs);
    connect(m_drainTimer, &QTimer::timeout, this, &FileTransfer::drainCheck);
    m_falseStartTimer->setSingleShot(true);
    m_falseStartTimer->setInterval(FalseStartMs);
    connect(m_falseStartTimer, &QTimer::timeout, this, &FileTransfer::giveUpFalseStart);
    connect(m_child, &QProcess::finished, this, &FileTransfer::childExited);
    connect(m_child, &QProcess::readyReadStandardError, this, [this] {
        const int startedBefore = m_progress.filesStarted;
        const qint64 doneBefore = std::max<qint64>(0, currentDone());
        m_progress.feed(m_child->readAllStandardError());
        if (m_progress.filesStarted != startedBefore) {
            if (startedBefore > 0)
                m_finishedFilesBytes += doneBefore;
            m_falseStartTimer->stop();
        }
    });
    connect(m_port, &CommControl::PortFailed, this, &FileTransfer::portFailed);
    // The port says when it has caught up; the timer is for ports that cannot.
    connect(m_port, &CommControl::OnComm, this, [this] {
        if (m_port->CommEvent() == CommControl::comEvSend && m_drainTimer->isActive())
            drainCheck();
    });
}

FileTransfer::~FileTransfer()
{
    closePipe();
    if (m_child->state() != QProcess::NotRunning) {
        m_child->kill();
        m_child->waitForFinished(2000);
    }
}

QString FileTransfer::programName(Protocol protocol, Direction direction)
{
    const bool send = direction == Direction::Send;
    switch (protocol) {
    case Protocol::Zmodem:
        return send ? QStringLiteral("sz") : QStringLiteral("rz");
    case Protocol::Ymodem:
        return send ? QStringLiteral("sb") : QStringLiteral("rb");
    case Protocol::Xmodem1k:
    case Protocol::Xmodem:
        break;
    }
    return send ? QStringLiteral("sx") : QStringLiteral("rx");
}

QString FileTransfer::protocolName(Protocol protocol)
{
    switch (protocol) {
    case Protocol::Zmodem:
        return QStringLiteral("ZMODEM");
    case Protocol::Ymodem:
        return QStringLiteral("YMODEM");
    case Protocol::Xmodem1k:
        return QStringLiteral("XMODEM-1K");
    case Protocol::Xmodem:
        break;
    }
    return QStringLiteral("XMODEM");
}

bool FileTransfer::lrzszFound()
{
    for (const char *name : {"sz", "rz", "sb", "rb", "sx", "rx"})
        if (QStandardPaths::findExecutable(QLatin1String(name)).isEmpty())
            return false;
    return true;
}

QStringList FileTransfer::arguments() const
{
    QStringList args{QStringLiteral("-vv"), QStringLiteral("-b")};
    if (m_request.direction == Direction::Send) {
        // YMODEM's blocks are 1 KiB; lrzsz sends 128 bytes unless told.
        if (m_request.protocol == Protocol::Xmodem1k || m_request.protocol == Protocol::Ymodem)
            args << QStringLiteral("-k");
        return args + m_request.files;
    }
    // Restricted: no names outside the folder, no remote commands.
    args << QStringLiteral("-R");
    if (m_request.protocol == Protocol::Zmodem || m_request.protocol == Protocol::Ymodem)
        return args << QStringLiteral("-u");
    return args << QStringLiteral("-c") << QStringLiteral("--") << SafeName::sanitize(m_request.xmodemName);
}

bool FileTransfer::start(QString *error)
{
    const QString name = programName(m_request.protocol, m_request.direction);
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) {
        *error = QStringLiteral("Nie znaleziono programu %1; zainstaluj pakiet lrzsz.").arg(name);
        return false;
    }
    if (m_request.direction == Direction::Receive) {
        if (!QDir().mkpath(m_request.downloadFolder)) {
            *error = QStringLiteral("Nie mogę utworzyć folderu „%1”.").arg(m_request.downloadFolder);
            return false;
        }
        m_staging = std::make_unique<QTemporaryDir>(QDir(m_request.downloadFolder).filePath(QStringLiteral(".modemterm-XXXXXX")));
        if (!m_staging->isValid()) {
            *error = QStringLiteral("Nie mogę pisać w folderze „%1”: %2").arg(m_request.downloadFolder, m_staging->errorString());
            return false;
        }
        m_child->setWorkingDirectory(m_staging->path());
    } else {
        for (const QString &file : m_request.files) {
            const QFileInfo info(file);
            if (!info.isFile() || !info.isReadable()) {
                *error = QStringLiteral("Nie mogę odczytać pliku „%1”.").arg(file);
                return false;
            }
            m_sendSizes.insert(info.fileName(), info.size());
        }
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("Nie mogę uruchomić programu %1: %2").arg(name, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    const int childOut = fds[1];
    // lrzsz writes into our pipe, not into Qt's buffer, so that it waits
    // while the port is behind.
    m_child->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    m_child->setChildProcessModifier([childOut] { ::dup2(childOut, STDOUT_FILENO); });
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    m_child->setProcessEnvironment(env);
    m_child->start(program, arguments());
    const bool started = m_child->waitForStarted(5000);
    ::close(childOut);
    if (!started) {
        ::close(fds[0]);
        *error = QStringLiteral("Nie mogę uruchomić programu %1: %2").arg(name, m_child->errorString());
        return false;
    }
    m_pipe = fds[0];
    m_pipeNotifier = new QSocketNotifier(m_pipe, QSocketNotifier::Read, this);
    connect(m_pipeNotifier, &QSocketNotifier::activated, this, &FileTransfer::readChild);
    m_running = true;
    m_clock.start();
    if (!m_request.firstBytes.isEmpty())
        m_child->write(m_request.firstBytes);
    if (m_request.autostarted)
        m_falseStartTimer->start();
    return true;
}

void FileTransfer::received(const QByteArray &bytes)
{
    if (!m_running || m_stopped || m_child->state() != QProcess::Running)
        return;
    m_child->write(bytes);
    // The cancel sequence: five CANs in a row, which no ZMODEM frame holds.
    for (const char c : bytes) {
        m_cancelRun = c == '\x18' ? m_cancelRun + 1 : 0;
        if (m_cancelRun >= 5)
            m_farCancelled = true;
    }
}

void FileTransfer::readChild()
{
    char buffer[ReadChunk];
    while (m_pipe >= 0) {
        if (m_port->OutBufferCount() > MaxQueued - ReadChunk) {
            // The port is behind: lrzsz waits on a full pipe until it drains.
            m_pipeNotifier->setEnabled(false);
            m_drainTimer->start();
            m_port->setSThreshold(MaxQueued / 2 + 1);
            return;
        }
        const ssize_t n = ::read(m_pipe, buffer, sizeof buffer);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) { // lrzsz is done writing
            closePipe();
            finishIfDone();
            return;
        }
        try {
            m_port->setOutput(QByteArray(buffer, n));
        } catch (const CommError &error) {
            stop(Outcome::LineLost, error.description());
            return;
        }
    }
}

void FileTransfer::drainCheck()
{
    if (m_pipe < 0) {
        m_drainTimer->stop();
        return;
    }
    if (m_port->OutBufferCount() > MaxQueued / 2)
        return;
    m_drainTimer->stop();
    m_port->setSThreshold(0);
    m_pipeNotifier->setEnabled(true);
    readChild();
}

void FileTransfer::closePipe()
{
    m_drainTimer->stop();
    if (m_port)
        m_port->setSThreshold(0);
    if (m_pipeNotifier) {
        m_pipeNotifier->setEnabled(false);
        m_pipeNotifier->deleteLater();
        m_pipeNotifier = nullptr;
    }
    if (m_pipe >= 0)
        ::close(m_pipe);
    m_pipe = -1;
}

void FileTransfer::cancel()
{
    stop(Outcome::Cancelled, QStringLiteral("Przerwano przesyłanie."));
}

void FileTransfer::portFailed(const CommError &error)
{
    stop(Outcome::LineLost, QStringLiteral("Połączenie zerwane (błąd %1: %2).").arg(error.number()).arg(error.description()));
}

void FileTransfer::giveUpFalseStart()
{
    if (m_progress.filesStarted == 0)
        stop(Outcome::FalseStart, QStringLiteral("Nagłówek ZMODEM bez przesyłania: przez 10 s nie nadszedł żaden plik; "
                                                 "terminal wraca do pracy."));
}

void FileTransfer::stop(Outcome outcome, const QString &message)
{
    if (!m_running || m_stopped)
        return;
    m_stopped = true;
    m_outcome = outcome;
    m_message = message;
    m_falseStartTimer->stop();
    closePipe(); // what lrzsz still had for the port is dropped
    if (outcome != Outcome::LineLost && m_port->PortOpen()) {
        try {
            m_port->setOutBufferCount(0);
            m_port->setOutput(CancelSequence);
        } catch (const CommError &) {
            // The line is gone too; there is no one left to tell.
        }
    }
    if (m_child->state() != QProcess::NotRunning)
        m_child->kill();
    else
        finishIfDone();
}

void FileTransfer::childExited(int exitCode, QProcess::ExitStatus status)
{
    m_exited = true;
    m_exitCode = status == QProcess::NormalExit ? exitCode : -1;
    m_progress.feed(m_child->readAllStandardError());
    finishIfDone();
}

void FileTransfer::finishIfDone()
{
    if (!m_running || !m_exited || (m_pipe >= 0 && !m_stopped))
        return;
    closePipe();
    m_running = false;
    m_falseStartTimer->stop();
    if (!m_stopped) {
        if (m_exitCode == 0) {
            m_outcome = Outcome::Done;
            m_message = QStringLiteral("Gotowe.");
        } else if (m_progress.farCancelled || m_farCancelled) {
            m_outcome = Outcome::FarCancelled;
            m_message = QStringLiteral("Druga strona przerwała przesyłanie.");
        } else {
            m_outcome = Outcome::Failed;
            const QString why = m_progress.lastMessage.isEmpty() ? QStringLiteral("kod wyjścia %1").arg(m_exitCode)
                                                                 : m_progress.lastMessage;
            m_message = QStringLiteral("%1 zgłasza błąd: %2").arg(programName(m_request.protocol, m_request.direction), why);
        }
    }
    if (m_request.direction == Direction::Receive) {
        collectReceived();
    } else {
        for (const QString &file : m_request.files) {
            const QFileInfo info(file);
            m_files.append({info.fileName(), info.size(), m_outcome == Outcome::Done});
        }
    }
    Q_EMIT finished();
}

void FileTransfer::collectReceived()
{
    if (!m_staging)
        return;
    QList<QFileInfo> staged;
    QDirIterator it(m_staging->path(), QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        staged.append(it.fileInfo());
    }
    std::sort(staged.begin(), staged.end(), [](const QFileInfo &a, const QFileInfo &b) {
        return a.lastModified() < b.lastModified();
    });
    for (qsizetype i = 0; i < staged.size(); ++i) {
        const QFileInfo &file = staged[i];
        const qint64 size = file.size(); // before the move, while the path still leads to it
        // Cut short: the one lrzsz was writing last.
        const bool complete = m_outcome == Outcome::Done || i + 1 < staged.size();
        if (!complete && size == 0) {
            QFile::remove(file.filePath());
            continue;
        }
        QString name = SafeName::sanitize(file.fileName());
        if (!complete)
            name += QLatin1String(".part");
        QString error;
        const QString saved = SafeName::moveInto(file.filePath(), m_request.downloadFolder, name, &error);
        if (saved.isEmpty()) {
            m_outcome = Outcome::Failed;
            m_message = QStringLiteral("Nie mogę zapisać pliku „%1” w folderze „%2”: %3")
                            .arg(name, m_request.downloadFolder, error);
            continue;
        }
        m_files.append({saved, size, complete});
    }
    m_staging.reset();
}

QString FileTransfer::currentFile() const
{
    if (!m_progress.fileName.isEmpty())
        return SafeName::sanitize(m_progress.fileName);
    if (m_request.direction == Direction::Receive)
        return m_request.xmodemName;
    return m_request.files.isEmpty() ? QString() : QFileInfo(m_request.files.first()).fileName();
}

qint64 FileTransfer::currentDone() const
{
    if (m_progress.done >= 0)
        return m_progress.done;
    if (m_request.direction == Direction::Send || !m_staging)
        return 0;
    // XMODEM and YMODEM receivers count blocks only: the file's growth says more.
    QDateTime newest;
    qint64 size = 0;
    QDirIterator it(m_staging->path(), QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (!newest.isValid() || it.fileInfo().lastModified() > newest) {
            newest = it.fileInfo().lastModified();
            size = it.fileInfo().size();
        }
    }
    return size;
}

qint64 FileTransfer::currentTotal() const
{
    if (m_progress.total >= 0)
        return m_progress.total;
    if (m_request.direction == Direction::Send)
        return m_sendSizes.value(QFileInfo(currentFile()).fileName(), m_sendSizes.size() == 1 ? m_sendSizes.begin().value() : -1);
    return -1;
}

qint64 FileTransfer::bytesSoFar() const
{
    return m_finishedFilesBytes + std::max<qint64>(0, currentDone());
}
