// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>

#include <memory>

class FileTransfer;
class QTimer;
namespace Ui {
class TransferDialog;
}

// The progress window, "Przesyłanie pliku", modal like the port dialog: the
// file, bytes done and total, rate, time gone and left, the protocol, and
// "Przerwij" (closing the window does the same). Refreshed four times a
// second; at the end one line says what happened and the button closes it.
class TransferDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TransferDialog(FileTransfer *transfer, QWidget *parent = nullptr);
    ~TransferDialog() override;

    // The closing line, empty while the transfer runs.
    QString resultLine() const;
    // The line for the end of `transfer`: what happened, and where files went.
    static QString summary(const FileTransfer &transfer);

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void refresh();
    void transferFinished();
    void stopClicked();

    std::unique_ptr<Ui::TransferDialog> ui;
    FileTransfer *m_transfer;
    QTimer *m_refresh;
    bool m_closeWhenDone = false;
};
