#include "openfailure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QString describeProcess(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    QString name;
    if (comm.open(QIODevice::ReadOnly))
        name = QString::fromLocal8Bit(comm.readAll()).trimmed();
    return name.isEmpty() ? QStringLiteral("proces %1").arg(pid)
                          : QStringLiteral("proces %1 (%2)").arg(pid).arg(name);
}

bool processAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Lock files are named after the device: the UUCP tradition uses the base
// name ("LCK..ttyS1"), Qt the path below /dev with slashes made underscores
// ("LCK..pts_3"); both are looked for.
QStringList lockFileCandidates(const QString &devicePath)
{
    static const char *const directories[] = {
        "/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
        "/tmp", "/var/tmp", "/var/lock/lockdev",
    };
    QString belowDev = devicePath;
    if (belowDev.startsWith(QLatin1String("/dev/")))
        belowDev.remove(0, 5);
    const QStringList names{QFileInfo(devicePath).fileName(),
                            QString(belowDev).replace(u'/', u'_')};
    QStringList paths;
    for (const char *dir : directories) {
        for (const QString &name : names) {
            const QString path = QString::fromLatin1(dir) + QLatin1String("/LCK..") + name;
            if (!paths.contains(path))
                paths += path;
        }
    }
    return paths;
}

QString groupOf(const QString &devicePath)
{
    struct stat st{};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0)
        return {};
    if (const group *g = ::getgrgid(st.st_gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(st.st_gid);
}

CommError inUse(const QString &devicePath, const QString &reason, const QString &holder)
{
    QString detail = devicePath + QLatin1String(": ") + reason;
    if (!holder.isEmpty())
        detail += QStringLiteral("; używa go ") + holder;
    return CommError(CommError::PortInUse, detail);
}

CommError denied(const QString &devicePath, const QString &reason)
{
    QString detail = devicePath + QLatin1String(": ") + reason;
    const QString group = groupOf(devicePath);
    if (!group.isEmpty())
        detail += QStringLiteral("; grupa urządzenia: ") + group;
    return CommError(CommError::PermissionDenied, detail);
}

} // namespace

QString lockFileHolder(const QString &devicePath)
{
    for (const QString &path : lockFileCandidates(devicePath)) {
        QFile lock(path);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        // Text lock files start with the holder's pid (QLockFile and UUCP both).
        bool ok = false;
        const qint64 pid = QString::fromLatin1(lock.readLine(64)).trimmed().toLongLong(&ok);
        if (ok && processAlive(pid))
            return describeProcess(pid);
    }
    return {};
}

QString processesHolding(const QString &devicePath)
{
    const QString target = QFileInfo(devicePath).canonicalFilePath();
    if (target.isEmpty())
        return {};
    QStringList holders;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pidText : pids) {
        bool ok = false;
        const qint64 pid = pidText.toLongLong(&ok);
        if (!ok || pid == ::getpid())
            continue;
        QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        const QStringList entries = fds.entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            if (QFile::symLinkTarget(fds.filePath(fd)) == target) {
                holders += describeProcess(pid);
                break;
            }
        }
    }
    return holders.join(QLatin1String(", "));
}

CommError openFailure(const QString &devicePath, QSerialPort::SerialPortError error,
                      const QString &qtReason)
{
    const QByteArray path = QFile::encodeName(devicePath);
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::UnsupportedOperationError: // not a terminal at all
        return CommError(CommError::PortNotFound, devicePath + QLatin1String(": ") + qtReason);
    case QSerialPort::PermissionError:
        break;
    default:
        // ENXIO/EIO at open: a ttyS node with no UART behind it.
        if (::access(path.constData(), F_OK) != 0 || error == QSerialPort::ResourceError)
            return CommError(CommError::PortNotFound, devicePath + QLatin1String(": ") + qtReason);
        return CommError(CommError::UnknownFailure, devicePath + QLatin1String(": ") + qtReason);
    }

    // A live lock file is the cheapest and kindest answer: it names the program.
    const QString lockHolder = lockFileHolder(devicePath);
    if (!lockHolder.isEmpty())
        return inUse(devicePath, QStringLiteral("zablokowany plikiem blokady"), lockHolder);

    if (::access(path.constData(), R_OK | W_OK) != 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM)
            return denied(devicePath, systemReason(err));
    }

    // Ask the system itself; an exclusive (TIOCEXCL) or busy device says EBUSY.
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int err = errno;
    if (fd >= 0) {
        // The device itself is free to us, so what stopped Qt was its lock.
        ::close(fd);
        return inUse(devicePath, qtReason, processesHolding(devicePath));
    }
    if (err == EBUSY)
        return inUse(devicePath, systemReason(err), processesHolding(devicePath));
    if (err == EACCES || err == EPERM)
        return denied(devicePath, systemReason(err));
    if (err == ENOENT || err == ENODEV || err == ENXIO)
        return CommError(CommError::PortNotFound, devicePath + QLatin1String(": ") + systemReason(err));
    return CommError(CommError::UnknownFailure, devicePath + QLatin1String(": ") + systemReason(err));
}
