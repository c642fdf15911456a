// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

class QTimer;

// Lets the modem's output leave at the speed of the line instead of all at
// once, so a reader sees a reply arrive in pieces as on a real wire. A piece
// never runs past a line feed: a reader that treats a piece starting with a
// carriage return as a bare line break still sees the text of the next line.
class HayesModemPacer : public QObject
{
    Q_OBJECT

public:
    // A modem's transmit buffer. What finds it full is dropped, as a modem
    // without flow control drops what it has no room for; so neither memory
    // nor the work of a tick grows with what a terminal throws at it.
    static constexpr qsizetype Capacity = 4096;

    explicit HayesModemPacer(QObject *parent = nullptr);

    // Off: every byte is released the moment it is pushed, synchronously.
    void setEnabled(bool on);
    bool isEnabled() const { return m_enabled; }
    // Characters per second on the line (baud rate / bits per character).
    void setCharactersPerSecond(double rate);

    // Queues the bytes for the line; beyond Capacity waiting, they are dropped.
    void push(const QByteArray &bytes);
    // Released bytes, taken out.
    QByteArray take();
    qsizetype available() const { return m_released.size(); }
    // Everything not yet taken: on the wire and released.
    qsizetype backlog() const { return m_wire.size() + m_released.size(); }
    // Forgets everything, on the wire and released.
    void clear();

Q_SIGNALS:
    // Bytes were released and wait for take().
    void released();

private:
    void tick();
    void releaseAll();

    bool m_enabled = true;
    double m_rate = 960.0;
    QByteArray m_wire;
    QByteArray m_released;
    QTimer *m_timer;
    QElapsedTimer m_burst; // since the first byte of the current burst left
    qint64 m_sentInBurst = 0;
};
