// SPDX-License-Identifier: MIT
#pragma once

#include "commerror.h"
#include "devicelock.h"

#include <QSerialPort>
#include <QString>

// Why a device would not open, told so the user knows what to do.

// Refuses, before any opening, what cannot be a serial port (a directory, a
// regular file, the controlling terminal or the pseudo-terminal multiplexer, a
// path too long for the system) as PortNotFound, and a device another
// program's lock file names a live holder for as PortInUse. Throws CommError.
void checkBeforeOpening(const QString &devicePath);

// After a failed opening. Qt reports a busy device, a lock file held by
// another program and a missing permission all as PermissionError; this looks
// at the lock files, the device's access rights and the system's own answer to
// tell them apart.
CommError openFailure(const QString &devicePath, QSerialPort::SerialPortError error,
                      const QString &qtReason);

using DeviceLock::lockFileHolder;
using DeviceLock::processesHolding;
