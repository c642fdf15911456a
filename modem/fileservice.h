// SPDX-License-Identifier: MIT
#pragma once

#include "hayesmodemfarend.h"

#include <QByteArray>
#include <QProcess>

#include <memory>

class QSocketNotifier;
class QTemporaryDir;
class QTimer;

// A small bulletin board at the far end of a call: on DOWNLOAD it sends two
// sample files by ZMODEM, on UPLOAD it takes one, with lrzsz (sz, rz) doing
// the protocol. The files live in a private temporary folder for one
// transfer only; what is uploaded is reported by name and size, then
// discarded. lrzsz's output is read only while the line has room, so the
// modem's bounded buffer never drops a protocol byte; hanging up kills it.
class FileService : public HayesModemFarEnd
{
    Q_OBJECT

public:
    explicit FileService(QObject *parent = nullptr);
    ~FileService() override;

    void start() override;
    void receive(QByteArrayView bytes) override;
    void lineFreed() override;

    // The sample files DOWNLOAD sends, by name.
    static QList<std::pair<QString, QByteArray>> sampleFiles();

private:
    void commandByte(char c);
    void command(const QByteArray &line);
    void startTransfer(bool upload);
    void pumpFromChild();
    void writeToChild();
    void transferEnded();
    void stopChild();
    void schedulePump();

    QByteArray m_line;
    QProcess *m_child = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    bool m_upload = false;
    int m_socket = -1; // our end of the child's standard input and output
    QSocketNotifier *m_readable = nullptr;
    QSocketNotifier *m_writable = nullptr;
    QByteArray m_toChild;
    QByteArray m_tail;   // the last bytes the user sent, to spot the sender's end
    QTimer *m_closing;
    bool m_eof = false;
    bool m_exited = false;
    bool m_failedToStart = false;
    bool m_pumpQueued = false;
};
