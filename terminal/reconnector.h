// SPDX-License-Identifier: MIT
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Waits for a port's device to come back (--reconnect): once a second it asks
// whether the device exists; when it does, it lets the device settle (a
// freshly plugged adapter often refuses its first opening), asks again and
// reopens the port. A reopening that fails goes back to waiting.
//
// It also decides which failures the user hears of (tells()): one warning per
// episode. A device missing or lost is told once; it is told again only after
// a session that worked (open for WorkingSessionMs) or once the user chose a
// port; a failure of its own reopening, or one found while a warning is on
// screen, is never told.
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

    // The port opened: a loss from now on counts from here.
    void portOpened() { m_sinceOpened.start(); }
    // The user chose a port: waiting for the old one ends, and the absence of
    // the new one is news.
    void portChosen();
    // A failure with error `number`: whether the user is to be told of it.
    // Starts waiting where it means the device is not there.
    bool tells(int number, bool warningOnScreen);
    bool isWatching() const { return m_poll.isActive() || m_settle.isActive(); }

private:
    void poll();
    void settled();

    Probe m_deviceExists;
    Reopen m_reopen;
    bool m_reopening = false;
    // Since the device was last found missing, without the user choosing a
    // port: the absence was told and need not be again.
    bool m_absenceTold = false;
    // Since the port last opened: a port lost within a second of opening was
    // not really back (a server that hangs up at once, a device still settling).
    QElapsedTimer m_sinceOpened;
    QTimer m_poll;
    QTimer m_settle;
};
