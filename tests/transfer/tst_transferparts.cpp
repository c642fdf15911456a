// SPDX-License-Identifier: MIT
#include "safename.h"
#include "zmodemdetector.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestTransferParts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What came before the header is text (the fuzz target checks which
    // header it is and where it ends, however the bytes are split).
    void detectorFindsHeader()
    {
        QCOMPARE(ZmodemDetector().feed("rz\r**\x18" "B00000000000000\r").textLength, 3);
    }

    void namesStayInTheFolder_data()
    {
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QString>("saved");
        QTest::newRow("up a folder") << "../../etc/passwd" << "passwd";
        QTest::newRow("control characters") << "a\u0001b\u001b[2Jc\u007f\u202e.txt" << "ab[2Jc.txt";
        QTest::newRow("nothing left") << "../" << "plik";
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
        for (const char *name : {"x.bin", "new"})
            QFile(dir.filePath(name)).open(QIODevice::WriteOnly);
        QFile::link("/nonexistent", dir.filePath("x (2).bin"));
        QCOMPARE(SafeName::moveInto(dir.filePath("new"), dir.path(), "x.bin", nullptr), "x (3).bin");
    }
};

QTEST_GUILESS_MAIN(TestTransferParts)
#include "tst_transferparts.moc"
