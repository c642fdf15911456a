// SPDX-License-Identifier: MIT
#include "transferglue.h"

#include "commcontrol.h"
#include "sessionlog.h"
#include "transferdialog.h"

#include <QAction>
#include <QFileDialog>
#include <QInputDialog>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>

namespace {

using Protocol = FileTransfer::Protocol;
using Direction = FileTransfer::Direction;

constexpr qsizetype MaxHeld = 64 * 1024;
const QList<Protocol> Protocols{Protocol::Zmodem, Protocol::Ymodem, Protocol::Xmodem1k, Protocol::Xmodem};

} // namespace

TransferGlue::TransferGlue(OknoTerma *window, CommControl *port, const QString &downloadFolder)
    : QObject(window)
    , m_window(window)
    , m_port(port)
    , m_downloadFolder(downloadFolder)
    , m_lrzsz(FileTransfer::lrzszFound())
{
    auto *menu = window->findChild<QMenu *>(QStringLiteral("mnuPlik"));
    auto *about = window->findChild<QAction *>(QStringLiteral("mnuAbout"));
    const QString missing = m_lrzsz ? QString() : QStringLiteral(" (wymaga pakietu lrzsz)");
    auto *send = new QAction(QStringLiteral("Wyślij plik…") + missing, window);
    auto *receive = new QAction(QStringLiteral("Odbierz plik…") + missing, window);
    send->setObjectName(QStringLiteral("mnuWyslijPlik"));
    receive->setObjectName(QStringLiteral("mnuOdbierzPlik"));
    menu->insertAction(about, send);
    menu->insertAction(about, receive);
    menu->insertSeparator(about);
    connect(send, &QAction::triggered, this, &TransferGlue::sendClicked);
    connect(receive, &QAction::triggered, this, &TransferGlue::receiveClicked);
    window->setPortTakeover(this);
}

bool TransferGlue::holdsPort() const
{
    return m_choosing || (m_transfer && m_transfer->isRunning());
}

void TransferGlue::filterReceived(QByteArray &chunk)
{
    if (m_transfer && m_transfer->isRunning()) {
        m_transfer->received(chunk);
        chunk.clear();
        return;
    }
    if (m_choosing) {
        m_held += chunk.left(MaxHeld - m_held.size());
        chunk.clear();
        return;
    }
    if (!m_lrzsz)
        return;
    const ZmodemDetector::Found found = m_detector.feed(chunk);
    if (found.start == ZmodemDetector::Start::None)
        return;
    const QByteArray forLrzsz = ZmodemDetector::header(found.start) + chunk.mid(found.end);
    chunk.truncate(found.textLength);
    if (found.start == ZmodemDetector::Start::Send) {
        // The far end's rz waits for files: choose them outside this receive.
        m_choosing = true;
        QTimer::singleShot(0, this, [this, forLrzsz] { chooseAndSend(forLrzsz); });
        return;
    }
    FileTransfer::Request request;
    request.direction = Direction::Receive;
    request.downloadFolder = m_downloadFolder;
    request.firstBytes = forLrzsz;
    request.autostarted = true;
    start(request);
}

bool TransferGlue::ready()
{
    if (!m_lrzsz) {
        warn(QStringLiteral("Do przesyłania plików potrzebny jest program lrzsz: zainstaluj pakiet "
                            "„lrzsz” (sudo apt install lrzsz)."));
        return false;
    }
    if (!m_port->PortOpen()) {
        warn(QStringLiteral("Port nie jest otwarty; nie ma przez co przesłać pliku."));
        return false;
    }
    return true;
}

void TransferGlue::sendClicked()
{
    if (!ready())
        return;
    chooseAndSend({});
}

