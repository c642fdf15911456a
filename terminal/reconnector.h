// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Waits for a port's device to come back (--reconnect): once a second it asks
// whether the device exists; when it does, it lets the device settle (a
// freshly plugged adapter often refuses its first opening), asks again and
// reopens the port. A reopening that fails goes back to waiting. Nothing here
// tells the user anything: the loss was told once, by the window.
class Reconnector : public QObject
{
    Q_OBJECT

public:
    // Whether the device is there to be opened.
    using Probe = std::function<bool()>;
    // Opens the port as at start; whether it is open after.
    using Reopen = std::function<bool()>;

    static constexpr int PollMs = 1000;
    static constexpr int SettleMs = 600;
    // A port lost sooner than this after opening was not back yet.
    static constexpr int WorkingSessionMs = 1000;

    Reconnector(Probe deviceExists, Reopen reopen, QObject *parent = nullptr);

    // Starts waiting (again); does nothing while already waiting.
    void watch();
    void stop();
    bool isWatching() const { return m_poll.isActive() || m_settle.isActive(); }

private:
    void poll();
    void settled();

    Probe m_deviceExists;
    Reopen m_reopen;
    QTimer m_poll;
    QTimer m_settle;
};
