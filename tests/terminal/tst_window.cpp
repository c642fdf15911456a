// SPDX-License-Identifier: MIT
#include "fakecomm.h"
#include "indicator.h"
#include "modalwatcher.h"
#include "runningterminal.h"
#include "setcom.h"
#include "timeofday.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>

Q_DECLARE_METATYPE(CommError)

namespace {

// A terminal window on a FakeComm, with a watcher that records and closes
// every message box.
struct WindowFixture : RunningTerminal
{
    FakeComm *comm;
    ModalWatcher boxes;

    explicit WindowFixture(FakeComm *fake = new FakeComm) : RunningTerminal(fake), comm(fake) {}
    QWidget *child(const char *name) const { return window->findChild<QWidget *>(QLatin1String(name)); }
    void click(const char *name) const { QTest::mouseClick(child(name), Qt::LeftButton); }
    // Chooses a menu item as a user does: the menu by its title, then the item.
    void choose(const QString &menu, const QString &item) const
    {
        for (QAction *top : window->menuBar()->actions()) {
            for (QAction *action : top->text() == menu ? top->menu()->actions() : QList<QAction *>()) {
                if (action->text() == item)
                    return action->trigger();
            }
        }
        QFAIL("no such menu item");
    }

    // What the device and the user have seen: each opening of the port, the
    // bytes written, the boxes ("CD+" red, "CD-" green, "CD?" unpainted), the warnings.
    QString seen() const
    {
        QStringList lines;
        for (const char *name : {"CD", "CTS", "DSR", "RTS", "DTR"}) {
            const auto *box = qobject_cast<Indicator *>(child(QByteArray("Pic") + name));
            lines += name + QString(!box->isPainted() ? u'?' : box->colour() == Indicator::activeColour() ? u'+' : u'-');
        }
        return QStringList{comm->openings.join(u"; "), QString::fromLatin1(comm->writes.join(", ")), lines.join(u' '),
                           boxes.texts.join(u"; ")}.join(u" | ");
    }
};

// How the port opens at start.
const QString opened2 = QStringLiteral("COM2 9600,N,8,1 RThreshold=1 DTR=1 RTS=1");

// The warning's text for a port error.
QString warning(CommError::Number number, const QString &detail = {})
{
    return QStringLiteral("Nieznany błąd nr %1 ").arg(int(number)) + CommError::describe(number)
        + (detail.isEmpty() ? QString() : u'\n' + detail);
}

} // namespace

