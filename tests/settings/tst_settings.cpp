// SPDX-License-Identifier: MIT
#include "modalwatcher.h"
#include "numberreader.h"
#include "setcom.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <cmath>
#include <cstdlib>

using NumberReader::read;
using NumberReader::readByte;

// "Ustawieni Portu", shown, with a watcher for its warnings; clicks and keys
// go where a user's would.
struct Dialog
{
    ModalWatcher boxes;
    SetCOM dialog;

    explicit Dialog(quint8 initialPort) : dialog(initialPort)
    {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
    }
    QLineEdit *field() { return dialog.findChild<QLineEdit *>(QStringLiteral("txtNRcom")); }
    void click(const QString &name) // on an option's round mark, or a button
    {
        auto *w = dialog.findChild<QAbstractButton *>(name);
        QTest::mouseClick(w, Qt::LeftButton, {}, qobject_cast<QRadioButton *>(w) ? QPoint(8, w->height() / 2) : QPoint());
    }
    void typeOver(const QString &text)
    {
        QTest::keyClick(field(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field(), text);
    }
    QString checked()
    {
        for (QRadioButton *button : dialog.findChildren<QRadioButton *>())
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
    // the first character that fits none of it ends the number.
    void reads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        for (const char *c : {"5=5", "=0", " 7=7", "1 2=12", "\t1\n2 =12", "1\r2=1", "12abc=12", "abc=0", "1,5=1",
                              "1.2.3=1.2", ".5=0.5", ".=0", "+7=7", "- 7=-7", "+-+-=0", "--1=0", "2.5e1=25", "1D2=100",
                              "5E-1=0.5", "1 e + 2=100", "3e=3", "3e-x=3", "e5=0", "&H10=16", "& h 1f=31", "&HFG=15",
                              "&O17=15", "&O78=7", "&H=0", "&=0", "&X1=0", "-&H1=0", "ąę12=0", "3ł4=3", "١٢=0"}) {
            const QString pair = QString::fromUtf8(c);
            QTest::newRow(c) << pair.section(u'=', 0, -2) << pair.section(u'=', -1).toDouble();
        }
        QTest::newRow("embedded NUL") << QString::fromUtf16(u"1\0" "2", 3) << 1.0;
        QTest::newRow("leading zeros") << QString(100000, u'0') + u'7' << 7.0;
        QTest::newRow("many fraction zeros") << u"0."_qs + QString(1000, u'0') + u"1e1001"_qs << 1.0;
    }

    void reads()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(read(text), value);
    }

    // Rounded half to even into a byte; "-" where it does not fit.
    void roundsToByte()
    {
        QStringList bytes;
        for (const char *text : {"3.5", "2.5", "0.5", "-0.5", "-0.6", "2.51", "254.5", "255", "255.5", "300", "-1", "&HFF",
                                 "&H100", "&HFFFFFFFF", "1e999999", "1e-999999", "9e99999999999999999999999",
                                 "0e99999999999999999999", "1111111111111111111111111111"}) {
            const std::optional<quint8> byte = readByte(QString::fromLatin1(text));
            bytes += byte ? QString::number(*byte) : u"-"_qs;
        }
        QCOMPARE(bytes.join(u' '), u"4 2 0 0 - 3 254 255 - - - 255 - - - 0 - 0 -"_qs);
    }

    // Past the digits a double can use, the reader keeps only a trace of the
    // rest: the result must still be the correctly rounded one; and a megabyte
    // of anything reads without harm.
    void longTextReadsRight()
    {
        for (const QString &text : {QString(900, u'3').insert(0, u"0."), QString("123456789").repeated(100).insert(300, u'.'),
                                    u"9007199254740993"_qs + QString(800, u'0') + u"1e-801"_qs,
                                    u"1."_qs + QString(850, u'0') + u'1'}) // exactly: QCOMPARE would forgive the last bits
            QVERIFY2(read(text) == std::strtod(text.toLatin1().constData(), nullptr), qPrintable(text.left(20)));
        const QString mega = QString(1 << 20, u'9');
        QVERIFY(std::isinf(read(mega)) && !readByte(mega) && !readByte(u"&H"_qs + QString(1 << 20, u'F')));
        QVERIFY(!readByte(u"1e"_qs + mega) && readByte(QString(1 << 20, u' ') + u"42"_qs) == 42);
        for (const QString &zero : {u"1e-"_qs + mega, QString(1 << 20, u'-'), QString(1 << 20, u'.'),
                                    QString(3, QChar(char16_t(0xD800))) + u'1'})
            QCOMPARE(readByte(zero), std::optional<quint8>(0));
    }

