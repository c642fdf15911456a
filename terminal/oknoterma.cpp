// SPDX-License-Identifier: MIT
#include "oknoterma.h"
#include "ui_oknoterma.h"

#include "commcontrol.h"
#include "keybytes.h"
#include "reconnector.h"
#include "sessionlog.h"
#include "setcom.h"
#include "timeofday.h"
#include "warningbox.h"

#include <QCloseEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>

namespace {

// The form's places are stored in twips, 15 to a logical pixel.
constexpr float TwipsPerPixel = 15.0f;

float toTwips(int pixels)
{
    return float(pixels) * TwipsPerPixel;
}

int toPixels(float twips)
{
    return qRound(twips / TwipsPerPixel);
}

// Converts the edges rather than the sizes, so that controls meeting in twips
// meet on screen too.
void place(QWidget *control, float left, float top, float width, float height)
{
    const int x = toPixels(left);
    const int y = toPixels(top);
    control->setGeometry(x, y, toPixels(left + width) - x, toPixels(top + height) - y);
}

// The runtime's Str(): a non-negative number gets one leading blank.
QString basicStr(qint64 n)
{
    return n < 0 ? QString::number(n) : u' ' + QString::number(n);
}

constexpr int StartupPort = 2;
constexpr auto StartupSettings = "9600,N,8,1";

} // namespace

OknoTerma::OknoTerma(CommControl *comm, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::OknoTerma>())
    , MSComm1(comm)
    , Timer1(new QTimer(this))
{
    ui->setupUi(this);
    MSComm1->setParent(this);

    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSizeF(8.25);
    font.setWeight(QFont::Normal);
    ui->Text1->setFont(font);
    ui->Text1->installEventFilter(this);
    ui->centralwidget->installEventFilter(this);
    ui->centralwidget->setAccessibleName(QStringLiteral("Terminal"));
    ui->Text1->setFocus();

    // The client area is the central widget; the menu bar comes on top of it.
    resize(toPixels(9285), toPixels(7290) + ui->menubar->sizeHint().height());

    connect(MSComm1, &CommControl::OnComm, this, &OknoTerma::MSComm1_OnComm);
    connect(MSComm1, &CommControl::PortFailed, this, &OknoTerma::MSComm1_PortFailed);
    connect(ui->PicDTR, &Indicator::clicked, this, &OknoTerma::PicDTR_Click);
    connect(ui->PicRTS, &Indicator::clicked, this, &OknoTerma::PicRTS_Click);
    connect(ui->mnuAbout, &QAction::triggered, this, &OknoTerma::mnuAbout_Click);
    connect(ui->mnuWyjdź, &QAction::triggered, this, &OknoTerma::mnuWyjdź_Click);
    connect(ui->mnuSetPort, &QAction::triggered, this, &OknoTerma::mnuSetPort_Click);
    connect(ui->mnuSetMod, &QAction::triggered, this, &OknoTerma::mnuSetMod_Click);

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &OknoTerma::Timer1_Timer);
    Timer1->start();
    ui->Text1->blinkWith(Timer1);
}

OknoTerma::~OknoTerma() = default;

void OknoTerma::Form_Load()
{
    OtworzCOM();
}

void OknoTerma::Form_Resize()
{
    const float w = toTwips(ui->centralwidget->width());
    const float h = toTwips(ui->centralwidget->height());
    // A control cannot take a negative size (a minimised window is 0 x 0).
    place(ui->Text1, 0, 250, w, std::max(0.0f, h - 200));
    // The clock's left is its own width, as set, less 400.
    const float zegarWidth = std::max(0.0f, w - 400);
    place(ui->Zegar, zegarWidth - 400, 0, zegarWidth, toTwips(ui->Zegar->height()));
}

void OknoTerma::Timer1_Timer()
{
    ui->Zegar->setText(TimeOfDay::text(QTime::currentTime()));
}

void OknoTerma::OtworzCOM()
{
    openPort(StartupPort);
}

void OknoTerma::openPort(quint8 number)
{
    m_pendingError.reset();
    // What was typed for an earlier port (and refused) is not for this one.
    SendBuffer.clear();
    try {
        PortComNR = number;
        MSComm1->setCommPort(PortComNR);
        MSComm1->setSettings(m_settings.isEmpty() ? QString::fromLatin1(StartupSettings) : m_settings);
        MSComm1->setHandshaking(m_handshaking);
        MSComm1->setRThreshold(1);
        MSComm1->setPortOpen(true);
        if (m_reconnector)
            m_reconnector->portOpened();
        MSComm1->setOutput(QByteArrayLiteral("AT\r"));
        PrintMSR();
    } catch (const CommError &error) {
        if (!MSComm1->PortOpen())
            unpaintBoxes();
        if (tells(error))
            report(m_settings.isEmpty() ? error : withLineSettings(error));
    }
}

