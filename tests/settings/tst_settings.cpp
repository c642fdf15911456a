// SPDX-License-Identifier: MIT
#include "modalwatcher.h"
#include "numberreader.h"
#include "setcom.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <cstdlib>

// "Ustawieni Portu", shown; keys go where a user's would. Its warnings go to
// a ModalWatcher made before it, which answers one raised while the dialog is
// being made too.
struct Dialog : SetCOM
{
    QLineEdit *const field = findChild<QLineEdit *>("txtNRcom");

    explicit Dialog(quint8 initialPort) : SetCOM(initialPort)
    {
        show();
        QVERIFY(QTest::qWaitForWindowActive(this));
    }
    void click(const QString &name) { findChild<QAbstractButton *>(name)->click(); }
    void typeOver(const QString &text)
    {
        field->selectAll();
        QTest::keyClicks(field, text);
    }
    QString checked()
    {
        for (QRadioButton *button : findChildren<QRadioButton *>())
            if (button->isChecked())
                return button->objectName();
        return {};
    }
};

// The port settings dialog and the reader of the numbers typed into it.
class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // "text=value" pairs; blanks, signs, exponents (E or D), &H and &O, and
    // the first character that fits none of it ends the number. Past the
    // digits a double can use only a trace of the rest is kept: the result is
    // still the correctly rounded one. A megabyte of exponent reads unharmed.
    void reads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        // Blanks count for nothing wherever they stand: the fuzz target checks that.
        for (const char *c : {"1\r2=1", "12abc=12", "abc=0", "1,5=1", "1.2.3=1.2", ".5=0.5", ".=0", "+7=7", "-7=-7", "--1=0",
                              "2.5e1=25", "1D2=100", "5E-1=0.5", "1e+2=100", "3e-x=3", "&h1f=31", "&HFG=15",
                              "&O17=15", "&O78=7", "&H=0", "&X1=0", "-&H1=0", "3ł4=3", "١٢=0"})
            QTest::newRow(c) << QString::fromUtf8(c).section('=', 0, -2) << QByteArray(c).split('=').last().toDouble();
        // Long ones are read exactly as the C library reads them.
        int row = 0;
        for (const QByteArray &text :
             {"0." + QByteArray(900, '3'), "9007199254740993" + QByteArray(800, '0') + "1e-801",
              "0." + QByteArray(1000, '0') + "1e1001", "1e" + QByteArray(1 << 20, '9'), QByteArray("1\0" "2", 3)})
            QTest::addRow("long %d", ++row) << QString::fromLatin1(text) << std::strtod(text.constData(), nullptr);
    }

    void reads()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE_EQ(NumberReader::read(text), value); // exactly: QCOMPARE forgives last bits
    }

    // The dialog shows the port "Zapisz" would keep: its option, or "COM"
    // with its number, chosen and focused; no warning, and neither Escape nor
    // Enter closes it.
    void dialogShowsThePort_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("option");
        QTest::newRow("none") << 0 << "";
        QTest::newRow("COM1") << 1 << "SetCOM1";
        QTest::newRow("COM4") << 4 << "SetCOM4";
        QTest::newRow("COM200") << 200 << "SetCOMx";
    }

    void dialogShowsThePort()
    {
        QFETCH(int, port);
        QFETCH(QString, option);
        ModalWatcher boxes;
        Dialog d{quint8(port)};
        QCOMPARE(d.PortComNR(), port);
        QCOMPARE(d.checked(), option);
        if (port > 4) // past the options: "COM" with its number (the options leave the form's number)
            QCOMPARE(d.field->text(), QString::number(port));
        QCOMPARE(QApplication::focusWidget()->objectName(), option.isEmpty() ? "SetCOM1" : option);
        QTest::keyClicks(d.field, "\x1b\r"); // Escape, Enter
        QVERIFY(d.isVisible());
        QCOMPARE(boxes.count(), 0); // a warning is answered inside the key click
    }

    // "Zapisz" and "Zastosuj" accept a port in range, and otherwise warn and
    // stay until corrected; "Anuluj" and the title bar's close reject.
    void buttonsAcceptOrReject_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        // Typing "300" leaves 30 held, which is not what the field shows.
        for (const char *button : {"cmdZapisz", "cmdZastosuj", "cmdAnuluj", ""})
            for (const char *typed : {"42", "0", "300"})
                QTest::addRow("%s %s", *button ? button : "close", typed) << button << typed;
    }

    void buttonsAcceptOrReject()
    {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        const bool accepts = button.startsWith("cmdZ"), inRange = typed == "42", refused = accepts && !inRange;
        ModalWatcher boxes;
        Dialog d(3);
        d.typeOver(typed);
        button.isEmpty() ? void(d.close()) : d.click(button);
        QCOMPARE(d.isVisible(), refused);
        QCOMPARE(boxes.count(), int(!inRange) + int(refused));
        if (refused) {
            d.click("SetCOM2");
            d.click(button);
        }
        QCOMPARE(d.result(), accepts ? QDialog::Accepted : QDialog::Rejected);
        // A rejected dialog holds what was typed, as far as it fitted: 42, 0, 30.
        QCOMPARE(int(d.PortComNR()), !accepts ? typed.left(2).toInt() : refused ? 2 : 42);
    }

    // The field chooses "COM" and warns whenever it holds no number from 1
    // to 99, key by key. An option keeps the field, and "COM" takes the
    // number beside it.
    void fieldWarnsKeyByKey()
    {
        ModalWatcher boxes;
        Dialog d(2);
        QTest::keyClick(d.field, Qt::Key_Backspace); // the cursor stands after the "5"
        QCOMPARE(boxes.looks, QStringList{"Warning, OK, over the window"});
        // " 7" warns for its blank, read as 0; "300" at its last key, too large for a byte.
        for (const char *text : {"100", "99", "0", " 7", "300", "12"})
            d.typeOver(text);
        QCOMPARE(d.checked(), "SetCOMx");
        d.click("SetCOM3");
        d.click("SetCOMx");
        QCOMPARE(d.PortComNR(), 12);
        QCOMPARE(boxes.count(), 5);
    }

    // A screen reader can say what the number field is for.
    void fieldHasAName()
    {
        Dialog d(2);
        QVERIFY(!QAccessible::queryAccessibleInterface(d.field)->text(QAccessible::Name).isEmpty());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
