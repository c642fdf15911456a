// SPDX-License-Identifier: MIT
#include "safename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qsizetype MaxNameBytes = 200;

bool harmful(QChar c)
{
    const auto category = c.category();
    return c.unicode() < 0x20 || c.unicode() == 0x7f || category == QChar::Other_Control
           || category == QChar::Other_Format || category == QChar::Other_NotAssigned
           || c == u'/' || c == u'\\';
}

// Renames without replacing: the system refuses when `to` exists, a link included.
bool renameNoReplace(const QString &from, const QString &to, int *error)
{
    const QByteArray f = QFile::encodeName(from);
    const QByteArray t = QFile::encodeName(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = errno;
        return false;
    }
#endif
    // A file system without that flag: a hard link fails on an existing name too.
    if (::link(f.constData(), t.constData()) != 0) {
        *error = errno;
        return false;
    }
    ::unlink(f.constData());
    return true;
}

} // namespace

QString SafeName::sanitize(const QString &sent)
{
    QString name = sent.mid(std::max(sent.lastIndexOf(u'/'), sent.lastIndexOf(u'\\')) + 1);
    name.removeIf(harmful);
    while (!name.isEmpty() && (name.front() == u'.' || name.front().isSpace()))
        name.remove(0, 1);
    while (!name.isEmpty() && name.back().isSpace())
        name.chop(1);
    while (name.toUtf8().size() > MaxNameBytes)
        name.chop(name.back().isLowSurrogate() ? 2 : 1);
    return name.isEmpty() ? QStringLiteral("plik") : name;
}

QString SafeName::moveInto(const QString &source, const QString &folder, const QString &name, QString *error)
{
    const QFileInfo info(name);
    const bool dotted = !info.completeBaseName().isEmpty() && !info.suffix().isEmpty();
    const QString stem = dotted ? info.completeBaseName() : name;
    const QString suffix = dotted ? u'.' + info.suffix() : QString();
    int reason = 0;
    for (int n = 1; n <= 1000; ++n) {
        const QString candidate = n == 1 ? name : QStringLiteral("%1 (%2)%3").arg(stem).arg(n).arg(suffix);
        if (renameNoReplace(source, QDir(folder).filePath(candidate), &reason))
            return candidate;
        if (reason != EEXIST)
            break;
    }
    if (error)
        *error = reason == EEXIST ? QStringLiteral("wszystkie nazwy zajęte")
                                  : QString::fromLocal8Bit(std::strerror(reason));
    return {};
}
