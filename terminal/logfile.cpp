// SPDX-License-Identifier: MIT
#include "logfile.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A sticky directory everyone may write to, such as /tmp.
bool isSharedDirectory(const QByteArray &directory)
{
    struct stat st;
    return ::stat(directory.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)
        && (st.st_mode & S_IWOTH);
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

struct PlantedLink
{
    QByteArray link;
    QByteArray directory;
};

// The first symbolic link on the way to `path` that lies in a shared
// directory and belongs neither to us nor to the directory's owner: anyone
// could have put it there, to make us write where they may not. The kernel
// refuses such links itself where protected_symlinks is on; not everywhere is.
std::optional<PlantedLink> plantedLink(QByteArray path)
{
    if (!path.startsWith('/'))
        path = QFile::encodeName(QDir::currentPath()) + '/' + path;
    for (qsizetype from = 1;;) {
        const qsizetype slash = path.indexOf('/', from);
        const QByteArray prefix = slash == -1 ? path : path.left(slash);
        struct stat link;
        if (!prefix.endsWith('/') && ::lstat(prefix.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
            const QByteArray directory = parentOf(prefix);
            struct stat dir;
            if (isSharedDirectory(directory) && ::stat(directory.constData(), &dir) == 0
                && link.st_uid != ::geteuid() && link.st_uid != dir.st_uid)
                return PlantedLink{prefix, directory};
        }
        if (slash == -1)
            break;
        from = slash + 1;
    }
    return std::nullopt;
}

QString plantedLinkRefusal(const QString &path, const PlantedLink &planted)
{
    return QStringLiteral("nie otworzę dziennika „%1”: „%2” to dowiązanie symboliczne innego użytkownika "
                          "w katalogu %3, do którego każdy może pisać; ktoś mógł je tam podłożyć")
        .arg(path, QFile::decodeName(planted.link), QFile::decodeName(planted.directory));
}

} // namespace

std::unique_ptr<LogFile> LogFile::open(const QString &path, QString *error)
{
    const auto refuse = [&](const QString &reason) {
        if (error)
            *error = QStringLiteral("nie mogę otworzyć dziennika „%1”: %2").arg(path, reason);
        return nullptr;
    };
    const QByteArray name = QFile::encodeName(path);
    if (const auto planted = plantedLink(name)) {
        if (error)
            *error = plantedLinkRefusal(path, *planted);
        return nullptr;
    }
    // In a shared directory a link that was not there a moment ago is not followed either.
    int flags = O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC;
    struct stat st;
    if (isSharedDirectory(parentOf(name)) && !(::lstat(name.constData(), &st) == 0 && S_ISLNK(st.st_mode)))
        flags |= O_NOFOLLOW;
    // Only a regular file is read; opening a FIFO to read would wait for a writer.
    const bool regular = ::stat(name.constData(), &st) != 0 || S_ISREG(st.st_mode);
    int fd = regular ? ::open(name.constData(), flags | O_RDWR, 0600) : -1;
    const bool readable = fd >= 0;
    if (fd < 0)
        fd = ::open(name.constData(), flags | O_WRONLY, 0600);
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP && (flags & O_NOFOLLOW)) {
            if (error)
                *error = plantedLinkRefusal(path, {name, parentOf(name)});
            return nullptr;
        }
        if (err == ENXIO && !regular && S_ISFIFO(st.st_mode))
            return refuse(QStringLiteral("nikt nie czyta z tego potoku (najpierw uruchom program, który z niego czyta)"));
        return refuse(qt_error_string(err));
    }

    std::unique_ptr<LogFile> file(new LogFile);
    file->m_fd = fd;
    file->m_path = path;
    char last = '\n';
    if (readable && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
        && ::pread(fd, &last, 1, st.st_size - 1) == 1)
        file->m_endsMidLine = last != '\n';
    return file;
}

LogFile::~LogFile()
{
    if (m_fd < 0)
        return;
    // A slow reader gets a moment for the rest; one that stopped reading does not hold the end up.
    const QDeadlineTimer deadline(1000);
    while (!m_backlog.isEmpty() && !deadline.hasExpired()) {
        pollfd out{m_fd, POLLOUT, 0};
        if (::poll(&out, 1, int(deadline.remainingTime())) <= 0)
            break;
        const qsizetype n = writeNow(m_backlog);
        if (n < 0)
            break;
        m_backlog.remove(0, n);
    }
    ::close(m_fd);
}

qsizetype LogFile::writeNow(QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            m_error = n < 0 && errno == EPIPE ? QStringLiteral("nikt już nie czyta z potoku") : qt_error_string(errno);
            return -1;
        }
    }
    return done;
}

bool LogFile::write(QByteArrayView bytes)
{
    if (m_fd < 0)
        return false;
    if (m_backlog.isEmpty()) {
        const qsizetype n = writeNow(bytes);
        if (n < 0)
            return fail(m_error);
        bytes = bytes.sliced(n);
    }
    if (bytes.isEmpty())
        return true;
    if (m_backlog.size() + bytes.size() > BacklogBytes)
        return fail(QStringLiteral("odbiorca nie nadąża czytać (czeka na niego ponad 1 MiB)"));
    m_backlog.append(bytes);
    if (!m_writable) {
        m_writable = new QSocketNotifier(qintptr(m_fd), QSocketNotifier::Write, this);
        connect(m_writable, &QSocketNotifier::activated, this, &LogFile::drain);
    }
    m_writable->setEnabled(true);
    return true;
}

void LogFile::drain()
{
    const qsizetype n = writeNow(m_backlog);
    if (n < 0) {
        fail(m_error);
        Q_EMIT failed(m_error);
        return;
    }
    m_backlog.remove(0, n);
    if (m_backlog.isEmpty())
        m_writable->setEnabled(false);
}

bool LogFile::fail(const QString &reason)
{
    m_error = reason;
    if (m_writable)
        m_writable->setEnabled(false);
    m_backlog = QByteArray();
    ::close(m_fd);
    m_fd = -1;
    return false;
}
