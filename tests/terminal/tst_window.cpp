// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "indicator.h"
#include "runningterminal.h"
#include "timeofday.h"

#include <QAccessible>
#include <QMenuBar>
#include <QTest>

namespace {

// A terminal window on a FakeComm, with a watcher that records and closes
// every message box.
struct WindowFixture : WatchedTerminal
{
    FakeComm *comm;

    explicit WindowFixture(FakeComm *fake = new FakeComm) : WatchedTerminal(fake), comm(fake) {}
    QWidget *child(const char *name) const { return window->findChild<QWidget *>(name); }
    void click(const char *name) const { QTest::mouseClick(child(name), Qt::LeftButton); }
    // Chooses a menu item as a user does, by its text.
    void choose(const QString &item) const
    {
        for (QAction *menu : window->menuBar()->actions()) {
            for (QAction *action : menu->menu()->actions()) {
                if (action->text() == item)
                    return action->trigger();
            }
        }
        QFAIL("no such menu item");
    }

    // What the user has seen: each box as a screen reader tells it, or "?"
    // for a box left unpainted, then the warnings.
    QString seen() const
    {
        QStringList shown;
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"}) {
            QAccessibleInterface *box = QAccessible::queryAccessibleInterface(child(name));
            shown += box->text(QAccessible::Name) + u' '
                + (qobject_cast<Indicator *>(child(name))->isPainted() ? box->text(QAccessible::Description) : "?");
        }
        return (shown + texts).join(u" | ");
    }
};

// The same, started.
struct StartedWindow : WindowFixture
{
    StartedWindow() { start(); }
};

// The warning's text for a port error.
QString warning(CommError::Number number)
{
    return u"Nieznany błąd nr %1 "_qs.arg(int(number)) + CommError::describe(number);
}

} // namespace

