// SPDX-License-Identifier: MIT
#include "openfailure.h"

#include <QFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <vector>
#endif

namespace {

// A path long enough to be refused for its length would fill the box.
QString shown(const QString &devicePath)
{
    return devicePath.size() <= 120 ? devicePath : devicePath.left(60) + u'\u2026' + devicePath.right(20);
}

CommError failure(CommError::Number number, const QString &devicePath, const QString &reason)
{
    return CommError(number, shown(devicePath) + QLatin1String(": ") + reason);
}

#ifdef Q_OS_UNIX

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Terminals that are no serial port: the controlling terminal (/dev/tty), the
// console, the pseudo-terminal multiplexer (/dev/ptmx, which would hand out a
// new pseudo-terminal) and the virtual consoles.
QString whyNotASerialPort(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("to katalog, nie port szeregowy");
    if (!S_ISCHR(st.st_mode))
        return QStringLiteral("to nie jest urządzenie znakowe, więc nie port szeregowy");
#ifdef Q_OS_LINUX
    const unsigned kind = major(st.st_rdev);
    const unsigned number = minor(st.st_rdev);
    if (kind == 5 && number <= 2)
        return QStringLiteral("to nie jest port szeregowy (terminal sterujący, konsola "
                              "albo multiplekser pseudoterminali)");
    if (kind == 4 && number < 64)
        return QStringLiteral("to konsola wirtualna, nie port szeregowy");
#endif
    return {};
}

CommError inUse(const QString &devicePath, const QString &reason, const QString &holder)
{
    QString detail = reason;
    if (!holder.isEmpty())
        detail += QStringLiteral("; używa go ") + holder;
    return failure(CommError::PortInUse, devicePath, detail);
}

bool contains(const std::vector<gid_t> &groups, gid_t gid)
{
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// The groups this process runs with.
bool sessionHasGroup(gid_t gid)
{
    std::vector<gid_t> groups(static_cast<size_t>(std::max(0, ::getgroups(0, nullptr))));
    groups.resize(static_cast<size_t>(std::max(0, ::getgroups(int(groups.size()), groups.data()))));
    return ::getegid() == gid || contains(groups, gid);
}

// The groups the user belongs to now, which a session started earlier may lack.
bool userInGroup(gid_t gid)
{
    const passwd *user = ::getpwuid(::getuid());
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(count));
    return contains(groups, gid);
}

// What the user can do about it, from the device's owner, group and mode.
QString permissionAdvice(const struct stat &st)
{
    const bool groupMayUse = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    if (!groupMayUse || st.st_gid == 0) {
        if (st.st_uid == 0)
            return QStringLiteral("otworzyć go może tylko root");
        const passwd *owner = ::getpwuid(st.st_uid);
        return QStringLiteral("otworzyć go może tylko jego właściciel, %1")
            .arg(owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid));
    }
    const group *g = ::getgrgid(st.st_gid);
    const QString name = g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
    if (userInGroup(st.st_gid) && !sessionHasGroup(st.st_gid))
        return QStringLiteral("należysz już do grupy %1, ale ta sesja powstała wcześniej; "
                              "zaloguj się ponownie").arg(name);
    return QStringLiteral("urządzenie należy do grupy %1: dodaj do niej użytkownika "
                          "(sudo usermod -aG %1 $USER) i zaloguj się ponownie").arg(name);
}

CommError denied(const QString &devicePath, const QString &reason)
{
    QString detail = reason;
    struct stat st{};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) == 0)
        detail += QLatin1String("; ") + permissionAdvice(st);
    return failure(CommError::PermissionDenied, devicePath, detail);
}

#endif // Q_OS_UNIX

} // namespace

void checkBeforeOpening([[maybe_unused]] const QString &devicePath)
{
#ifdef Q_OS_UNIX
    struct stat st{};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0) {
        if (errno == ENAMETOOLONG)
            throw failure(CommError::PortNotFound, devicePath, QStringLiteral("ścieżka jest za długa"));
        return; // missing: the opening says so in its own words
    }
    if (const QString why = whyNotASerialPort(st); !why.isEmpty())
        throw failure(CommError::PortNotFound, devicePath, why);
    // Qt would take a lock file in the old one-line form for a stale one.
    if (const auto lock = DeviceLock::findLockFile(devicePath); lock && lock->holderAlive)
        throw inUse(devicePath, QStringLiteral("zablokowany plikiem blokady ") + lock->path,
                    DeviceLock::describeProcess(lock->pid));
#endif
}

CommError openFailure(const QString &devicePath, QSerialPort::SerialPortError error,
                      const QString &qtReason)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::UnsupportedOperationError: // not a terminal at all
        return failure(CommError::PortNotFound, devicePath, qtReason);
    case QSerialPort::PermissionError:
        break;
    default:
#ifdef Q_OS_UNIX
        // ENXIO/EIO at open: a ttyS node with no UART behind it.
        if (::access(QFile::encodeName(devicePath).constData(), F_OK) != 0
            || error == QSerialPort::ResourceError)
            return failure(CommError::PortNotFound, devicePath, qtReason);
#endif
        return failure(CommError::UnknownFailure, devicePath, qtReason);
    }

#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(devicePath);
    // A lock file is the cheapest and kindest answer: it names the program. One
    // that names nobody yet is being written by a program opening the port
    // right now; whoever else has the device open is not to blame for it.
    if (const auto lock = DeviceLock::findLockFile(devicePath)) {
        if (lock->holderAlive)
            return inUse(devicePath, QStringLiteral("zablokowany plikiem blokady ") + lock->path,
                         DeviceLock::describeProcess(lock->pid));
        if (lock->pid == 0)
            return inUse(devicePath,
                         QStringLiteral("plik blokady %1 nie wskazuje jeszcze procesu; inny program "
                                        "właśnie otwiera port, spróbuj za chwilę").arg(lock->path),
                         {});
    }

    if (::access(path.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
        return denied(devicePath, systemReason(errno));

    // Ask the system itself; an exclusive (TIOCEXCL) or busy device says EBUSY.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int err = errno;
    if (fd >= 0) {
        // The device itself is free to us, so what stopped Qt was its lock.
        ::close(fd);
        return inUse(devicePath, qtReason, DeviceLock::processesHolding(devicePath));
    }
    if (err == EBUSY)
        return inUse(devicePath, systemReason(err), DeviceLock::processesHolding(devicePath));
    if (err == EACCES || err == EPERM)
        return denied(devicePath, systemReason(err));
    if (err == ENOENT || err == ENODEV || err == ENXIO)
        return failure(CommError::PortNotFound, devicePath, systemReason(err));
    return failure(CommError::UnknownFailure, devicePath, systemReason(err));
#else
    return failure(CommError::PermissionDenied, devicePath, qtReason);
#endif
}
