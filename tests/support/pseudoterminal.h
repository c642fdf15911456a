#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair for tests: the test plays the device on the master
// side while the code under test opens slavePath() like any serial port.
// The slave side is put in raw mode so every byte passes unchanged.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    int masterFd() const { return m_master; }

    // Writes everything (blocking until the kernel took it).
    bool write(const QByteArray &bytes);
    // Reads until `count` bytes came or `timeoutMs` passed, keeping the GUI
    // event loop running so the code under test can send meanwhile.
    QByteArray read(qsizetype count, int timeoutMs = 5000);
    // Reads until `needle` appears or `timeoutMs` passed; returns all read.
    QByteArray readUntil(const QByteArray &needle, int timeoutMs = 5000);
    // Takes whatever is waiting now, without waiting.
    QByteArray readAvailable();
    // Closes the master side: the device "hangs up".
    void closeMaster();

private:
    int m_master = -1;
    int m_slaveKeeper = -1; // keeps the slave open so the pair survives reopens
    QString m_slavePath;
};
