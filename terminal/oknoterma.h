// SPDX-License-Identifier: MIT
#pragma once

#include "commerror.h"
#include "receivedecoder.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class CommControl;
class Indicator;
class QTimer;
class Reconnector;
class SessionLog;
namespace Ui {
class OknoTerma;
}

// The terminal window: the transcript, the five modem line boxes, the clock,
// the menus, and the serial control MSComm1 every port operation goes through.
//
// Handlers keep the names of the events they answer (control, underscore,
// event). Every port operation can throw CommError; each handler catches it at
// its own boundary and shows it with PrintError, so nothing escapes into Qt.
class OknoTerma : public QMainWindow
{
    Q_OBJECT

public:
    // Takes ownership of the serial control.
    explicit OknoTerma(CommControl *comm, QWidget *parent = nullptr);
    ~OknoTerma() override;

    // Runs before the window is first shown: opens the port.
    void Form_Load();

    // Opens the start-up port, port 2.
    void OtworzCOM();
    // Shows the pending error, if any, in a warning box; leaves it pending.
    void PrintError();
    // Repaints all five boxes from the port's present line states. Throws.
    void PrintMSR();

    // The number of the port the window opens; 0 until the first opening.
    quint8 PortComNR = 0;

    // What "Wyjdź" does: unloads the window (closing the port) and asks for
    // the program to end. Also the answer to a request to terminate.
    void endProgram();

    // Opt-in extras, each off unless its command-line option asks for it.

    // Everything received also goes to `log` (taken over), which is written
    // out whenever the port closes and when the window unloads.
    void setSessionLog(std::unique_ptr<SessionLog> log);
    // When the port's device goes away, or cannot be found at an opening, the
    // loss is told once as usual; then the port is opened again by itself, as
    // at start, once `deviceExists(port number)` says the device is back.
    void enableReconnect(std::function<bool(int port)> deviceExists);

Q_SIGNALS:
    // "Wyjdź" was chosen and the window unloaded: the program is to end now,
    // with this status.
    void programEndRequested(int exitCode);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Resize();
    void Form_Unload();
    void Timer1_Timer();
    void MSComm1_OnComm();
    void MSComm1_PortFailed(const CommError &error);
    void Text1_KeyPress(const QByteArray &keyBytes);
    void PicDTR_Click();
    void PicRTS_Click();
    void mnuAbout_Click();
    void mnuWyjdź_Click();
    void mnuSetPort_Click();
    void mnuSetMod_Click();

    // The steps of an opening, shared by start-up and a port chosen in SetCOM.
    void openPort(quint8 number);
    // Closes the port, reporting a failure; the port counts as closed after.
    void closePort();
    void applyPort(quint8 number);
    // Without an open port the boxes show no line at all, as before the first opening.
    void unpaintBoxes();
    // Flips one output line and paints only its box.
    void switchLine(bool (CommControl::*read)() const, void (CommControl::*write)(bool),
                    Indicator *box);
    void report(const CommError &error);
    // With reconnecting on: starts waiting for the device after `error`, if
    // it means the device is not there, and says whether the error is to be
    // kept quiet (an automatic opening's, or the same absence told before).
    bool reconnectAfter(const CommError &error);
    bool reopenQuietly();
    void logWriteFailed(const QString &path, const QString &reason);

    std::unique_ptr<Ui::OknoTerma> ui;
    CommControl *MSComm1;
    QTimer *Timer1;
    QByteArray SendBuffer;
    ReceiveDecoder m_decoder;
    // Reused by every receive, so the hot path allocates nothing: the text in
    // the transcript's form, and as it shows for the session log.
    QByteArray m_received;
    QString m_receivedText;

    // The error PrintError shows; it stays pending until the next operation
    // that can fail starts.
    std::optional<CommError> m_pendingError;

    SessionLog *m_log = nullptr;
    Reconnector *m_reconnector = nullptr;
    bool m_openingQuietly = false;
    // Since the device was last found missing, without the user choosing a
    // port: the absence was told and need not be again.
    bool m_absenceTold = false;
};
