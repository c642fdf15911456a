// SPDX-License-Identifier: MIT
#pragma once

#include "lrzszprogress.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QStringList>

#include <memory>

class CommControl;
class CommError;
class QSocketNotifier;
class QTemporaryDir;
class QTimer;

// One file transfer over the open port, done by lrzsz (sz/rz, sb/rb, sx/rx)
// running as a child whose standard input and output are relayed from and to
// the port. What lrzsz writes is read only while fewer than 64 KiB wait for
// the port, so a fast sender on a slow line stays bounded.
//
// Received files are made in a private staging folder (mode 0700) inside the
// download folder, with lrzsz in its restricted mode, and moved into the
// download folder under a safe name that replaces nothing. A file cut short
// is kept as NAME.part (or removed when empty).
class FileTransfer : public QObject
{
    Q_OBJECT

public:
    enum class Protocol { Zmodem, Ymodem, Xmodem1k, Xmodem };
    enum class Direction { Send, Receive };
    enum class Outcome { Done, Cancelled, FarCancelled, LineLost, Failed, FalseStart };

    struct Request
    {
        Direction direction = Direction::Receive;
        Protocol protocol = Protocol::Zmodem;
        QStringList files;       // to send
        QString xmodemName;      // the name to receive an XMODEM file under
        QString downloadFolder;  // where received files go
        QByteArray firstBytes;   // received already, for lrzsz (a ZMODEM header)
        // Started by a ZMODEM header: given up when no file follows in time.
        bool autostarted = false;
    };

    // One file that came in or went out.
    struct FileResult
    {
        QString name;  // as saved (received) or as sent
        qint64 size = 0;
        bool complete = false;
    };

    FileTransfer(CommControl *port, Request request, QObject *parent = nullptr);
    ~FileTransfer() override;

    // The lrzsz program for `protocol` and `direction`, by name.
    static QString programName(Protocol protocol, Direction direction);
    static QString protocolName(Protocol protocol);
    // Whether lrzsz is installed.
    static bool lrzszFound();

    // Starts lrzsz; false, with `error` set, when it cannot.
    bool start(QString *error);
    // Bytes that came from the port while the transfer runs.
    void received(const QByteArray &bytes);
    // Stops at once: the cancel sequence to the far end, lrzsz killed, the
    // bytes waiting for the port dropped.
    void cancel();

    bool isRunning() const { return m_running; }
    const Request &request() const { return m_request; }

    // Progress, for showing: the file now moving, its bytes so far and size
    // (-1 when not known), and all bytes of all files so far.
    QString currentFile() const;
    qint64 currentDone() const;
    qint64 currentTotal() const;
    qint64 bytesSoFar() const;
    qint64 elapsedMs() const { return m_clock.elapsed(); }

    // After finished().
    Outcome outcome() const { return m_outcome; }
    QString message() const { return m_message; }
    const QList<FileResult> &files() const { return m_files; }

    // How many bytes may wait for the port at most, whatever the line speed.
    static constexpr int MaxQueued = 64 * 1024;

Q_SIGNALS:
    void finished();

private:
    void readChild();
    void drainCheck();
    void childExited(int exitCode, QProcess::ExitStatus status);
    void portFailed(const CommError &error);
    void giveUpFalseStart();
    void stop(Outcome outcome, const QString &message);
    void finishIfDone();
    void collectReceived();
    void closePipe();
    QStringList arguments() const;

    QPointer<CommControl> m_port; // the window's, which may go first at exit
    Request m_request;
    QProcess *m_child;
    LrzszProgress m_progress;
    std::unique_ptr<QTemporaryDir> m_staging;
    QHash<QString, qint64> m_sendSizes; // by the name lrzsz shows
    int m_pipe = -1;                    // lrzsz's standard output, our end
    QSocketNotifier *m_pipeNotifier = nullptr;
    QTimer *m_drainTimer;
    QTimer *m_falseStartTimer;
    QElapsedTimer m_clock;
    qint64 m_finishedFilesBytes = 0;
    int m_filesCounted = 0;
    bool m_running = false;
    bool m_exited = false;
    int m_exitCode = -1;
    bool m_stopped = false;
    int m_cancelRun = 0;
    bool m_farCancelled = false;
    Outcome m_outcome = Outcome::Done;
    QString m_message;
    QList<FileResult> m_files;
};
