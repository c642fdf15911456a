// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// Who holds a serial device. Programs that open serial ports leave a lock file
// named after the device in one of the usual lock directories; a device reached
// through a symbolic link is one device, so every name is worked out from the
// device itself: its real path and its device number.
namespace DeviceLock {

// The real path of a device, links resolved; `path` itself when it does not
// exist (so error messages can still name it).
QString realDevicePath(const QString &path);

struct LockFile
{
    QString path;
    // The holder's process id; 0 when the file names none yet (just created,
    // empty) or cannot be read.
    qint64 pid = 0;
    bool holderAlive = false;
};

// The first lock file another program keeps for the device, in any of the
// common forms: "LCK..ttyS1" (the base name), "LCK..pts_3" (the path below
// /dev, as Qt names it) and "LK.<fs>.<major>.<minor>" (by device number), with
// the holder's pid as text on the first line (with or without padding, with or
// without further lines) or as a binary number. Stale files (dead holder) are
// reported too, with holderAlive false.
std::optional<LockFile> findLockFile(const QString &devicePath);

// "proces 1234 (minicom)" for a live holder named by a lock file; empty when
// there is none.
QString lockFileHolder(const QString &devicePath);

// Other processes that have the device open, found through /proc (only those
// the user may look into): "proces 1234 (minicom)", comma-separated.
QString processesHolding(const QString &devicePath);

// "proces 1234 (minicom)", or "proces 1234" when its name cannot be read.
QString describeProcess(qint64 pid);

} // namespace DeviceLock
