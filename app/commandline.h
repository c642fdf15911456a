// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

class PortRouter;

// What the command line asks for. Without arguments the terminal opens port 2
// as usual; --port NAME makes port 2 stand for another device (a path, COMn,
// "sim", the built-in simulated modem, or a port served over the network,
// rfc2217://HOST:PORT or socket://HOST:PORT, checked here so that a malformed
// address is refused before the window opens).
struct CommandLine
{
    enum class Action { Run, ShowHelp, ShowVersion, ListPorts, Fail };

    Action action = Action::Run;
    QString port;    // empty: port 2 keeps its usual device
    QString message; // the help, the version, or what was wrong

    // Opt-in extras, all off by default.
    QString log;             // --log FILE: the session as text
    QString rawLog;          // --log-raw FILE: the bytes received
    bool timestamps = false; // --timestamps: each line of the text log timed
    bool reconnect = false;  // --reconnect: reopen the port when its device comes back
    bool transfers = false;  // --transfers: file transfers by lrzsz, ZMODEM starting by itself
    QString downloadDir;     // --download-dir DIR: where received files go (else the user's)

    // `arguments` starts with the program name. Needs no application object,
    // so --help and --version work without a display.
    static CommandLine parse(const QStringList &arguments);
    static QString helpText();

    // Registers the special device names and binds port 2 as asked.
    void configure(PortRouter &router) const;
};