// The terminal window on a fake serial control: the port opened at start with
// its warnings, closed, lost and chosen again; the line boxes and switches;
// received text and typed keys; the clock, the About box.
class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Port 2 opens with its settings in force and is greeted once; the boxes
    // show the modem's lines and the window's outputs.
    void boxesShowTheLinesAtStart()
    {
        WindowFixture f;
        f.comm->setLines(/*cd*/ true, /*cts*/ false, /*dsr*/ true);
        f.comm->CommControl::setDTREnable(false);
        f.start();
        QCOMPARE(f.seen(), u"COM2 9600,N,8,1 RThreshold=1 DTR=0 RTS=1 | AT\r | CD+ CTS- DSR+ RTS+ DTR- | "_qs);
    }

    // A screen reader hears each box's line and whether it is on.
    void boxesTellScreenReadersTheirState()
    {
        WindowFixture f;
        f.comm->setLines(true, false, false);
        f.start();
        QAccessibleInterface *cd = QAccessible::queryAccessibleInterface(f.child("PicCD"));
        QCOMPARE(cd->text(QAccessible::Name), u"CD"_qs);
        QCOMPARE(cd->text(QAccessible::Description), u"aktywna"_qs);
        QCOMPARE(QAccessible::queryAccessibleInterface(f.child("PicCTS"))->text(QAccessible::Description), u"nieaktywna"_qs);
    }

    // The boxes follow the modem's lines at a line event only.
    void boxesFollowLineEvents_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("boxes");
        const QString before = u"CD- CTS- DSR- RTS+ DTR+"_qs, after = u"CD+ CTS+ DSR+ RTS+ DTR+"_qs;
        QTest::newRow("CTS") << int(CommControl::comEvCTS) << after;
        QTest::newRow("DSR") << int(CommControl::comEvDSR) << after;
        QTest::newRow("CD") << int(CommControl::comEvCD) << after;
        QTest::newRow("ring") << 6 << before;
        QTest::newRow("break") << 1001 << before;
    }

    void boxesFollowLineEvents()
    {
        QFETCH(int, code);
        QFETCH(QString, boxes);
        WindowFixture f;
        f.start();
        f.comm->setLines(true, true, true);
        f.comm->raise(code);
        QCOMPARE(f.seen(), opened2 + u" | AT\r | "_qs + boxes + u" | "_qs);
    }

    // A switch flips its own line and box; the other boxes and the captions
    // ignore clicks.
    void switchesFlipTheirLine()
    {
        WindowFixture f;
        f.start();
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "Label1", "Label2", "Label3", "Label4", "Label5", "Zegar"})
            f.click(name);
        f.click("PicDTR");
        f.click("PicRTS");
        QCOMPARE(f.seen(), opened2 + u" | AT\r | CD- CTS- DSR- RTS- DTR- | "_qs);
        QCOMPARE(f.comm->DTREnable(), false);
        QCOMPARE(f.comm->RTSEnable(), false);
    }

    // A line that will not switch is reported, and its box stays.
    void failedSwitchIsReported()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::SetDTR, CommError(CommError::LineControlFailed));
        f.click("PicDTR");
        QCOMPARE(f.seen(), opened2 + u" | AT\r | CD- CTS- DSR- RTS+ DTR+ | "_qs + warning(CommError::LineControlFailed));
    }

    // The warning comes before the window, alone; nothing after the failed
    // step runs, and it is not reported again when the window closes.
    void failedOpeningWarnsBeforeTheWindow_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<CommError>("error");
        QTest::addColumn<QString>("warning");
        const auto row = [](const char *name, FakeComm::Operation step, const CommError &e, const char *text) {
            QTest::newRow(name) << int(step) << e << QString::fromUtf8(text);
        };
        row("missing port, with the system's reason", FakeComm::OpenPort,
            CommError(CommError::PortNotFound, u"/dev/ttyS1: ENOENT"_qs), "Nie mogę otworzyć portu COM 2\n/dev/ttyS1: ENOENT");
        row("settings", FakeComm::SetSettings, CommError(380, u"Zła wartość"_qs), "Nieznany błąd nr 380 Zła wartość");
        row("greeting", FakeComm::SetOutput, CommError(8020, u"Zapis"_qs), "Nieznany błąd nr 8020 Zapis");
        row("negative", FakeComm::OpenPort, CommError(-7, u"D"_qs), "Nieznany błąd nr-7 D");
        row("no description", FakeComm::OpenPort, CommError(1, QString()), "Nieznany błąd nr 1 ");
    }

    void failedOpeningWarnsBeforeTheWindow()
    {
        QFETCH(int, step);
        QFETCH(CommError, error);
        QFETCH(QString, warning);
        WindowFixture f;
        f.comm->failOn(FakeComm::Operation(step), error);
        f.window->Form_Load();
        const QString opened = step == FakeComm::SetOutput ? opened2 : QString();
        QCOMPARE(f.seen(), opened + u" |  | CD? CTS? DSR? RTS? DTR? | "_qs + warning);
        QCOMPARE(f.boxes.looks, QStringList{"Ostrzeżenie, warning, OK"});
        f.window->show();
        QVERIFY(f.window->close());
        QCOMPARE(f.boxes.count(), 1);
    }

    // A very long second line (a host name of 300 characters) wraps inside the box.
    void longWarningWrapsInItsBox()
    {
        WindowFixture f;
        const QString url = u"rfc2217://"_qs + QString(300, u'h') + u":2217"_qs;
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound, url + u": Host not found"_qs));
        f.start();
        QCOMPARE(f.boxes.looks, QStringList{"Ostrzeżenie, warning, OK"});
        QCOMPARE(f.boxes.texts.first(), u"Nie mogę otworzyć portu COM 2\n"_qs + url + u": Host not found"_qs);
    }

    // "Wyjdź" closes the port, showing a failed close, and then asks the
    // program to end with status 0.
    void wyjdzUnloadsThenEndsTheProgram()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::ClosePort, CommError(CommError::UnknownFailure, u"EIO"_qs));
        QList<int> end; // the status, and the warnings shown by then
        QObject::connect(f.window.get(), &OknoTerma::programEndRequested, [&](int status) {
            end << status << int(f.boxes.count());
        });
        f.choose(u"&Plik"_qs, u"&Wyjdź"_qs);
        QCOMPARE(f.window->isVisible(), false);
        QCOMPARE(f.boxes.texts, QStringList{warning(CommError::UnknownFailure, u"EIO"_qs)});
        QCOMPARE(end, (QList<int>{0, 1}));
    }

    // A device that goes away is reported once, over the window, after the
    // control finished reporting it.
    void lostPortIsToldOnce()
    {
        WindowFixture f;
        f.start();
        f.comm->fail(CommError(CommError::DeviceLost, u"/dev/ttyUSB0: hang-up"_qs));
        QCOMPARE(f.boxes.count(), 0);
        QTRY_COMPARE(f.boxes.texts, QStringList{warning(CommError::DeviceLost, u"/dev/ttyUSB0: hang-up"_qs)});
        QCOMPARE(f.boxes.looks.first(), QStringLiteral("Ostrzeżenie, warning, OK, over the window"));
    }

    // Without a port a write is shown as failed, and what was refused is not
    // sent to a port opened later; switches are remembered for it but shown
    // on no box; keys typed in a box are not collected; "Modemu" is refused.
    void withoutAPortWritesFailAndSwitchesWait()
    {
        WindowFixture f;
        f.start();
        f.comm->fail(CommError(CommError::DeviceLost));
        QTRY_COMPARE(f.boxes.count(), 1);
        f.typeLine(u"ATD555"_qs);
        f.click("PicDTR");
        f.click("PicRTS");
        QTest::keyClicks(f.child("PicDSR"), u"XY\r"_qs);
        f.choose(u"&Ustawienia"_qs, u"Modemu"_qs);
        QCOMPARE(f.seen(), opened2 + u" | AT\r | CD? CTS? DSR? RTS? DTR? | "_qs + warning(CommError::DeviceLost)
                     + u"; "_qs + warning(CommError::PortNotOpen) + u"; "_qs + warning(CommError::PortNotOpen));
        f.window->OtworzCOM();
        f.typeLine(u"X"_qs);
        QCOMPARE(f.comm->writes, (QList<QByteArray>{"AT\r", "AT\r", "X\r"}));
        QVERIFY2(f.seen().contains(u"RTS- DTR-"_qs), qPrintable(f.seen()));
    }

    // "Ustawieni Portu" starts from the window's port, modal with no owner; a
    // choice it closes with is applied: a new port is opened and greeted.
    void choosingAPort_data()
    {
        QTest::addColumn<int>("fails");      // what fails once when the choice is applied (-2: the start's opening)
        QTest::addColumn<QString>("choice"); // an option's name, or nothing
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("port");       // PortComNR afterwards
        QTest::addColumn<QString>("seen");
        const QString opened = opened2 + u"; COM%1 9600,N,8,1 RThreshold=1 DTR=1 RTS=1 | AT\r, AT\r | "_qs;
        const QString kept = opened2 + u" | AT\r | "_qs, boxes = u"CD- CTS- DSR- RTS+ DTR+ | "_qs;
        QTest::newRow("another option, Zastosuj") << -1 << "SetCOM3" << "cmdZastosuj" << 3 << opened.arg(3) + boxes;
        QTest::newRow("the same open port is left alone") << -1 << "" << "cmdZapisz" << 2 << kept + boxes;
        QTest::newRow("the same port again after a failed opening")
            << -2 << "" << "cmdZastosuj" << 2 << kept + boxes + warning(CommError::PortInUse);
        QTest::newRow("Anuluj") << -1 << "SetCOM4" << "cmdAnuluj" << 2 << kept + boxes;
        // A failed switch shows no lines.
        const QString none = u"CD? CTS? DSR? RTS? DTR? | "_qs;
        QTest::newRow("unopenable port") << int(FakeComm::OpenPort) << "SetCOM4" << "cmdZastosuj" << 4
                                         << kept + none + u"Nie mogę otworzyć portu COM 4"_qs;
        // Reported as at unload; the number cannot change while the old port is open.
        QTest::newRow("old port will not close") << int(FakeComm::ClosePort) << "SetCOM1" << "cmdZastosuj" << 1
            << kept + none + warning(CommError::UnknownFailure) + u"; "_qs + warning(CommError::PortAlreadyOpen);
    }

    void choosingAPort()
    {
        QFETCH(int, fails);
        QFETCH(QString, choice);
        QFETCH(QString, button);
        QFETCH(int, port);
        QFETCH(QString, seen);
        WindowFixture f;
        if (fails == -2)
            f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortInUse));
        f.start();
        if (fails >= 0)
            f.comm->failOn(FakeComm::Operation(fails),
                           CommError(fails == FakeComm::OpenPort ? CommError::PortNotFound : CommError::UnknownFailure));
        f.boxes.setDialogHandler([&](QWidget *w) {
            auto *dialog = qobject_cast<SetCOM *>(w);
            QVERIFY(dialog);
            QCOMPARE(dialog->parentWidget(), nullptr);
            QCOMPARE(QApplication::activeModalWidget(), w);
            QCOMPARE(dialog->PortComNR(), quint8(2));
            if (!choice.isEmpty())
                dialog->findChild<QRadioButton *>(choice)->click();
            dialog->findChild<QAbstractButton *>(button)->click();
        });
        f.choose(u"&Ustawienia"_qs, u"Portu"_qs);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(f.seen(), seen);
        QCOMPARE(f.window->PortComNR, quint8(port));
        QCOMPARE(f.comm->PortOpen(), fails != FakeComm::OpenPort);
    }

    // Received text goes to the end, and so does the caret, even when moved;
    // a CR LF split across reads ends one line. (The line ends and the
    // characters, however the reads are cut, are the fuzz target's check.)
    void receivedTextGoesToTheEnd()
    {
        WindowFixture f;
        f.start();
        for (const QByteArray &chunk : QByteArrayList{"ATI\r", "", "\nOK"}) {
            f.text1()->setCaretPosition(0);
            f.comm->receive(chunk);
        }
        QCOMPARE(f.text1()->text(), u"ATI\nOK"_qs);
        QCOMPARE(f.text1()->caretPosition(), f.text1()->textLength());
    }

    // Under a flood older text leaves: at most 100,000 lines and 16 million characters stay.
    void floodKeepsTheNewestText()
    {
        WindowFixture f;
        f.start();
        f.comm->receive(QByteArray(100'000, '\n'));
        QVERIFY(f.text1()->lineCount() <= 100'000);
        f.comm->receive(QByteArray(16'000'001, 'x'));
        QVERIFY(f.text1()->textLength() <= 16'000'000);
    }

    // Each Enter sends what was collected in one write; the text area still
    // applies every key as usual, shortcuts included.
    void typedKeysReachThePortAsBytes()
    {
        WindowFixture f;
        f.start();
        QWidget *t = f.text1();
        QTest::keyClicks(t, u"ATI"_qs);
        QTest::keyClick(t, Qt::Key_Return);
        QTest::keyClick(t, Qt::Key_Enter, Qt::KeypadModifier); // the buffer was emptied
        f.typeLine(u"AX\bT"_qs);
        QCOMPARE(f.text1()->text(), QStringLiteral("ATI\n\nAT\n"));
        for (const QChar c : u"ąŁ€ñ"_qs) // ñ is not in the code page
            QTest::sendKeyEvent(QTest::Click, t, Qt::Key_unknown, QString(c), Qt::NoModifier);
        const Qt::KeyboardModifiers none, ctrl = Qt::ControlModifier;
        for (const auto &[key, mods] : {std::pair(Qt::Key_Escape, none), {Qt::Key_I, ctrl}, {Qt::Key_Z, ctrl},
                                        {Qt::Key_A, ctrl | Qt::ShiftModifier}, {Qt::Key_BracketLeft, ctrl},
                                        // Keys without a character are not collected.
                                        {Qt::Key_Left, none}, {Qt::Key_F1, none}, {Qt::Key_1, ctrl},
                                        {Qt::Key_X, Qt::AltModifier}})
            QTest::keyClick(t, key, mods);
        // AltGr as Windows reports it: Ctrl+Alt with the character.
        QTest::sendKeyEvent(QTest::Click, t, Qt::Key_E, u"ę"_qs, ctrl | Qt::AltModifier);
        f.typeLine(QString());
        QInputMethodEvent commit;
        commit.setCommitString(u"żó"_qs);
        QCoreApplication::sendEvent(t, &commit);
        f.typeLine(QString());
        // Ctrl+C is the byte 3 for the modem and still copies in the text area.
        QTest::keyClick(t, Qt::Key_A, ctrl);
        QTest::keyClick(t, Qt::Key_C, ctrl);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), f.text1()->text());
        f.typeLine(QString());
        QCOMPARE(f.comm->writes, (QList<QByteArray>{"AT\r", "ATI\r", "\r", "AX\bT\r", "\xB9\xA3\x80?\x1B\t\x1A\x01\x1B\xEA\r",
                                                    "\xBF\xF3\r", "\x01\x03\r"}));
    }

    // The time of day in the user's long format without its time zone, also
    // for a screen reader.
    void clockShowsTheTime()
    {
        WindowFixture f;
        auto *zegar = qobject_cast<QLabel *>(f.child("Zegar"));
        f.start();
        QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != QStringLiteral("Label2"), 3000);
        QCOMPARE(QAccessible::queryAccessibleInterface(zegar)->text(QAccessible::Name), zegar->text());
        const QTime shown = QLocale::system().toTime(zegar->text(), TimeOfDay::format(QLocale::system()));
        QVERIFY2(shown.isValid(), qPrintable(zegar->text()));
        const int off = qAbs(shown.secsTo(QTime::currentTime()));
        QVERIFY2(qMin(off, 86400 - off) <= 2, qPrintable(zegar->text())); // also around midnight
    }

    // The clock ticks while "Ustawieni Portu" is up (modal, with no owner).
    void clockTicksUnderTheDialog()
    {
        WindowFixture f;
        f.start();
        const auto *zegar = qobject_cast<QLabel *>(f.child("Zegar"));
        bool ticked = false;
        f.boxes.setDialogHandler([&](QWidget *dialog) {
            const QString before = zegar->text();
            QTRY_VERIFY_WITH_TIMEOUT(ticked = zegar->text() != before, 3000);
            dialog->close();
        });
        f.choose(u"&Ustawienia"_qs, u"Portu"_qs);
        QVERIFY(ticked);
    }

    // The clock goes on without a port.
    void clockTicksWithoutAPort()
    {
        WindowFixture f;
        f.start();
        f.comm->fail(CommError(CommError::DeviceLost));
        QTRY_COMPARE(f.boxes.count(), 1);
        const auto *zegar = qobject_cast<QLabel *>(f.child("Zegar"));
        const QString before = zegar->text();
        QTRY_VERIFY_WITH_TIMEOUT(zegar->text() != before, 3000);
    }

    // The time of day leaves out the zone, in any locale.
    void clockLeavesOutTheZone()
    {
        QCOMPARE(TimeOfDay::text(QTime(14, 5, 9), QLocale(u"pl_PL"_qs)), QStringLiteral("14:05:09"));
        QCOMPARE(TimeOfDay::text(QTime(14, 5, 9), QLocale(u"en_US"_qs)), QStringLiteral("2:05:09 PM"));
    }

    // Tab walks the focus order and is neither typed nor collected for sending.
    void tabWalksTheFocusOrder()
    {
        WindowFixture f;
        f.start();
        const QStringList order{"Text1", "PicDSR", "PicCTS", "PicCD", "PicRTS", "PicDTR"};
        QStringList walked;
        for (int i = 0; i < 6; ++i) {
            walked.append(f.window->focusWidget()->objectName());
            QTest::keyClick(f.window->focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(walked, order);
        QCOMPARE(f.window->focusWidget(), f.text1());
        f.typeLine(QString());
        QCOMPARE(f.comm->writes.last(), QByteArray("\r"));
    }

    void aboutNamesTheProgramAndItsVersion()
    {
        WindowFixture f;
        f.start();
        f.choose(u"&Plik"_qs, u"&About"_qs);
        QCOMPARE(f.boxes.looks, QStringList{"About, information, OK, over the window"});
        QVERIFY2(f.boxes.texts.first().startsWith(QStringLiteral("Solvane\nmodemterm " MODEMTERM_VERSION)),
                 qPrintable(f.boxes.texts.first()));
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
