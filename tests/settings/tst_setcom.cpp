#include "modalwatcher.h"
#include "setcom.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

// The dialog, shown, with its controls at hand.
struct Dialog
{
    explicit Dialog(quint8 initialPort = 0) : dialog(initialPort)
    {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    }
    template<typename T>
    T *control(const char *name) { return dialog.findChild<T *>(QLatin1String(name)); }
    QLineEdit *field() { return control<QLineEdit>("txtNRcom"); }
    QRadioButton *option(const char *name) { return control<QRadioButton>(name); }
    // Clicks on the option's round mark, where a user would.
    void choose(const char *name)
    {
        QRadioButton *button = option(name);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }
    void press(const char *name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void typeOver(const QString &text)
    {
        QTest::keyClick(field(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field(), text);
    }
    QList<QRadioButton *> checkedOptions()
    {
        QList<QRadioButton *> checked;
        for (QRadioButton *button : dialog.findChildren<QRadioButton *>())
            if (button->isChecked())
                checked.append(button);
        return checked;
    }

    SetCOM dialog;
};

} // namespace

class TestSetCOM : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensQuietlyAsDefined();
    void loadSelectsTheInitialPort_data();
    void loadSelectsTheInitialPort();
    void warnsExactlyWhenOutOfRange();
    void numberThatDoesNotFitKeepsTheChoice();
    void lastActionWins();
    void buttonsClose_data();
    void buttonsClose();
    void escapeAndEnterDoNotClose();
    void execReturnsTheChoice();
    void reopeningStartsFresh();
    void hostileTextOnlyWarns();
};

void TestSetCOM::opensQuietlyAsDefined()
{
    ModalWatcher boxes;
    Dialog d;
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    QCOMPARE(d.dialog.windowTitle(), QStringLiteral("Ustawieni Portu"));
    QCOMPARE(d.dialog.size(), QSize(441, 270));
    QCOMPARE(d.control<QGroupBox>("Frame1")->title(), QStringLiteral("Frame1"));
    // Placed from the frame's corner, inside the "COM" option's area.
    QCOMPARE(d.field()->geometry(), QRect(56, 128, 25, 25));
    QVERIFY(d.option("SetCOMx")->geometry().contains(d.field()->geometry()));
    QCOMPARE(d.field()->text(), QStringLiteral("5"));
    QVERIFY(d.checkedOptions().isEmpty());
    QCOMPARE(d.dialog.PortComNR(), 0);
    QCOMPARE(QApplication::focusWidget(), d.option("SetCOM1"));
    for (const char *name : {"cmdZapisz", "cmdZastosuj", "cmdAnuluj"}) {
        QVERIFY(!d.control<QPushButton>(name)->isDefault());
        QVERIFY(!d.control<QPushButton>(name)->autoDefault());
    }
    QTest::qWait(50); // a warning would have been answered by now
    QVERIFY(boxes.count() == 0);
}

void TestSetCOM::loadSelectsTheInitialPort_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("selected");

    QTest::newRow("0") << 0 << QString();
    QTest::newRow("1") << 1 << "SetCOM1";
    QTest::newRow("2") << 2 << "SetCOM2";
    QTest::newRow("3") << 3 << "SetCOM3";
    QTest::newRow("4") << 4 << "SetCOM4";
    QTest::newRow("5") << 5 << QString();
    QTest::newRow("255") << 255 << QString();
}

void TestSetCOM::loadSelectsTheInitialPort()
{
    QFETCH(int, port);
    QFETCH(QString, selected);
    Dialog d{quint8(port)};
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    QCOMPARE(d.dialog.PortComNR(), port);
    const QList<QRadioButton *> checked = d.checkedOptions();
    QCOMPARE(checked.size(), selected.isEmpty() ? 0 : 1);
    if (!selected.isEmpty())
        QCOMPARE(checked.first()->objectName(), selected);
    QCOMPARE(QApplication::focusWidget()->objectName(),
             selected.isEmpty() ? QStringLiteral("SetCOM1") : selected);
    QCOMPARE(d.field()->text(), QStringLiteral("5"));
}

void TestSetCOM::warnsExactlyWhenOutOfRange()
{
    ModalWatcher boxes;
    Dialog d(2);

    QTest::keyClick(d.field(), Qt::Key_End);
    QTest::keyClick(d.field(), Qt::Key_Backspace);
    QCOMPARE(d.field()->text(), QString());
    QCOMPARE(d.dialog.PortComNR(), 0);
    QCOMPARE(boxes.count(), 1);
    const ModalWatcher::Box box = boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Ostrzeżenie"));
    QCOMPARE(box.text, QStringLiteral("Zły zakres wartości"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.buttons, QMessageBox::Ok);

    const int expected[] = {1, 10, 100};
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(d.field(), i == 0 ? Qt::Key_1 : Qt::Key_0);
        QCOMPARE(d.dialog.PortComNR(), expected[i]);
        QCOMPARE(boxes.count(), i < 2 ? 1 : 2);
    }
    QCOMPARE(d.field()->text(), QStringLiteral("100")); // the text is left for correcting

    d.typeOver(QStringLiteral("99"));
    QCOMPARE(d.dialog.PortComNR(), 99);
    QCOMPARE(boxes.count(), 2);
    d.typeOver(QStringLiteral("0"));
    QCOMPARE(d.dialog.PortComNR(), 0);
    QCOMPARE(boxes.count(), 3);
    d.typeOver(QStringLiteral(" 7"));
    QCOMPARE(d.dialog.PortComNR(), 7);
    QCOMPARE(boxes.count(), 4); // the lone blank read as 0
}

