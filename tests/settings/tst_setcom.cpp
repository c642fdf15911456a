#include "modalwatcher.h"
#include "setcom.h"

#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

// The dialog, shown, with its controls at hand, and a watcher for its warnings.
struct Dialog
{
    explicit Dialog(quint8 initialPort = 0) : dialog(initialPort)
    {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
    }
    template<typename T>
    T *control(const char *name) { return dialog.findChild<T *>(QLatin1String(name)); }
    QLineEdit *field() { return control<QLineEdit>("txtNRcom"); }
    QRadioButton *option(const char *name) { return control<QRadioButton>(name); }
    // Clicks on the option's round mark, where a user would.
    void choose(const char *name)
    {
        QTest::mouseClick(option(name), Qt::LeftButton, {}, QPoint(8, option(name)->height() / 2));
    }
    void press(const char *name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }
    void typeOver(const QString &text)
    {
        QTest::keyClick(field(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field(), text);
    }
    QStringList checkedOptions()
    {
        QStringList checked;
        for (QRadioButton *button : dialog.findChildren<QRadioButton *>())
            if (button->isChecked())
                checked.append(button->objectName());
        return checked;
    }

    ModalWatcher boxes;
    SetCOM dialog;
};

} // namespace

class TestSetCOM : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void opensQuietlyAsDefined()
    {
        Dialog d;
        QCOMPARE(d.dialog.windowTitle(), QStringLiteral("Ustawieni Portu"));
        QCOMPARE(d.dialog.size(), QSize(441, 270));
        QCOMPARE(d.control<QGroupBox>("Frame1")->title(), QStringLiteral("Frame1"));
        // Placed from the frame's corner, inside the "COM" option's area.
        QCOMPARE(d.field()->geometry(), QRect(56, 128, 25, 25));
        QVERIFY(d.option("SetCOMx")->geometry().contains(d.field()->geometry()));
        // Announced by what it is, not by its frame's title.
        QCOMPARE(QAccessible::queryAccessibleInterface(d.field())->text(QAccessible::Name),
                 QStringLiteral("Numer portu COM"));
        for (const char *name : {"cmdZapisz", "cmdZastosuj", "cmdAnuluj"})
            QVERIFY(!d.control<QPushButton>(name)->isDefault() && !d.control<QPushButton>(name)->autoDefault());
        // Neither Escape nor Enter closes it.
        QTest::keyClick(d.option("SetCOM1"), Qt::Key_Escape);
        QTest::keyClick(d.field(), Qt::Key_Return);
        QTest::keyClick(d.control<QPushButton>("cmdAnuluj"), Qt::Key_Enter);
        QVERIFY(d.dialog.isVisible());
        QTest::qWait(50); // a warning would have been answered by now
        QCOMPARE(d.boxes.count(), 0);
    }

    void loadSelectsTheInitialPort_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("field");
        QTest::newRow("0") << 0 << QString() << "5";
        QTest::newRow("1") << 1 << "SetCOM1" << "5";
        QTest::newRow("2") << 2 << "SetCOM2" << "5";
        QTest::newRow("3") << 3 << "SetCOM3" << "5";
        QTest::newRow("4") << 4 << "SetCOM4" << "5";
        QTest::newRow("5") << 5 << "SetCOMx" << "5";
        QTest::newRow("42") << 42 << "SetCOMx" << "42";
    }

    // The dialog opens showing the port that "Zapisz" would apply, quietly.
    void loadSelectsTheInitialPort()
    {
        QFETCH(int, port);
        QFETCH(QString, selected);
        QFETCH(QString, field);
        Dialog d{quint8(port)};
        QCOMPARE(d.dialog.PortComNR(), port);
        QCOMPARE(d.checkedOptions(), selected.isEmpty() ? QStringList() : QStringList{selected});
        QCOMPARE(QApplication::focusWidget()->objectName(), selected.isEmpty() ? u"SetCOM1"_qs : selected);
        QCOMPARE(d.field()->text(), field);
        QCOMPARE(d.boxes.count(), 0);
    }

    void warnsExactlyWhenOutOfRange()
    {
        Dialog d(2);
        QTest::keyClick(d.field(), Qt::Key_End);
        QTest::keyClick(d.field(), Qt::Key_Backspace);
        QCOMPARE(d.dialog.PortComNR(), 0);
        QCOMPARE(d.boxes.count(), 1);
        const ModalWatcher::Box box = d.boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Ostrzeżenie"));
        QCOMPARE(box.text, QStringLiteral("Zły zakres wartości"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::Ok);

        // Typed key by key: 1 and 10 are fine, 100 warns; the text stays for correcting.
        for (const auto &[key, number, warnings] :
             {std::tuple(Qt::Key_1, 1, 1), {Qt::Key_0, 10, 1}, {Qt::Key_0, 100, 2}}) {
            QTest::keyClick(d.field(), key);
            QCOMPARE(d.dialog.PortComNR(), number);
            QCOMPARE(d.boxes.count(), warnings);
        }
        QCOMPARE(d.field()->text(), QStringLiteral("100"));
        // Over a selection: 99 is fine, 0 warns, " 7" warns for its lone blank read as 0.
        for (const auto &[text, number, warnings] : {std::tuple(u"99"_qs, 99, 2), {u"0"_qs, 0, 3}, {u" 7"_qs, 7, 4}}) {
            d.typeOver(text);
            QCOMPARE(d.dialog.PortComNR(), number);
            QCOMPARE(d.boxes.count(), warnings);
        }
    }

    void lastActionWins()
    {
        Dialog d;
        d.typeOver(QStringLiteral("12"));
        QCOMPARE(d.dialog.PortComNR(), 12);
        d.choose("SetCOM3");
        QCOMPARE(d.dialog.PortComNR(), 3);
        QCOMPARE(d.field()->text(), QStringLiteral("12"));
        // Typing chooses "COM"; choosing "COM" takes the number beside it.
        d.typeOver(QStringLiteral("7"));
        QCOMPARE(d.dialog.PortComNR(), 7);
        QCOMPARE(d.checkedOptions(), QStringList{"SetCOMx"});
        d.choose("SetCOM3");
        d.choose("SetCOMx");
        QCOMPARE(d.checkedOptions(), QStringList{"SetCOMx"});
        QCOMPARE(d.dialog.PortComNR(), 7);
        QCOMPARE(d.boxes.count(), 0);
    }

    void buttonsClose_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("button"); // empty: the title bar's close
        QTest::addColumn<int>("result");     // -1: stays open with a warning
        QTest::newRow("Zapisz") << "42" << "cmdZapisz" << int(QDialog::Accepted);
        QTest::newRow("Zastosuj") << "42" << "cmdZastosuj" << int(QDialog::Accepted);
        QTest::newRow("Zapisz, 100") << "100" << "cmdZapisz" << -1;
        QTest::newRow("Zastosuj, 0") << "0" << "cmdZastosuj" << -1;
        // 300 does not fit a byte: the 30 still held is not what the field shows.
        QTest::newRow("Zapisz, 300") << "300" << "cmdZapisz" << -1;
        QTest::newRow("Anuluj") << "42" << "cmdAnuluj" << int(QDialog::Rejected);
        QTest::newRow("Anuluj, 100") << "100" << "cmdAnuluj" << int(QDialog::Rejected);
        QTest::newRow("close") << "42" << QString() << int(QDialog::Rejected);
    }

    void buttonsClose()
    {
        QFETCH(QString, typed);
        QFETCH(QString, button);
        QFETCH(int, result);
        Dialog d(3);
        d.typeOver(typed);
        const qsizetype warningsBefore = d.boxes.count();
        if (button.isEmpty())
            d.dialog.close();
        else
            d.press(button.toLatin1().constData());
        if (result < 0) {
            QVERIFY(d.dialog.isVisible());
            QCOMPARE(d.boxes.count(), warningsBefore + 1);
            QCOMPARE(d.boxes.boxes().last().text, QStringLiteral("Zły zakres wartości"));
            // Corrected, it closes with the choice.
            d.choose("SetCOM2");
            d.press(button.toLatin1().constData());
            QCOMPARE(d.dialog.PortComNR(), 2);
            result = QDialog::Accepted;
        } else {
            QCOMPARE(d.boxes.count(), warningsBefore);
        }
        QVERIFY(!d.dialog.isVisible());
        QCOMPARE(d.dialog.result(), result);
    }

    void hostileTextOnlyWarns()
    {
        Dialog d(7);
        const QString texts[] = {QString(1 << 20, u'9'), u"1e999999"_qs, u"&H"_qs, u"+-"_qs, u"łódź"_qs,
                                 QString::fromUtf16(u"\0" "42", 3)};
        for (const QString &text : texts) {
            const qsizetype before = d.boxes.count();
            d.field()->setText(text);
            QCOMPARE(d.boxes.count(), before + 1);
            QVERIFY(d.dialog.isVisible());
            if (text.endsWith(u'9'))
                QCOMPARE(d.dialog.PortComNR(), 7); // too large for a byte: the choice stays
        }
        QCOMPARE(d.dialog.PortComNR(), 0); // the last four read as 0
    }
};

QTEST_MAIN(TestSetCOM)
#include "tst_setcom.moc"
