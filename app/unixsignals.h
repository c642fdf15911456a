// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QObject>

#include <initializer_list>

// POSIX signals delivered as a Qt signal on the event loop. The handler only
// writes the signal's number into a pipe, the one safe thing a handler can do;
// a notifier on the pipe's other end hands each number to the objects that
// asked for it. One pipe per process, shared by every such object.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    // Starts catching `numbers` for a new object. Null when the pipe or a
    // handler could not be set up (then nothing is caught).
    static UnixSignals *catchSignals(std::initializer_list<int> numbers, QObject *parent);
    // Signals no other object asks for get their default action back.
    ~UnixSignals() override;

Q_SIGNALS:
    void received(int number);

private:
    UnixSignals(QList<int> numbers, QObject *parent);
    static void deliver(int number);

    QList<int> m_numbers;
};
