// SPDX-License-Identifier: MIT
#include "safename.h"
#include "zmodemdetector.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using Start = ZmodemDetector::Start;
Q_DECLARE_METATYPE(ZmodemDetector::Start)

class TestTransferParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // However the bytes come in, the header is found where it ends, and what
    // came before it in its chunk is text (the fuzz target checks the rest).
    void detectorFindsHeaderAcrossReads_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<Start>("start");
        QTest::addColumn<int>("textLength"); // in the chunk the header ends in
        QTest::addColumn<int>("end");
        QTest::newRow("whole, sender") << QList<QByteArray>{"rz\r**\x18" "B00000000000000\r"} << Start::Receive << 3 << 9;
        QTest::newRow("split in the stars") << QList<QByteArray>{"ok *", "*\x18" "B00"} << Start::Receive << 0 << 5;
        QTest::newRow("one byte a read") << QList<QByteArray>{"*", "*", "\x18", "B", "0", "1x"} << Start::Send << 0 << 1;
        QTest::newRow("broken, then whole") << QList<QByteArray>{"**\x18" "Bx", "**\x18" "B00"} << Start::Receive << 0 << 6;
    }
    void detectorFindsHeaderAcrossReads()
    {
        QFETCH(QList<QByteArray>, chunks);
        ZmodemDetector detector;
        ZmodemDetector::Found found;
        for (const QByteArray &chunk : chunks) {
            QCOMPARE(found.start, Start::None);
            found = detector.feed(chunk);
        }
        QTEST(found.start, "start");
        QTEST(int(found.textLength), "textLength");
        QTEST(int(found.end), "end");
    }

    void namesStayInTheFolder_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("saved");
        QTest::newRow("up a folder") << u"../../etc/passwd"_qs << u"passwd"_qs;
        QTest::newRow("absolute") << u"/etc/x"_qs << u"x"_qs;
        QTest::newRow("control characters") << u"a\u0001b\u001b[2Jc\u007f\u202e.txt"_qs << u"ab[2Jc.txt"_qs;
        QTest::newRow("nothing left") << u"../"_qs << u"plik"_qs;
    }
    void namesStayInTheFolder()
    {
        QFETCH(QString, sent);
        QTEST(SafeName::sanitize(sent), "saved");
    }

    // An existing file, or a link planted under the name, is left alone; the
    // new file gets the next free name.
    void moveNeverReplaces()
    {
        QTemporaryDir dir;
        QFile old(dir.filePath(u"x.bin"_qs));
        QVERIFY(old.open(QIODevice::WriteOnly));
        QCOMPARE(old.write("old"), 3);
        old.close();
        QVERIFY(QFile::link(u"/nonexistent"_qs, dir.filePath(u"x (2).bin"_qs)));
        QFile fresh(dir.filePath(u"new"_qs));
        QVERIFY(fresh.open(QIODevice::WriteOnly));
        fresh.close();
        QCOMPARE(SafeName::moveInto(fresh.fileName(), dir.path(), u"x.bin"_qs, nullptr), u"x (3).bin"_qs);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old"));
    }
};

QTEST_GUILESS_MAIN(TestTransferParts)
#include "tst_transferparts.moc"
