#include "linesettings.h"

#include "commerror.h"

#include <QTest>

class tst_LineSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void acceptsEveryValidForm_data();
    void acceptsEveryValidForm();
    void rejectsWhatIsNotASetting_data();
    void rejectsWhatIsNotASetting();
};

void tst_LineSettings::acceptsEveryValidForm_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("canonical");
    QTest::newRow("start-up") << "9600,N,8,1" << "9600,N,8,1";
    QTest::newRow("lower case, spaces") << " 19200 , e , 7 , 2 " << "19200,E,7,2";
    QTest::newRow("odd, 1.5 stop") << "300,O,5,1.5" << "300,O,5,1.5";
    QTest::newRow("mark") << "50,M,6,1" << "50,M,6,1";
    QTest::newRow("space, fastest") << "4000000,S,8,2" << "4000000,S,8,2";
}

void tst_LineSettings::acceptsEveryValidForm()
{
    QFETCH(QString, text);
    QFETCH(QString, canonical);
    const LineSettings parsed = LineSettings::parse(text);
    QCOMPARE(parsed.toString(), canonical);
    QVERIFY(LineSettings::parse(canonical) == parsed);
}

void tst_LineSettings::rejectsWhatIsNotASetting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("baud below 50") << "49,N,8,1" << "prędkość";
    QTest::newRow("baud above 4000000") << "4000001,N,8,1" << "prędkość";
    QTest::newRow("negative baud") << "-9600,N,8,1" << "prędkość";
    QTest::newRow("fractional baud") << "9600.5,N,8,1" << "prędkość";
    QTest::newRow("empty parity") << "9600,,8,1" << "parzystość";
    QTest::newRow("parity word") << "9600,None,8,1" << "parzystość";
    QTest::newRow("data bits word") << "9600,N,eight,1" << "bitów danych";
    QTest::newRow("data bits 9") << "9600,N,9,1" << "bitów danych";
    QTest::newRow("stop 0") << "9600,N,8,0" << "bitów stopu";
    QTest::newRow("stop 2.5") << "9600,N,8,2.5" << "bitów stopu";
    QTest::newRow("three fields") << "9600,N,8" << "czterech pól";
    QTest::newRow("semicolons") << "9600;N;8;1" << "czterech pól";
    QTest::newRow("trailing comma") << "9600,N,8,1," << "czterech pól";
}

void tst_LineSettings::rejectsWhatIsNotASetting()
{
    QFETCH(QString, text);
    QFETCH(QString, complaint);
    try {
        LineSettings::parse(text);
        QFAIL("accepted");
    } catch (const CommError &e) {
        QCOMPARE(e.number(), int(CommError::InvalidPropertyValue));
        QVERIFY2(e.detail().contains(u'"' + text + u'"'), qPrintable(e.detail()));
        QVERIFY2(e.description().contains(complaint), qPrintable(e.description()));
    }
}

QTEST_GUILESS_MAIN(tst_LineSettings)
#include "tst_linesettings.moc"
