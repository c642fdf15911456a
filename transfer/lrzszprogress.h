// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// What lrzsz says on its standard error with -vv, read as it comes: the file
// it is on, how far it got, whether it finished, and its last other words
// (the reason, when it fails). Lines end with CR or LF, in any pieces.
class LrzszProgress
{
public:
    void feed(QByteArrayView bytes);

    QString fileName;    // the file now being moved, as lrzsz names it
    int filesStarted = 0;
    qint64 done = -1;    // bytes of that file so far; -1 while lrzsz has not said
    qint64 total = -1;   // its size; -1 when not known
    bool complete = false;   // "Transfer complete"
    bool farCancelled = false; // the far end sent the cancel sequence
    QString lastMessage; // the last line that was no progress report

private:
    void line(const QString &text);
    QByteArray m_partial;
};
