// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

// One file of the session log, opened and written so that neither ever
// blocks the window and no one else can steer it.
//
// Any file the user can write to will do, a pipe, a FIFO or a process
// substitution (`>(xxd)`) included. Opening never waits: a FIFO nobody reads
// is refused at once, and only a regular file is read (for its last byte).
// A symbolic link another user planted in a shared directory such as /tmp is
// not followed. A new file is made readable by its owner only.
//
// What the file cannot take at once (a pipe whose reader is slow) waits and
// goes out as soon as it can, up to BacklogBytes; beyond that, or when the
// reader is gone, the file fails and is closed.
class LogFile : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype BacklogBytes = 1024 * 1024;

    // Null when `path` cannot be opened; `error` then says why, in a whole
    // sentence after the path ("nie mogę otworzyć dziennika „…”: …").
    static std::unique_ptr<LogFile> open(const QString &path, QString *error);
    // Gives what still waits up to a second to go out.
    ~LogFile() override;

    QString path() const { return m_path; }
    // A regular file whose last line has no line end yet.
    bool endsMidLine() const { return m_endsMidLine; }

    // Hands bytes over. False when the file fails now; errorString() says why.
    bool write(QByteArrayView bytes);
    QString errorString() const { return m_error; }

Q_SIGNALS:
    // The file failed while the waiting bytes went out; it is closed.
    void failed(const QString &reason);

private:
    LogFile() = default;
    // Writes what the file takes now: the number of bytes, -1 on an error.
    qsizetype writeNow(QByteArrayView bytes);
    void drain();
    bool fail(const QString &reason);

    int m_fd = -1;
    QString m_path;
    QString m_error;
    bool m_endsMidLine = false;
    QByteArray m_backlog;
    QSocketNotifier *m_writable = nullptr;
};