// The terminal window on a fake serial control: the port opened at start with
// its warnings, closed, lost and chosen again; the line boxes and switches;
// received text and typed keys; the clock, the About box.
class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The boxes follow the modem's lines at a line event only.
    void boxesFollowLineEvents_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("dsr");
        QTest::addColumn<QString>("boxes");
        QTest::newRow("CTS") << int(CommControl::comEvCTS) << true << "CD aktywna | CTS nieaktywna | DSR aktywna | RTS aktywna | DTR aktywna";
        QTest::newRow("DSR") << int(CommControl::comEvDSR) << false << "CD aktywna | CTS nieaktywna | DSR nieaktywna | RTS aktywna | DTR aktywna";
        QTest::newRow("ring") << 6 << true << "CD nieaktywna | CTS nieaktywna | DSR nieaktywna | RTS aktywna | DTR aktywna";
    }

    void boxesFollowLineEvents()
    {
        QFETCH(int, code);
        QFETCH(bool, dsr);
        QFETCH(QString, boxes);
        StartedWindow f;
        f.comm->setLines(/*cd*/ true, /*cts*/ false, dsr);
        f.comm->raise(code);
        QCOMPARE(f.seen(), boxes);
    }

    // A switch flips its own line and box; the other boxes ignore clicks.
    void switchesFlipTheirLine()
    {
        StartedWindow f;
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicDTR", "PicRTS"})
            f.click(name);
        QCOMPARE(f.seen(), "CD nieaktywna | CTS nieaktywna | DSR nieaktywna | RTS nieaktywna | DTR nieaktywna");
    }

    // A line that will not switch is reported over the window, and its box stays.
    void failedSwitchIsReported()
    {
        StartedWindow f;
        f.comm->failOn(FakeComm::SetDTR, CommError(CommError::LineControlFailed));
        f.click("PicDTR");
        QCOMPARE(f.seen(), "CD nieaktywna | CTS nieaktywna | DSR nieaktywna | RTS aktywna | DTR aktywna | " + warning(CommError::LineControlFailed));
        QCOMPARE(f.looks, QStringList{"Warning, OK, over the window"});
    }

    // A port that fails at start (here at the greeting) is told before the
    // window, alone, with the system's reason wrapped inside the box (here a
    // word of 300 characters), and not again when the window closes.
    void failedOpeningWarnsBeforeTheWindow()
    {
        WindowFixture f;
        const QString reason(300, u'h'); // a host name, say
        f.comm->failOn(FakeComm::SetOutput, CommError(CommError::WriteFailed, reason));
        f.start();
        QCOMPARE(f.seen(), "CD ? | CTS ? | DSR ? | RTS ? | DTR ? | " + warning(CommError::WriteFailed) + u'\n' + reason);
        QCOMPARE(f.looks, QStringList{"Warning, OK"});
        f.window->close();
        QCOMPARE(f.count(), 1);
    }

    // "Wyjdź" closes the port, showing a failed close, and then asks the
    // program to end with status 0.
    void wyjdzUnloadsThenEndsTheProgram()
    {
        StartedWindow f;
        f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure));
        QList<qsizetype> end; // the status, and the warnings shown by then
        QObject::connect(f.window.get(), &OknoTerma::programEndRequested, [&](int status) {
            end << status << f.count();
        });
        f.choose("&Wyjdź");
        QCOMPARE(end, (QList<qsizetype>{0, 1}));
    }

    // Without a port a write is shown as failed, and what was refused is not
    // sent to a port opened later; switches are remembered for it but shown
    // on no box; "Modemu" is refused.
    void withoutAPortWritesFailAndSwitchesWait()
    {
        StartedWindow f;
        f.comm->fail(CommError(CommError::DeviceLost));
        QTRY_COMPARE(f.count(), 1);
        f.typeLine("ATD555");
        f.click("PicDTR");
        f.click("PicRTS");
        f.choose("Modemu");
        QCOMPARE(f.seen(), "CD ? | CTS ? | DSR ? | RTS ? | DTR ? | " + warning(CommError::DeviceLost) + " | "
                     + warning(CommError::PortNotOpen) + " | " + warning(CommError::PortNotOpen));
        f.window->OtworzCOM();
        f.typeLine("X");
        QCOMPARE(f.comm->writes, (QList<QByteArray>{"AT\r", "AT\r", "X\r"}));
        QCOMPARE(f.comm->openings.last(), "COM2 9600,N,8,1 RThreshold=1 DTR=0 RTS=0");
    }

    // "Ustawieni Portu", with no owner, starts from the window's port; the port
    // the dialog closes with is opened and greeted, unless it is already open.
    void choosingAPort_data()
    {
        QTest::addColumn<bool>("startFails");
        QTest::addColumn<QString>("clicks"); // the names of what is clicked in the dialog
        QTest::addColumn<QString>("openings");
        QTest::newRow("another port, Zastosuj")
            << false << "SetCOM3 cmdZastosuj" << "COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1; COM3 9600,N,8,1 RThreshold=1 DTR=1 RTS=1";
        QTest::newRow("the same open port is left alone") << false << "cmdZapisz" << "COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1";
        QTest::newRow("the same port again after a failed opening") << true << "cmdZastosuj" << "COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1";
        QTest::newRow("Anuluj") << false << "SetCOM4 cmdAnuluj" << "COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1";
    }

    void choosingAPort()
    {
        QFETCH(bool, startFails);
        QFETCH(QString, clicks);
        QFETCH(QString, openings);
        WindowFixture f;
        if (startFails)
            f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortInUse));
        f.start();
        f.setDialogHandler([&](QWidget *dialog) {
            for (const QString &name : clicks.split(u' '))
                dialog->findChild<QAbstractButton *>(name)->click();
            QCOMPARE(dialog->parentWidget(), nullptr);
        });
        f.choose("Portu");
        QCOMPARE(f.comm->openings.join(u"; "), openings);
    }

    // Received text goes to the end, and so does the caret, even when moved;
    // a CR LF split across reads ends one line. (The line ends and the
    // characters, however the reads are cut, are the fuzz target's check.)
    void receivedTextGoesToTheEnd()
    {
        StartedWindow f;
        f.comm->receive("ATI\r");
        f.text1()->setCaretPosition(0);
        f.comm->receive("\nOK");
        QCOMPARE(f.text1()->text(), "ATI\nOK");
        QCOMPARE(f.text1()->caretPosition(), 6);
    }

    // Under a flood older text leaves: at most 100,000 lines and 16 million characters stay.
    void floodKeepsTheNewestText()
    {
        StartedWindow f;
        f.comm->receive(QByteArray(100'000, '\n'));
        QVERIFY(f.text1()->lineCount() <= 100'000);
        f.comm->receive(QByteArray(16'000'001, 'x'));
        QVERIFY(f.text1()->textLength() <= 16'000'000);
    }

    // Each Enter sends what was collected in one write; the text area still
    // applies every key as usual.
    void typedKeysReachThePortAsBytes()
    {
        StartedWindow f;
        QWidget *t = f.text1();
        f.typeLine("ATI");
        QTest::keyClick(t, Qt::Key_Enter, Qt::KeypadModifier); // the buffer was emptied
        f.typeLine("AX\bT");
        QTest::sendKeyEvent(QTest::Click, t, Qt::Key_unknown, "ąŁ€ñ", Qt::NoModifier); // ñ is not in the code page
        // Left, Ctrl+1, Alt+X and Tab have no character for the modem. (A key sequence holds four keys.)
        QTest::keySequence(t, u"Esc, Ctrl+Shift+A, Ctrl+[, Left"_qs);
        QTest::keySequence(t, u"Ctrl+1, Alt+X, Tab"_qs);
        // AltGr as Windows reports it: Ctrl+Alt with the character.
        QTest::sendKeyEvent(QTest::Click, t, Qt::Key_E, "ę", Qt::ControlModifier | Qt::AltModifier);
        f.typeLine({});
        QInputMethodEvent commit;
        commit.setCommitString("żó");
        QCoreApplication::sendEvent(t, &commit);
        QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier); // the byte 3 for the modem, a copy in the text area
        f.typeLine({});
        QCOMPARE(f.comm->writes, (QList<QByteArray>{"AT\r", "ATI\r", "\r", "AX\bT\r", "\xB9\xA3\x80?\x1B\x01\x1B\xEA\r",
                                                    "\xBF\xF3\x03\r"}));
    }

    // The clock shows the time of day, also to a screen reader, and goes on
    // without a port and while "Ustawieni Portu" is up (modal, with no owner).
    void clockShowsTheTime()
    {
        StartedWindow f;
        f.comm->fail(CommError(CommError::DeviceLost));
        QAccessibleInterface *zegar = QAccessible::queryAccessibleInterface(f.child("Zegar"));
        bool shown = false;
        f.setDialogHandler([&](QWidget *dialog) {
            const QString later = TimeOfDay::text(QTime::currentTime().addSecs(2));
            shown = QTest::qWaitFor([&] { return zegar->text(QAccessible::Name) == later; }, 4000);
            dialog->close();
        });
        f.choose("Portu");
        QVERIFY(shown);
    }

    // The time of day in the user's long format, without its time zone.
    void clockLeavesOutTheZone()
    {
        QCOMPARE(TimeOfDay::text(QTime(14, 5, 9), QLocale("pl_PL")), "14:05:09");
    }

    // Tab walks the focus order. (Not sent: typedKeysReachThePortAsBytes.)
    void tabWalksTheFocusOrder()
    {
        StartedWindow f;
        for (const char *name : {"Text1", "PicDSR", "PicCTS", "PicCD", "PicRTS", "PicDTR", "Text1"}) {
            QCOMPARE(f.window->focusWidget()->objectName(), name);
            QTest::keyClick(f.window->focusWidget(), Qt::Key_Tab);
        }
    }

    void aboutNamesTheProgramAndItsVersion()
    {
        StartedWindow f;
        f.choose("&About");
        QCOMPARE(f.looks, QStringList{"Information, OK, over the window"});
        QCOMPARE(f.texts, QStringList{"Solvane\nmodemterm " MODEMTERM_VERSION " – terminal portu szeregowego dla modemu"});
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
