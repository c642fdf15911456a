#include "windowfixture.h"

#include <QClipboard>
#include <QGuiApplication>

// Received bytes reaching the transcript, typed keys reaching the port, and
// the DTR and RTS switches.
class TestTerminalTraffic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lineEndingsBecomeLineBreaks_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("shown");
        QTest::newRow("OK, then a lone CR") << QList<QByteArray>{"OK", "\r"} << QStringLiteral("OK\n");
        QTest::newRow("modem answer in one chunk") << QList<QByteArray>{"\r\nOK\r\n"} << QStringLiteral("\nOK\n");
        QTest::newRow("OK CR LF") << QList<QByteArray>{"OK\r\n"} << QStringLiteral("OK\n");
        QTest::newRow("CR LF split across chunks") << QList<QByteArray>{"OK\r", "\nNEXT"} << QStringLiteral("OK\nNEXT");
        QTest::newRow("chunk starting with CR keeps what follows")
            << QList<QByteArray>{"ATI", "\rModem 1.0"} << QStringLiteral("ATI\nModem 1.0");
        QTest::newRow("CR ending a chunk, then text")
            << QList<QByteArray>{"A\r", "B\r", "\r\n"} << QStringLiteral("A\nB\n\n");
        QTest::newRow("lone LF") << QList<QByteArray>{"A\nB"} << QStringLiteral("A\nB");
        QTest::newRow("two CRs") << QList<QByteArray>{"\r\r"} << QStringLiteral("\n\n");
        QTest::newRow("LF CR") << QList<QByteArray>{"\n\r"} << QStringLiteral("\n\n");
        QTest::newRow("empty chunk") << QList<QByteArray>{"A", "", "B"} << QStringLiteral("AB");
    }

    void lineEndingsBecomeLineBreaks()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QString, shown);
        WindowFixture f;
        f.start();
        for (const QByteArray &chunk : chunks)
            f.comm->receive(chunk);
        QCOMPARE(f.text1()->text(), shown);
        QCOMPARE(f.text1()->caretPosition(), f.text1()->textLength());
    }

    // Control bytes show as their control pictures, the rest as Windows-1250
    // (tst_codepage checks that table against the system's converter).
    // Each byte that is not a line ending shows as one visible character.
    void everyByteIsShown()
    {
        WindowFixture f;
        f.start();
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        f.comm->receive(all);
        const QString text = f.text1()->text();
        QCOMPARE(text.size(), 256); // LF then, apart, CR: two line breaks
        for (int b = 0; b < 256; ++b) {
            const QChar c = text[b];
            if (b == '\n' || b == '\r')
                QCOMPARE(c, QChar(u'\n'));
            else
                QVERIFY2(c == u'\t' || (c.isPrint() && c != u'\n'), qPrintable(QString::number(b, 16)));
        }
        QCOMPARE(text.mid(0x41, 3), QStringLiteral("ABC"));
        QCOMPARE(text.mid(0xA5, 1), QStringLiteral("Ą")); // the code page, not Latin-1
    }

    void caretGoesToTheEndEvenWhenMoved()
    {
        WindowFixture f;
        f.start();
        f.comm->receive("first line\r\nsecond");
        f.text1()->setCaretPosition(3);
        f.comm->receive(" more");
        QCOMPARE(f.text1()->text(), QStringLiteral("first line\nsecond more"));
        QCOMPARE(f.text1()->caretPosition(), f.text1()->textLength());
    }

    void lineChangesRepaintAndOtherCodesDoNothing()
    {
        WindowFixture f;
        f.start();
        const QList<QColor> before = f.colours();
        f.comm->setLines(true, true, true);
        f.comm->clearLog();
        for (int code : {0, 1, 6, 7, 8, 1001})
            f.comm->raise(code);
        QCOMPARE(f.colours(), before);
        QVERIFY(f.comm->log().isEmpty());

        for (int code : {CommControl::comEvCTS, CommControl::comEvDSR, CommControl::comEvCD}) {
            const bool cd = code != CommControl::comEvCD;
            f.comm->setLines(cd, true, true);
            f.comm->raise(code);
            QCOMPARE(f.colours(), (QList<QColor>{cd ? red : green, red, red, red, red}));
        }
        QCOMPARE(f.text1()->text(), QString());
    }

    // Each Enter sends what was collected in one write; the text area still
    // applies every key as usual, shortcuts included.
    void typedKeysReachThePortAsBytes()
    {
        WindowFixture f;
        f.start();
        QWidget *t = f.text1();
        QTest::keyClicks(t, u"ATI"_qs);
        QCOMPARE(f.comm->writes().size(), 1); // only the greeting so far
        QTest::keyClick(t, Qt::Key_Return);
        QTest::keyClick(t, Qt::Key_Enter, Qt::KeypadModifier); // the buffer was emptied
        QTest::keyClicks(t, u"AX"_qs);
        QTest::keyClick(t, Qt::Key_Backspace);
        QTest::keyClicks(t, u"T"_qs);
        QTest::keyClick(t, Qt::Key_Return);
        QCOMPARE(f.text1()->text(), QStringLiteral("ATI\n\nAT\n"));

        for (const QChar c : u"ąŁ€ñ"_qs) // ñ is not in the code page
            QTest::sendKeyEvent(QTest::Click, t, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(t, Qt::Key_Escape);
        QTest::keyClick(t, Qt::Key_Tab);
        QTest::keyClick(t, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(t, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(t, Qt::Key_BracketLeft, Qt::ControlModifier);
        // AltGr as Windows reports it: Ctrl+Alt with the character.
        QTest::sendKeyEvent(QTest::Click, t, Qt::Key_E, u"ę"_qs, Qt::ControlModifier | Qt::AltModifier);
        // Keys without a character are not collected.
        for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_F1, Qt::Key_Shift, Qt::Key_Control,
                            Qt::Key_Delete, Qt::Key_Home, Qt::Key_PageDown})
            QTest::keyClick(t, key);
        QTest::keyClick(t, Qt::Key_1, Qt::ControlModifier);
        QTest::keyClick(t, Qt::Key_X, Qt::AltModifier);
        QTest::keyClick(t, Qt::Key_Return);

        QInputMethodEvent commit;
        commit.setCommitString(u"żó"_qs);
        QCoreApplication::sendEvent(t, &commit);
        QTest::keyClick(t, Qt::Key_Return);

        // Ctrl+C is the byte 3 for the modem and still copies in the text area.
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(t, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), f.text1()->text());
        QTest::keyClick(t, Qt::Key_Return);

        QCOMPARE(f.comm->writes(), (QList<QByteArray>{"AT\r", "ATI\r", "\r", "AX\bT\r",
                                                      "\xB9\xA3\x80?\x1B\t\x1A\x01\x1B\xEA\r",
                                                      "\xBF\xF3\r", "\x01\x03\r"}));
    }

    void keysInAnIndicatorAreNotCollected()
    {
        WindowFixture f;
        f.start();
        Indicator *dsr = f.box("PicDSR");
        dsr->setFocus();
        QTest::keyClicks(dsr, QStringLiteral("AT"));
        QTest::keyClick(dsr, Qt::Key_Return);
        QCOMPARE(f.text1()->text(), QString());
        f.text1()->setFocus();
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.comm->writes(), (QList<QByteArray>{"AT\r", "\r"}));
    }

    // With the port closed a write is shown as failed and keeps what was typed
    // for the next Enter; the switches neither crash nor hang.
    void refusedLinesAreNotSentToALaterPort()
    {
        WindowFixture f;
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        f.start();
        f.boxes.clear();
        QTest::keyClicks(f.text1(), QStringLiteral("ATD555"));
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.boxes.texts(), QStringList{warningText(CommError::PortNotOpen)});
        // Switches without a port are remembered, not shown as live lines.
        f.click("PicDTR");
        f.click("PicRTS");
        QVERIFY(!f.box("PicDTR")->isPainted() && !f.box("PicRTS")->isPainted());
        QVERIFY(f.comm->writes().isEmpty());
        f.window->OtworzCOM();
        QTest::keyClicks(f.text1(), QStringLiteral("X"));
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.comm->writes(), (QList<QByteArray>{"AT\r", "X\r"}));
        QCOMPARE(f.colours().mid(3), (QList<QColor>{green, green}));
    }

    // A switch flips only its own line and box; nothing else reacts to clicks.
    void switchesFlipTheirLineOnly()
    {
        WindowFixture f;
        f.comm->setLines(true, false, true);
        f.start();
        const QList<QColor> start = f.colours();
        QCOMPARE(start, (QList<QColor>{red, green, red, red, red}));
        // Lines change without an event: the other boxes must not follow.
        f.comm->setLines(false, true, false);
        f.comm->clearLog();
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "Label1", "Label2", "Label3", "Label4",
                                 "Label5", "Zegar"})
            f.click(name);
        QVERIFY(f.comm->log().isEmpty());

        f.click("PicDTR");
        QCOMPARE(f.colours(), (QList<QColor>{red, green, red, red, green}));
        f.click("PicDTR");
        QCOMPARE(f.colours(), start);
        f.click("PicRTS");
        QCOMPARE(f.colours(), (QList<QColor>{red, green, red, green, red}));
        QCOMPARE(f.comm->log(), (QStringList{"DTREnable=false", "DTREnable=true", "RTSEnable=false"}));
        QVERIFY(f.comm->DTREnable() && !f.comm->RTSEnable());
        QCOMPARE(f.boxes.count(), 0);

        f.comm->failOn(FakeComm::SetDTR, CommError(CommError::LineControlFailed));
        f.click("PicDTR");
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.box("PicDTR")->colour(), red);
    }
};

QTEST_MAIN(TestTerminalTraffic)
#include "tst_terminaltraffic.moc"
