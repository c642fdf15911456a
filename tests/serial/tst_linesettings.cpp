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
    QTest::newRow("baud below 50") << "49,N,8,1";
    QTest::newRow("baud above 4000000") << "4000001,N,8,1";
    QTest::newRow("negative baud") << "-9600,N,8,1";
    QTest::newRow("fractional baud") << "9600.5,N,8,1";
    QTest::newRow("empty parity") << "9600,,8,1";
    QTest::newRow("parity word") << "9600,None,8,1";
    QTest::newRow("data bits word") << "9600,N,eight,1";
    QTest::newRow("stop 0") << "9600,N,8,0";
    QTest::newRow("stop 2.5") << "9600,N,8,2.5";
    QTest::newRow("semicolons") << "9600;N;8;1";
    QTest::newRow("trailing comma") << "9600,N,8,1,";
}

void tst_LineSettings::rejectsWhatIsNotASetting()
{
    QFETCH(QString, text);
    try {
        LineSettings::parse(text);
        QFAIL("accepted");
    } catch (const CommError &e) {
        QCOMPARE(e.number(), int(CommError::InvalidPropertyValue));
        QVERIFY2(e.detail().contains(text), qPrintable(e.detail()));
    }
}

QTEST_GUILESS_MAIN(tst_LineSettings)
#include "tst_linesettings.moc"
