// SPDX-License-Identifier: MIT
#pragma once

#include "filetransfer.h"
#include "oknoterma.h"
#include "zmodemdetector.h"

#include <QObject>
#include <QPointer>

class CommControl;

// File transfers in the terminal window (--transfers): "Wyślij plik…" and
// "Odbierz plik…" in the Plik menu, ZMODEM starting by itself when the far
// end begins, the progress window, and a line in the session log. While a
// transfer runs it holds the port: received bytes go to lrzsz only and
// nothing typed is sent.
class TransferGlue : public QObject, public OknoTerma::PortTakeover
{
    Q_OBJECT

public:
    TransferGlue(OknoTerma *window, CommControl *port, const QString &downloadFolder);

    void filterReceived(QByteArray &chunk) override;
    bool holdsPort() const override;

    // The transfer running or last finished, while its window is open.
    FileTransfer *transfer() const { return m_transfer; }
    // Starts `request` with its progress window; false (after telling why) when it cannot.
    bool start(FileTransfer::Request request);

private:
    void sendClicked();
    void receiveClicked();
    void chooseAndSend(const QByteArray &heldBytes);
    bool ready();
    void logResult(const FileTransfer &transfer);
    void warn(const QString &text);

    OknoTerma *m_window;
    CommControl *m_port;
    QString m_downloadFolder;
    bool m_lrzsz;
    ZmodemDetector m_detector;
    QPointer<FileTransfer> m_transfer;
    bool m_choosing = false;
    QByteArray m_held; // received while the send chooser is open
};
