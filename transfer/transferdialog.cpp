// SPDX-License-Identifier: MIT
#include "transferdialog.h"
#include "ui_transferdialog.h"

#include "filetransfer.h"

#include <QCloseEvent>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

namespace {

const QLocale Polish(QLocale::Polish, QLocale::Poland);

QString duration(qint64 ms)
{
    const qint64 s = ms / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString bytes(qint64 n)
{
    return Polish.toString(n);
}

} // namespace

TransferDialog::TransferDialog(FileTransfer *transfer, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::TransferDialog>())
    , m_transfer(transfer)
    , m_refresh(new QTimer(this))
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    ui->protocolValue->setText(FileTransfer::protocolName(transfer->request().protocol)
                               + (transfer->request().direction == FileTransfer::Direction::Send
                                      ? QStringLiteral(", wysyłanie")
                                      : QStringLiteral(", odbiór")));
    connect(ui->stopButton, &QPushButton::clicked, this, &TransferDialog::stopClicked);
    connect(transfer, &FileTransfer::finished, this, &TransferDialog::transferFinished);
    connect(m_refresh, &QTimer::timeout, this, &TransferDialog::refresh);
    m_refresh->start(250);
    refresh();
}

TransferDialog::~TransferDialog() = default;

QString TransferDialog::resultLine() const
{
    return ui->resultLabel->text();
}

void TransferDialog::refresh()
{
    const qint64 done = m_transfer->currentDone();
    const qint64 total = m_transfer->currentTotal();
    const qint64 elapsed = m_transfer->elapsedMs();
    ui->fileValue->setText(m_transfer->currentFile());
    ui->bytesValue->setText(total >= 0 ? QStringLiteral("%1 z %2 bajtów").arg(bytes(done), bytes(total))
                                       : QStringLiteral("%1 bajtów").arg(bytes(done)));
    if (total > 0) {
        ui->progressBar->setRange(0, 1000);
        ui->progressBar->setValue(int(std::min<qint64>(1000, done * 1000 / total)));
    } else {
        ui->progressBar->setRange(0, total == 0 ? 1 : 0); // busy while the size is not known
        ui->progressBar->setValue(total == 0 ? 1 : 0);
    }
    const qint64 rate = elapsed > 0 ? m_transfer->bytesSoFar() * 1000 / elapsed : 0;
    ui->rateValue->setText(QStringLiteral("%1 B/s").arg(bytes(rate)));
    ui->elapsedValue->setText(duration(elapsed));
    ui->remainingValue->setText(total >= 0 && rate > 0 ? duration((total - done) * 1000 / rate) : QStringLiteral("–"));
}

QString TransferDialog::summary(const FileTransfer &transfer)
{
    QString line = transfer.message();
    QStringList kept;
    for (const FileTransfer::FileResult &file : transfer.files())
        kept += file.name;
    if (transfer.request().direction == FileTransfer::Direction::Receive && !kept.isEmpty())
        line += QStringLiteral(" Zapisano: %1.").arg(kept.join(QLatin1String(", ")));
    return line;
}

void TransferDialog::transferFinished()
{
    refresh();
    m_refresh->stop();
    ui->resultLabel->setText(summary(*m_transfer));
    ui->stopButton->setText(QStringLiteral("Zamknij"));
    if (m_closeWhenDone)
        accept();
}

void TransferDialog::stopClicked()
{
    if (m_transfer->isRunning())
        m_transfer->cancel();
    else
        accept();
}

void TransferDialog::closeEvent(QCloseEvent *event)
{
    if (m_transfer->isRunning()) {
        m_closeWhenDone = true;
        m_transfer->cancel();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TransferDialog::reject()
{
    // Escape and the close button both end up here.
    if (m_transfer->isRunning()) {
        m_closeWhenDone = true;
        m_transfer->cancel();
        return;
    }
    QDialog::reject();
}
