#include "numberreader.h"

#include <QTest>

#include <cmath>
#include <cstdlib>

using NumberReader::read;
using NumberReader::readByte;

class TestNumberReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");

        QTest::newRow("plain") << "5" << 5.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("leading blank") << " 7" << 7.0;
        QTest::newRow("blank inside") << "1 2" << 12.0;
        QTest::newRow("tab and line feed inside") << "\t1\n2 " << 12.0;
        QTest::newRow("carriage return stops") << "1\r2" << 1.0;
        QTest::newRow("letters stop") << "12abc" << 12.0;
        QTest::newRow("letters first") << "abc" << 0.0;
        QTest::newRow("comma stops") << "1,5" << 1.0;
        QTest::newRow("second point stops") << "1.2.3" << 1.2;
        QTest::newRow("point first") << ".5" << 0.5;
        QTest::newRow("point alone") << "." << 0.0;
        QTest::newRow("plus") << "+7" << 7.0;
        QTest::newRow("minus, blank") << "- 7" << -7.0;
        QTest::newRow("signs only") << "+-+-" << 0.0;
        QTest::newRow("sign twice") << "--1" << 0.0;
        QTest::newRow("exponent") << "2.5e1" << 25.0;
        QTest::newRow("D exponent") << "1D2" << 100.0;
        QTest::newRow("negative exponent") << "5E-1" << 0.5;
        QTest::newRow("blanks around exponent") << "1 e + 2" << 100.0;
        QTest::newRow("letter e without digits") << "3e" << 3.0;
        QTest::newRow("signed e without digits") << "3e-x" << 3.0;
        QTest::newRow("exponent of nothing") << "e5" << 0.0;
        QTest::newRow("hex") << "&H10" << 16.0;
        QTest::newRow("hex lower case, blanks") << "& h 1f" << 31.0;
        QTest::newRow("hex stops") << "&HFG" << 15.0;
        QTest::newRow("octal") << "&O17" << 15.0;
        QTest::newRow("octal stops at 8") << "&O78" << 7.0;
        QTest::newRow("lone &H") << "&H" << 0.0;
        QTest::newRow("lone &") << "&" << 0.0;
        QTest::newRow("unknown prefix") << "&X1" << 0.0;
        QTest::newRow("sign before hex") << "-&H1" << 0.0;
        QTest::newRow("Polish letters") << "ąę12" << 0.0;
        QTest::newRow("Polish letter stops") << "3ł4" << 3.0;
        QTest::newRow("other scripts' digits") << "\u0661\u0662" << 0.0;
        QTest::newRow("embedded NUL") << QString::fromUtf16(u"1\0" "2", 3) << 1.0;
        QTest::newRow("leading zeros") << QString(100000, u'0') + "7" << 7.0;
        QTest::newRow("many fraction zeros")
            << "0." + QString(1000, u'0') + "1e1001" << 1.0;
    }

    void reads()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(read(text), value);
    }

    void roundsToByte_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("byte"); // -1: does not fit

        QTest::newRow("3.5 up") << "3.5" << 4;
        QTest::newRow("2.5 down to even") << "2.5" << 2;
        QTest::newRow("0.5 to zero") << "0.5" << 0;
        QTest::newRow("-0.5 to zero") << "-0.5" << 0;
        QTest::newRow("-0.6") << "-0.6" << -1;
        QTest::newRow("2.51") << "2.51" << 3;
        QTest::newRow("254.5") << "254.5" << 254;
        QTest::newRow("255") << "255" << 255;
        QTest::newRow("255.5") << "255.5" << -1;
        QTest::newRow("256") << "256" << -1;
        QTest::newRow("300") << "300" << -1;
        QTest::newRow("-1") << "-1" << -1;
        QTest::newRow("1e9") << "1e9" << -1;
        QTest::newRow("hundred digits") << QString(100, u'1') << -1;
        QTest::newRow("&HFF") << "&HFF" << 255;
        QTest::newRow("&H100") << "&H100" << -1;
        QTest::newRow("&HFFFFFFFF") << "&HFFFFFFFF" << -1;
        QTest::newRow("huge exponent") << "1e999999" << -1;
        QTest::newRow("tiny exponent") << "1e-999999" << 0;
        QTest::newRow("exponent beyond 64 bits") << "9e99999999999999999999999" << -1;
        QTest::newRow("zero, huge exponent") << "0e99999999999999999999" << 0;
    }

    void roundsToByte()
    {
        QFETCH(QString, text);
        QFETCH(int, byte);
        const std::optional<quint8> result = readByte(text);
        QCOMPARE(result.has_value(), byte >= 0);
        if (result)
            QCOMPARE(int(*result), byte);
    }

    // Past the digits a double can use, the reader keeps only a trace of the rest:
    // the result must still be the correctly rounded one.
    void manyDigitsReadLikeTheLibrary()
    {
        const QString cases[] = {
            QString(900, u'3').insert(0, "0."),
            QString("123456789").repeated(100).insert(300, u'.'),
            "9007199254740993" + QString(800, u'0') + "1e-801",
            "1." + QString(850, u'0') + "1",
        };
        for (const QString &text : cases) {
            const double expected = std::strtod(text.toLatin1().constData(), nullptr);
            const double actual = read(text);
            // Exactly: QCOMPARE would forgive the last bits.
            QVERIFY2(actual == expected, qPrintable(QString::number(actual, 'g', 17)));
        }
    }

    void hostileTextReadsWithoutHarm()
    {
        const QString megabyte = QString(1 << 20, u'9');
        QCOMPARE(readByte(megabyte), std::nullopt);
        QVERIFY(std::isinf(read(megabyte)));
        QCOMPARE(readByte(QString(1 << 20, u' ') + "42"), std::optional<quint8>(42));
        QCOMPARE(readByte("&H" + QString(1 << 20, u'F')), std::nullopt);
        QCOMPARE(readByte("1e" + QString(1 << 20, u'9')), std::nullopt);
        QCOMPARE(readByte("1e-" + QString(1 << 20, u'9')), std::optional<quint8>(0));
        QCOMPARE(readByte(QString(1 << 20, u'-')), std::optional<quint8>(0));
        QCOMPARE(readByte(QString(1 << 20, u'.')), std::optional<quint8>(0));
        const QChar loneSurrogate(char16_t(0xD800));
        QCOMPARE(readByte(QString(3, loneSurrogate) + "1"), std::optional<quint8>(0));
    }
};

QTEST_APPLESS_MAIN(TestNumberReader)
#include "tst_numberreader.moc"
