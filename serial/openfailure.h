#pragma once

#include "commerror.h"

#include <QSerialPort>
#include <QString>

// Why a device would not open, told so the user knows what to do. Qt reports a
// busy device, a lock file held by another program and a missing permission
// all as PermissionError; this looks at the lock files, the device's access
// rights and the system's own answer to tell them apart.
CommError openFailure(const QString &devicePath, QSerialPort::SerialPortError error,
                      const QString &qtReason);

// The lock file another program keeps for the device ("LCK..ttyS1" in one of
// the usual lock directories) and the live process named in it, if any:
// "proces 1234 (minicom)". Empty when no live holder is found.
QString lockFileHolder(const QString &devicePath);

// Other processes that have the device open, found through /proc (only those
// the user may look into): "proces 1234 (minicom)", comma-separated.
QString processesHolding(const QString &devicePath);