void TestSetCOM::numberThatDoesNotFitKeepsTheChoice()
{
    ModalWatcher boxes;
    Dialog d;
    d.typeOver(QStringLiteral("30"));
    QTest::keyClick(d.field(), Qt::Key_0);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(d.dialog.PortComNR(), 30);

    // The field shows 300, not the 30 still held: nothing to apply yet.
    d.press("cmdZapisz");
    QCOMPARE(boxes.count(), 2);
    QVERIFY(d.dialog.isVisible());

    d.choose("SetCOM2");
    d.press("cmdZapisz");
    QVERIFY(!d.dialog.isVisible());
    QCOMPARE(d.dialog.result(), int(QDialog::Accepted));
    QCOMPARE(d.dialog.PortComNR(), 2);
}

void TestSetCOM::lastActionWins()
{
    ModalWatcher boxes;
    Dialog d;
    d.typeOver(QStringLiteral("12"));
    QCOMPARE(d.dialog.PortComNR(), 12);
    d.choose("SetCOM3");
    QCOMPARE(d.dialog.PortComNR(), 3);
    QCOMPARE(d.field()->text(), QStringLiteral("12"));
    d.typeOver(QStringLiteral("7"));
    QCOMPARE(d.dialog.PortComNR(), 7);
    QVERIFY(d.option("SetCOM3")->isChecked());

    d.choose("SetCOMx");
    QVERIFY(d.option("SetCOMx")->isChecked());
    QCOMPARE(d.dialog.PortComNR(), 7);
    QVERIFY(boxes.count() == 0);
}

void TestSetCOM::buttonsClose_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("button"); // empty: the title bar's close
    QTest::addColumn<int>("result");     // -1: stays open with a warning

    QTest::newRow("Zapisz") << "42" << "cmdZapisz" << int(QDialog::Accepted);
    QTest::newRow("Zastosuj") << "42" << "cmdZastosuj" << int(QDialog::Accepted);
    QTest::newRow("Zapisz, 100") << "100" << "cmdZapisz" << -1;
    QTest::newRow("Zastosuj, 0") << "0" << "cmdZastosuj" << -1;
    QTest::newRow("Anuluj") << "42" << "cmdAnuluj" << int(QDialog::Rejected);
    QTest::newRow("Anuluj, 100") << "100" << "cmdAnuluj" << int(QDialog::Rejected);
    QTest::newRow("close") << "42" << QString() << int(QDialog::Rejected);
}

void TestSetCOM::buttonsClose()
{
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(int, result);
    ModalWatcher boxes;
    Dialog d(3);
    d.typeOver(typed);
    const qsizetype warningsBefore = boxes.count();
    if (button.isEmpty())
        d.dialog.close();
    else
        d.press(button.toLatin1().constData());
    if (result < 0) {
        QVERIFY(d.dialog.isVisible());
        QCOMPARE(boxes.count(), warningsBefore + 1);
        QCOMPARE(boxes.boxes().last().text, QStringLiteral("Zły zakres wartości"));
    } else {
        QVERIFY(!d.dialog.isVisible());
        QCOMPARE(d.dialog.result(), result);
        QCOMPARE(boxes.count(), warningsBefore);
    }
}

void TestSetCOM::escapeAndEnterDoNotClose()
{
    Dialog d(2);
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    QTest::keyClick(d.option("SetCOM1"), Qt::Key_Escape);
    QTest::keyClick(d.field(), Qt::Key_Return);
    QTest::keyClick(d.control<QPushButton>("cmdAnuluj"), Qt::Key_Enter);
    QVERIFY(d.dialog.isVisible());
}

void TestSetCOM::execReturnsTheChoice()
{
    ModalWatcher boxes;
    boxes.setDialogHandler([](QWidget *) {}); // the dialog under test answers itself
    SetCOM dialog(1);
    QTimer::singleShot(0, &dialog, [&] {
        dialog.findChild<QLineEdit *>("txtNRcom")->setText(QStringLiteral("300"));
        dialog.findChild<QPushButton *>("cmdZastosuj")->click();
        dialog.findChild<QRadioButton *>("SetCOM4")->click();
        dialog.findChild<QPushButton *>("cmdZastosuj")->click();
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QCOMPARE(dialog.PortComNR(), 4);
    QCOMPARE(boxes.count(), 2);
}

void TestSetCOM::reopeningStartsFresh()
{
    ModalWatcher boxes;
    {
        Dialog first;
        first.choose("SetCOM4");
        first.typeOver(QStringLiteral("17"));
        first.press("cmdZapisz");
    }
    Dialog second;
    QCOMPARE(second.field()->text(), QStringLiteral("5"));
    QVERIFY(second.checkedOptions().isEmpty());
    QCOMPARE(second.dialog.PortComNR(), 0);
    QVERIFY(boxes.count() == 0);
}

void TestSetCOM::hostileTextOnlyWarns()
{
    ModalWatcher boxes;
    Dialog d(7);
    const QString texts[] = {
        QString(1 << 20, u'9'),
        QStringLiteral("1e999999"),
        QStringLiteral("&H"),
        QStringLiteral("+-"),
        QStringLiteral("łódź"),
        QString::fromUtf16(u"\0" "42", 3),
    };
    for (const QString &text : texts) {
        const qsizetype before = boxes.count();
        d.field()->setText(text);
        QCOMPARE(boxes.count(), before + 1);
        QVERIFY(d.dialog.isVisible());
        if (text.endsWith(u'9'))
            QCOMPARE(d.dialog.PortComNR(), 7); // too large for a byte: the choice stays
    }
    QCOMPARE(d.dialog.PortComNR(), 0); // the last four read as 0
}

QTEST_MAIN(TestSetCOM)
#include "tst_setcom.moc"
