// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>

// A pseudo-terminal pair (POSIX): whoever holds the master side plays a
// device, and any serial program opens path() like a port. The terminal side
// is raw at 9600 baud, so every byte passes unchanged, and stays open here:
// the pair then outlives programs opening and closing it, and the master never
// reads EIO between them. The master is non-blocking; both close with this.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens a new pair; false, with errno set, when the system has none to give.
    bool open();
    bool isOpen() const { return m_master >= 0; }
    QString path() const { return m_path; }
    int masterFd() const { return m_master; }
    int terminalFd() const { return m_terminal; }

    // Writes all of `bytes` to the master; while the terminal side has no room
    // it calls `whileFull` (when given) and waits a little. False when the
    // master is closed or fails.
    bool write(QByteArrayView bytes, const std::function<void()> &whileFull = {});
    // What the terminal side wrote and the master has not read yet.
    QByteArray readAvailable();
    // Closes the master side: to programs on the terminal side, the device hung up.
    void closeMaster();

private:
    int m_master = -1;
    int m_terminal = -1;
    QString m_path;
};
