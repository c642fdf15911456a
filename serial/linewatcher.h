// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct serial_icounter_struct;

// Waits for the modem inputs (CTS, DSR, CD) of an open Linux serial device to
// change, on a thread of its own blocked in TIOCMIWAIT, so that an idle port
// costs no wake-up at all. TIOCGICOUNT counts every transition, so a change
// that comes while the thread is not waiting (between two waits, or a pulse
// faster than the thread) is still reported. The one gap the system leaves is
// between the last count and the moment the wait takes its own: a change
// falling in those few instructions shows with the next one. RI is not waited
// for: the terminal has no event for it. A driver whose wait returns without
// counting anything has its lines told by their state, at most 20 times a
// second.
//
// Contract:
// - start() takes the device's descriptor and watches a duplicate of it. It
//   returns false, starting nothing, when the driver cannot count transitions
//   (ENOTTY, EINVAL: a pseudo-terminal, many USB adapters); the caller then
//   polls. A driver that counts but refuses to wait is found on the thread and
//   reported through refused(), also a cue to poll.
// - stop() returns only once the thread has ended, and then closes the
//   duplicate: the thread never touches a descriptor that is closed or reused.
//   TIOCMIWAIT does not end when the device is closed (and stop() comes before
//   the close), so stop() wakes it with a signal (a real-time one, with a
//   handler that does nothing, installed without SA_RESTART): the wait fails
//   with EINTR and the thread sees it is asked to stop. A signal landing just
//   before the thread enters the wait would be missed, so it is sent again
//   every millisecond until the thread has ended. A duplicate closed under the
//   thread would not wake it (the wait holds the open file), and a poll with a
//   timeout would be the very wake-ups this class exists to avoid.
// - Reports reach the owner's thread as queued calls; none arrives after
//   stop() for an earlier start().
class LineWatcher : public QObject
{
    Q_OBJECT

public:
    enum Line : int { Cts = 1, Dsr = 2, Cd = 4 };

    explicit LineWatcher(QObject *parent = nullptr);
    ~LineWatcher() override;

    bool start(int descriptor);
    void stop();
    bool isWatching() const { return m_thread.joinable(); }

Q_SIGNALS:
    // The lines in `moved` (Line flags) went through one or more transitions.
    void changed(int moved);
    // The driver will not wait for changes: poll instead.
    void refused();
    // Waiting failed otherwise: the device is gone.
    void failed();

private:
    void run(serial_icounter_struct last, quint64 generation);
    void report(quint64 generation, int what, int moved);

    std::thread m_thread;
    int m_descriptor = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    quint64 m_generation = 0;
};