    // The dialog shows the port "Zapisz" would keep: its option, or "COM"
    // with its number, chosen and focused; no warning, and neither Escape nor
    // Enter closes it.
    void opensOnTheInitialPortQuietly()
    {
        for (const int port : {0, 1, 2, 3, 4, 5, 42}) {
            Dialog d{quint8(port)};
            const QString option = port == 0 ? QString() : port <= 4 ? u"SetCOM%1"_qs.arg(port) : u"SetCOMx"_qs;
            const QString field = port <= 4 ? u"5"_qs : QString::number(port);
            QVERIFY(d.dialog.PortComNR() == port && d.checked() == option && d.field()->text() == field);
            QCOMPARE(QApplication::focusWidget()->objectName(), option.isEmpty() ? u"SetCOM1"_qs : option);
            for (QWidget *w : {QApplication::focusWidget(), static_cast<QWidget *>(d.field())}) {
                QTest::keyClick(w, Qt::Key_Escape);
                QTest::keyClick(w, Qt::Key_Return);
            }
            QTest::qWait(20); // a warning would have been answered by now
            QVERIFY(d.dialog.isVisible() && d.boxes.count() == 0);
        }
    }

    // The field warns whenever it holds no number from 1 to 99, key by key;
    // a number too large for a byte leaves the choice as it was.
    void fieldWarnsWhenOutOfRange()
    {
        Dialog d(2);
        QTest::keyClick(d.field(), Qt::Key_End);
        QTest::keyClick(d.field(), Qt::Key_Backspace);
        QCOMPARE(d.boxes.looks, QStringList{"Ostrzeżenie, warning, OK, over the window"});
        QStringList seen;
        for (const char *keys : {"1", "0", "0"}) {
            QTest::keyClicks(d.field(), QString::fromLatin1(keys));
            seen += QString::number(d.dialog.PortComNR());
        }
        for (const QString &text : {u"99"_qs, u"0"_qs, u" 7"_qs}) {
            d.typeOver(text);
            seen += QString::number(d.dialog.PortComNR());
        }
        for (const QString &text : {QString(1 << 20, u'9'), u"1e999999"_qs, u"&H"_qs, u"łódź"_qs, QString::fromUtf16(u"\0" "42", 3)}) {
            d.field()->setText(text);
            seen += QString::number(d.dialog.PortComNR());
        }
        QCOMPARE(seen.join(u' '), u"1 10 100 99 0 7 7 7 0 0 0"_qs); // " 7" warns for its blank read as 0
        QCOMPARE(d.boxes.texts, QStringList(9, u"Zły zakres wartości"_qs));
        QVERIFY(d.dialog.isVisible());
    }

    // Typing and choosing an option: the last one counts, and the option
    // shown always agrees with the number: typing chooses "COM", and "COM"
    // takes the number beside it.
    void lastActionWins()
    {
        Dialog d(0);
        d.typeOver(QStringLiteral("12"));
        d.click(u"SetCOM3"_qs);
        QVERIFY(d.dialog.PortComNR() == 3 && d.field()->text() == u"12"_qs);
        d.typeOver(QStringLiteral("7"));
        QVERIFY(d.dialog.PortComNR() == 7 && d.checked() == u"SetCOMx"_qs);
        d.click(u"SetCOM3"_qs);
        d.click(u"SetCOMx"_qs);
        QVERIFY(d.dialog.PortComNR() == 7 && d.checked() == u"SetCOMx"_qs && d.boxes.count() == 0);
        // Announced by what it is, not by its frame's title.
        QCOMPARE(QAccessible::queryAccessibleInterface(d.field())->text(QAccessible::Name), u"Numer portu COM"_qs);
    }

    // "Zapisz" and "Zastosuj" accept a port in range, and otherwise warn and
    // stay; "Anuluj" and the title bar's close reject.
    void buttonsClose()
    {
        for (const QString &button : {u"cmdZapisz"_qs, u"cmdZastosuj"_qs, u"cmdAnuluj"_qs, QString()}) {
            for (const QString &typed : {u"42"_qs, u"100"_qs, u"0"_qs, u"300"_qs}) { // 300: the 30 held is not what shows
                Dialog d(3);
                d.typeOver(typed);
                const qsizetype warnings = d.boxes.count();
                button.isEmpty() ? void(d.dialog.close()) : d.click(button);
                const bool accepts = button.startsWith(u"cmdZ");
                QCOMPARE(d.boxes.count() - warnings, int(accepts && typed != u"42"_qs));
                QCOMPARE(d.dialog.isVisible(), d.boxes.count() > warnings);
                if (d.dialog.isVisible()) { // corrected, it closes with the choice
                    d.click(u"SetCOM2"_qs);
                    d.click(button);
                }
                QVERIFY(!d.dialog.isVisible());
                QCOMPARE(d.dialog.result(), int(accepts ? QDialog::Accepted : QDialog::Rejected));
                const int held = typed == u"300"_qs ? 30 : typed.toInt();
                QCOMPARE(int(d.dialog.PortComNR()), !accepts ? held : held == 42 ? 42 : 2);
            }
        }
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
