// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringConverter>
#include <QStringView>
#include <QTimer>

#include <memory>

// The capture log of a session (--log, --log-raw): everything received, in
// files, whatever the transcript keeps on screen.
//
// The text log gets the received text as the transcript shows it (the same
// decoding, line breaks and control pictures), in UTF-8 with LF line ends,
// after one header line; with timestamps every line starts with the local
// date and time its first character arrived. The raw log gets the received
// bytes unchanged, with no header, so it stays a faithful copy of the line.
//
// Both are written through a buffer: out when it fills, and at the latest a
// second after the first byte waiting in it, so a crash loses at most the
// last second. A file that fails to take a write is closed and left alone;
// the other goes on.
class SessionLog : public QObject
{
    Q_OBJECT

public:
    struct Files
    {
        QString text; // empty: no text log
        QString raw;  // empty: no raw log
        bool timestamps = false;
    };

    // Opens the files for appending (creating them). `source` names what is
    // logged ("port COM 2 (/dev/ttyS1)") for the text log's header. Null when
    // a file cannot be opened; `error` then says which and why.
    static std::unique_ptr<SessionLog> open(const Files &files, const QString &source, QString *error);
    // Writes out what is still buffered, quietly: there is no one left to tell.
    ~SessionLog() override;

    // One chunk received: its bytes and its text as the transcript shows it.
    void received(QByteArrayView bytes, QStringView text);
    // A line of the program's own (a file transfer's result) for the text
    // log, on a line of its own; the raw log keeps only what was received.
    void note(QStringView line);
    // Writes out everything buffered now.
    void flush();

    // The "yyyy-MM-dd HH:mm:ss.zzz " that starts a timestamped line.
    static QString timestamp(qint64 msecsSinceEpoch);

Q_SIGNALS:
    // Writing `path` failed for `reason`; that file is no longer written.
    // Raised at most once per file.
    void writeFailed(const QString &path, const QString &reason);

private:
    // One file and the bytes waiting to go into it.
    struct Sink
    {
        QFile file;
        QByteArray buffer; // its size is the room; the first `used` bytes wait
        qsizetype used = 0;
        bool on = false;
    };

    SessionLog() = default;
    bool openSink(Sink &sink, const QString &path, QString *error);
    // Room for `count` more bytes in `sink`, writing out what waits if needed;
    // null once the file has failed. Commit what was put there by moving `used`.
    char *room(Sink &sink, qsizetype count);
    void append(Sink &sink, QByteArrayView bytes);
    void appendText(QStringView text);
    void appendUtf8(QStringView text);
    void writeOut(Sink &sink, bool announce);
    void flushAll(bool announce);

    Sink m_text;
    Sink m_raw;
    QStringEncoder m_utf8{QStringEncoder::Utf8};
    bool m_timestamps = false;
    bool m_atLineStart = true;
    // The timestamp for the current millisecond, made once per millisecond.
    qint64 m_stampMsecs = -1;
    QByteArray m_stamp;
    QTimer m_flushTimer;
};
