#include "codepage.h"

#include <QStringDecoder>
#include <QTest>

class TestCodePage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The table agrees with the system's converter; every byte comes back unchanged.
    void everyByteRoundTrips()
    {
        QStringDecoder system("windows-1250");
        QVERIFY(system.isValid());
        const QList<int> unassigned = {0x81, 0x83, 0x88, 0x90, 0x98};
        for (int b = 0; b < 256; ++b) {
            const QChar ours = CodePage::toUnicode(uchar(b));
            if (unassigned.contains(b)) {
                QCOMPARE(ours.unicode(), char16_t(b));
            } else {
                const char byte = char(b);
                const QString theirs = system.decode(QByteArrayView(&byte, 1));
                QCOMPARE(QString(ours), theirs);
            }
            QCOMPARE(uchar(CodePage::fromUnicode(ours)), uchar(b));
        }
    }

    void unmappableCharactersBecomeQuestionMarks()
    {
        QCOMPARE(CodePage::fromUnicode(QStringView(u"ąż€ß")), QByteArray("\xB9\xBF\x80\xDF"));
        QCOMPARE(CodePage::fromUnicode(QStringView(u"ñ→😀")), QByteArray("????"));
    }
};

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