CommError OknoTerma::withLineSettings(const CommError &error) const
{
    const QString tried = QStringLiteral("Ustawienia: %1, %2")
                              .arg(m_settings, CommControl::handshakingName(m_handshaking));
    return CommError(error.number(), error.description(),
                     error.detail().isEmpty() ? tried : error.detail() + u'\n' + tried);
}

void OknoTerma::PrintError()
{
    if (!m_pendingError || m_pendingError->number() == 0)
        return;
    const CommError &error = *m_pendingError;
    QString text = error.number() == CommError::PortNotFound
                       ? QStringLiteral("Nie mogę otworzyć portu COM") + basicStr(PortComNR)
                       : QStringLiteral("Nieznany błąd nr") + basicStr(error.number()) + u' '
                             + error.description();
    if (!error.detail().isEmpty())
        text += u'\n' + error.detail();
    warn(text);
}

void OknoTerma::warn(const QString &text)
{
    // Before the window is shown (a failed start) the box stands on its own.
    ++m_warningsShown;
    WarningBox::show(isVisible() ? this : nullptr, text);
    --m_warningsShown;
}

void OknoTerma::PrintMSR()
{
    ui->PicDSR->paintState(MSComm1->DSRHolding());
    ui->PicCTS->paintState(MSComm1->CTSHolding());
    ui->PicCD->paintState(MSComm1->CDHolding());
    ui->PicDTR->paintState(MSComm1->DTREnable());
    ui->PicRTS->paintState(MSComm1->RTSEnable());
}

void OknoTerma::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}

void OknoTerma::Form_Unload()
{
    Timer1->stop();
    if (m_reconnector)
        m_reconnector->stop();
    closePort();
}

void OknoTerma::closePort()
{
    m_pendingError.reset();
    try {
        MSComm1->setPortOpen(false);
    } catch (const CommError &error) {
        m_pendingError = error;
    }
    if (m_log)
        m_log->flush();
    unpaintBoxes();
    PrintError();
}

void OknoTerma::applyPort(quint8 number)
{
    if (number == PortComNR && MSComm1->PortOpen())
        return;
    if (m_reconnector)
        m_reconnector->portChosen();
    if (MSComm1->PortOpen())
        closePort();
    openPort(number);
}

void OknoTerma::unpaintBoxes()
{
    for (Indicator *box : {ui->PicCD, ui->PicCTS, ui->PicDSR, ui->PicRTS, ui->PicDTR})
        box->unpaint();
}

void OknoTerma::report(const CommError &error)
{
    m_pendingError = error;
    PrintError();
}

// The hot path under a flood: decode the chunk, append it, move the caret.
void OknoTerma::MSComm1_OnComm()
{
    try {
        switch (MSComm1->CommEvent()) {
        case CommControl::comEvReceive: {
            const QByteArray chunk = MSComm1->Input();
            if (chunk.isEmpty())
                return;
            m_received.resize(0);
            if (m_takeover) {
                QByteArray shown = chunk;
                m_takeover->filterReceived(shown);
                m_decoder.decode(shown, m_received);
            } else {
                m_decoder.decode(chunk, m_received);
            }
            if (m_log) {
                m_receivedText.resize(0);
                ReceiveDecoder::appendShown(m_received, m_receivedText);
                m_log->received(chunk, m_receivedText);
            }
            if (!m_received.isEmpty())
                ui->Text1->appendReceived(m_received);
            ui->Text1->setCaretPosition(ui->Text1->textLength());
            break;
        }
        case CommControl::comEvCTS:
        case CommControl::comEvDSR:
        case CommControl::comEvCD:
            PrintMSR();
            break;
        default:
            break;
        }
    } catch (const CommError &error) {
        report(error);
    }
}

void OknoTerma::MSComm1_PortFailed(const CommError &error)
{
    unpaintBoxes();
    if (m_log)
        m_log->flush();
    if (tells(error))
        report(error);
}

