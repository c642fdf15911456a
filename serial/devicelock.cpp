// SPDX-License-Identifier: MIT
#include "devicelock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace DeviceLock {
namespace {

const char *const lockDirectories[] = {
    "/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
    "/tmp", "/var/tmp", "/var/lock/lockdev",
};

bool processAlive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QStringList lockFileNames(const QString &realPath)
{
    QString belowDev = realPath;
    if (belowDev.startsWith(QLatin1String("/dev/")))
        belowDev.remove(0, 5);
    QStringList names{QLatin1String("LCK..") + QFileInfo(realPath).fileName(),
                      QLatin1String("LCK..") + belowDev.replace(u'/', u'_')};
    struct stat device{};
    if (::stat(QFile::encodeName(realPath).constData(), &device) == 0 && S_ISCHR(device.st_mode)) {
        names += QString::asprintf("LK.%03u.%03u.%03u", major(device.st_dev), major(device.st_rdev),
                                   minor(device.st_rdev));
    }
    names.removeDuplicates();
    return names;
}

// Text ("  1234\n", "1234\nminicom\nhost\n") or a 4-byte binary pid; 0 if neither.
qint64 pidIn(const QByteArray &contents)
{
    const QByteArray firstLine = contents.left(contents.indexOf('\n')).trimmed();
    bool ok = false;
    const qint64 pid = firstLine.toLongLong(&ok);
    if (ok && pid > 0)
        return pid;
    if (contents.size() == sizeof(qint32)) {
        qint32 binary = 0;
        std::memcpy(&binary, contents.constData(), sizeof binary);
        return binary > 0 ? binary : 0;
    }
    return 0;
}

} // namespace

QString realDevicePath(const QString &path)
{
    const QString real = QFileInfo(path).canonicalFilePath();
    return real.isEmpty() ? path : real;
}

std::optional<LockFile> findLockFile(const QString &devicePath)
{
    const QStringList names = lockFileNames(realDevicePath(devicePath));
    for (const char *directory : lockDirectories) {
        for (const QString &name : names) {
            QFile file(QString::fromLatin1(directory) + u'/' + name);
            if (!file.exists())
                continue;
            LockFile lock;
            lock.path = file.fileName();
            if (file.open(QIODevice::ReadOnly))
                lock.pid = pidIn(file.read(256));
            lock.holderAlive = processAlive(lock.pid);
            return lock;
        }
    }
    return std::nullopt;
}

QString lockFileHolder(const QString &devicePath)
{
    const std::optional<LockFile> lock = findLockFile(devicePath);
    return lock && lock->holderAlive ? describeProcess(lock->pid) : QString();
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

} // namespace DeviceLock
