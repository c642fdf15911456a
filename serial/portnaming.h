// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// How port numbers and names the user types turn into device names: port n is
// COMn, which on Linux is the n-th built-in UART, /dev/ttyS<n-1>.
namespace PortNaming {

// The port the terminal opens at start, and the one --port rebinds.
inline constexpr int StartupPort = 2;

// "/dev/ttyS1" on Linux, "COM2" on Windows, for port 2.
QString deviceForNumber(int port);

// A name as the user wrote it (a device path, "COMn" in any case) as the
// system opens it: on Linux "COM3" becomes "/dev/ttyS2"; anything else is
// returned unchanged.
QString systemDeviceName(const QString &name);

} // namespace PortNaming