bool OknoTerma::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->centralwidget && event->type() == QEvent::Resize) {
        Form_Resize();
    } else if (watched == ui->Text1) {
        // Collect the key, then let the text area apply it as usual.
        if (event->type() == QEvent::KeyPress) {
            const QByteArray bytes = KeyBytes::fromKeyEvent(*static_cast<QKeyEvent *>(event));
            if (!bytes.isEmpty())
                Text1_KeyPress(bytes);
        } else if (event->type() == QEvent::InputMethod) {
            const auto *im = static_cast<QInputMethodEvent *>(event);
            const QByteArray bytes = KeyBytes::fromText(im->commitString());
            if (!bytes.isEmpty())
                Text1_KeyPress(bytes);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void OknoTerma::Text1_KeyPress(const QByteArray &keyBytes)
{
    if (m_takeover && m_takeover->holdsPort())
        return;
    SendBuffer.append(keyBytes);
    if (!keyBytes.endsWith('\r'))
        return;
    try {
        MSComm1->setOutput(SendBuffer);
        SendBuffer.clear();
    } catch (const CommError &error) {
        report(error);
    }
}

void OknoTerma::PicDTR_Click()
{
    switchLine(&CommControl::DTREnable, &CommControl::setDTREnable, ui->PicDTR);
}

void OknoTerma::PicRTS_Click()
{
    if (MSComm1->Handshaking() == CommControl::comRTS) {
        warn(QStringLiteral("Linią RTS steruje sterownik portu (sterowanie przepływem RTS/CTS); "
                            "nie można jej przełączyć."));
        return;
    }
    switchLine(&CommControl::RTSEnable, &CommControl::setRTSEnable, ui->PicRTS);
}

void OknoTerma::switchLine(bool (CommControl::*read)() const, void (CommControl::*write)(bool),
                           Indicator *box)
{
    try {
        const bool on = !(MSComm1->*read)();
        (MSComm1->*write)(on);
        // Without a port the switch is remembered for the next opening, but
        // the box shows a line only when there is one.
        if (MSComm1->PortOpen())
            box->paintState(on);
    } catch (const CommError &error) {
        report(error);
    }
}

void OknoTerma::mnuAbout_Click()
{
    const QString text = QStringLiteral("Solvane\r")
                         + QStringLiteral("modemterm " MODEMTERM_VERSION
                                          " \u2013 terminal portu szeregowego dla modemu")
                         + u'\r';
    // Carriage returns are the line breaks of the box's text; the last one
    // would only add an empty line here.
    QString shown = text;
    shown.replace(u'\r', u'\n');
    QMessageBox box(QMessageBox::Information, QStringLiteral("About"), shown.trimmed(),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void OknoTerma::mnuWyjdź_Click()
{
    endProgram();
}

void OknoTerma::endProgram()
{
    close();
    Q_EMIT programEndRequested(0);
}

void OknoTerma::mnuSetPort_Click()
{
    // No owner, so application modal; the clock keeps ticking meanwhile.
    SetCOM dialog(PortComNR);
    if (dialog.exec() == QDialog::Accepted)
        applyPort(dialog.PortComNR());
}

void OknoTerma::mnuSetMod_Click()
{
    try {
        MSComm1->setOutput(QByteArrayLiteral("AT&V\r"));
    } catch (const CommError &error) {
        report(error);
    }
}

void OknoTerma::setSessionLog(std::unique_ptr<SessionLog> log)
{
    m_log = log.release();
    m_log->setParent(this);
    connect(m_log, &SessionLog::writeFailed, this, &OknoTerma::logWriteFailed);
    m_log->flush(); // the header, at once
}

void OknoTerma::logWriteFailed(const QString &path, const QString &reason)
{
    // Shown from the event loop, not inside the receive that found it.
    const QString text = QStringLiteral("Nie mogę dalej zapisywać dziennika sesji; terminal działa bez niego.\n")
                         + path + QLatin1String(": ") + reason;
    QTimer::singleShot(0, this, [this, text] { warn(text); });
}

void OknoTerma::setLineSettings(const QString &settings, int handshaking)
{
    m_settings = settings.isEmpty() ? QString::fromLatin1(StartupSettings) : settings;
    m_handshaking = handshaking;
}

void OknoTerma::enableReconnect(std::function<bool(int port)> deviceExists)
{
    m_reconnector = new Reconnector([this, exists = std::move(deviceExists)] { return exists(PortComNR); },
                                    [this] {
                                        openPort(PortComNR);
                                        return MSComm1->PortOpen();
                                    },
                                    this);
}

bool OknoTerma::tells(const CommError &error)
{
    return !m_reconnector || m_reconnector->tells(error.number(), m_warningsShown > 0);
}
