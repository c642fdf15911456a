// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <initializer_list>

// POSIX signals delivered as a Qt signal on the event loop. The handler only
// writes the signal's number into a pipe, the one safe thing a handler can do;
// a notifier on the pipe's other end emits received(). One per process.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    // Starts catching `numbers`. Null when the pipe or a handler could not be
    // set up (then nothing is caught).
    static UnixSignals *catchSignals(std::initializer_list<int> numbers, QObject *parent);
    ~UnixSignals() override;

Q_SIGNALS:
    void received(int number);

private:
    explicit UnixSignals(QObject *parent);
    void drain();
};
