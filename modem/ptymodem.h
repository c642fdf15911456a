// SPDX-License-Identifier: MIT
#pragma once

#include "pseudoterminal.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class HayesModem;
class QSocketNotifier;

// A simulated modem on a pseudo-terminal: any serial program opens
// terminalPath() and talks to the modem as if it sat on a real port.
// Pseudo-terminals carry no modem lines, so the modem sees DTR and RTS always
// on; the line speed it paces at and reports is the one the program set.
class PtyModem : public QObject
{
    Q_OBJECT

public:
    explicit PtyModem(QObject *parent = nullptr);
    ~PtyModem() override;

    // Opens the pair; throws CommError when the system has no pseudo-terminal to give.
    void open();
    QString terminalPath() const { return m_path; }
    HayesModem *modem() const { return m_modem; }

private:
    void readFromTerminal();
    void takeFromModem();
    void writeToTerminal();
    void followLineSettings();

    HayesModem *m_modem;
    PseudoTerminal m_pty;
    // m_pty's master and its terminal side, which it holds open so the pair
    // survives programs opening and closing it.
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_path;
    QSocketNotifier *m_readable = nullptr;
    QSocketNotifier *m_writable = nullptr;
    QByteArray m_pending; // output the terminal side has no room for yet
};