void TransferGlue::chooseAndSend(const QByteArray &heldBytes)
{
    m_choosing = true;
    m_held = heldBytes;
    QStringList names;
    for (Protocol p : Protocols)
        names += FileTransfer::protocolName(p);
    bool ok = false;
    // The far end's rz asked for ZMODEM: no question about it.
    const QString chosen = heldBytes.isEmpty()
                               ? QInputDialog::getItem(m_window, QStringLiteral("Wyślij plik"), QStringLiteral("Protokół:"),
                                                       names, 0, false, &ok)
                               : names.first();
    FileTransfer::Request request;
    request.direction = Direction::Send;
    request.protocol = Protocols.value(names.indexOf(chosen));
    if (!heldBytes.isEmpty() || ok) {
        const QString title = QStringLiteral("Wyślij plik (%1)").arg(chosen);
        if (request.protocol == Protocol::Zmodem || request.protocol == Protocol::Ymodem)
            request.files = QFileDialog::getOpenFileNames(m_window, title);
        else if (const QString file = QFileDialog::getOpenFileName(m_window, title); !file.isEmpty())
            request.files = {file};
    }
    m_choosing = false;
    request.firstBytes = std::exchange(m_held, {});
    m_detector.reset();
    if (request.files.isEmpty() || !m_port->PortOpen())
        return;
    start(request);
}

void TransferGlue::receiveClicked()
{
    if (!ready())
        return;
    QStringList names;
    for (Protocol p : Protocols)
        names += FileTransfer::protocolName(p);
    bool ok = false;
    const QString chosen = QInputDialog::getItem(m_window, QStringLiteral("Odbierz plik"), QStringLiteral("Protokół:"),
                                                 names, 0, false, &ok);
    if (!ok)
        return;
    FileTransfer::Request request;
    request.direction = Direction::Receive;
    request.protocol = Protocols.value(names.indexOf(chosen));
    request.downloadFolder = m_downloadFolder;
    if (request.protocol == Protocol::Xmodem1k || request.protocol == Protocol::Xmodem) {
        // XMODEM carries no name: the user gives one.
        request.xmodemName = QInputDialog::getText(m_window, QStringLiteral("Odbierz plik"),
                                                   QStringLiteral("Nazwa pliku (XMODEM jej nie przesyła):"),
                                                   QLineEdit::Normal, QString(), &ok)
                                 .trimmed();
        if (!ok || request.xmodemName.isEmpty())
            return;
    }
    if (m_port->PortOpen())
        start(request);
}

bool TransferGlue::start(FileTransfer::Request request)
{
    auto *transfer = new FileTransfer(m_port, std::move(request), this);
    QString error;
    if (!transfer->start(&error)) {
        delete transfer;
        m_detector.reset();
        warn(error);
        return false;
    }
    m_transfer = transfer;
    auto *dialog = new TransferDialog(transfer, m_window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(transfer, &FileTransfer::finished, this, [this, transfer] {
        m_detector.reset();
        logResult(*transfer);
    });
    connect(dialog, &QObject::destroyed, transfer, &QObject::deleteLater);
    dialog->show();
    return true;
}

// One line, marked with an arrow no received text can show (the code page
// has none), so that it cannot be taken for what came over the line.
void TransferGlue::logResult(const FileTransfer &transfer)
{
    SessionLog *log = m_window->sessionLog();
    if (!log)
        return;
    const bool send = transfer.request().direction == Direction::Send;
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    QStringList files;
    for (const FileTransfer::FileResult &file : transfer.files())
        files += QStringLiteral("„%1” (%2 B)").arg(file.name, polish.toString(file.size));
    const QString line = QStringLiteral("%1 modemterm: %2 %3, %4: %5")
                             .arg(send ? u'⇧' : u'⇩')
                             .arg(send ? QStringLiteral("wysyłanie") : QStringLiteral("odbiór"),
                                  FileTransfer::protocolName(transfer.request().protocol),
                                  files.isEmpty() ? QStringLiteral("bez pliku") : files.join(QLatin1String(", ")),
                                  transfer.message());
    log->note(line);
}

void TransferGlue::warn(const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Ostrzeżenie"), text, QMessageBox::Ok, m_window);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
