#include "keybytes.h"
#include "windowfixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QStringDecoder>

// Received bytes reaching the transcript, typed keys reaching the port, and
// the DTR and RTS switches.
class TestTerminalTraffic : public QObject
{
    Q_OBJECT

private:
    static void typeText(QWidget *w, const QString &text)
    {
        for (const QChar c : text)
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    static QList<int> codes(const QByteArray &bytes)
    {
        QList<int> out;
        for (const char c : bytes)
            out.append(uchar(c));
        return out;
    }

    struct Colours
    {
        QColor cd, cts, dsr, rts, dtr;
        bool operator==(const Colours &) const = default;
    };

    static Colours colours(const WindowFixture &f)
    {
        return {f.box("PicCD")->colour(), f.box("PicCTS")->colour(), f.box("PicDSR")->colour(),
                f.box("PicRTS")->colour(), f.box("PicDTR")->colour()};
    }

private Q_SLOTS:
    void lineEndingsBecomeLineBreaks_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QString>("shown");
        QTest::newRow("OK, then a lone CR") << QList<QByteArray>{"OK", "\r"} << QStringLiteral("OK\n");
        QTest::newRow("modem answer in one chunk")
            << QList<QByteArray>{"\r\nOK\r\n"} << QStringLiteral("\nOK\n");
        QTest::newRow("OK CR LF") << QList<QByteArray>{"OK\r\n"} << QStringLiteral("OK\n");
        QTest::newRow("CR LF split across chunks")
            << QList<QByteArray>{"OK\r", "\nNEXT"} << QStringLiteral("OK\nNEXT");
        QTest::newRow("chunk starting with CR keeps what follows")
            << QList<QByteArray>{"ATI", "\rModem 1.0"} << QStringLiteral("ATI\nModem 1.0");
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

    // Windows-1250 text; control bytes shown as their control pictures; the
    // five bytes the code page leaves unassigned keep their value.
    void everyByteIsShown()
    {
        WindowFixture f;
        f.start();
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        f.comm->receive(all);

        QStringDecoder cp1250("windows-1250");
        QString expected;
        for (int b = 0; b < 256; ++b) {
            if (b == '\t')
                expected += u'\t';
            else if (b == '\n' || b == '\r')
                expected += u'\n'; // LF, then CR: two line breaks
            else if (b < 32)
                expected += QChar(0x2400 + b);
            else if (b == 127)
                expected += QChar(0x2421);
            else if (QList<int>{0x81, 0x83, 0x88, 0x90, 0x98}.contains(b))
                expected += QChar(b);
            else
                expected += cp1250.decode(QByteArray(1, char(b)));
        }
        const QString shown = f.text1()->text();
        QCOMPARE(shown.size(), 256);
        for (int b = 0; b < 256; ++b)
            QVERIFY2(shown.at(b) == expected.at(b),
                     qPrintable(QStringLiteral("byte %1 shown as U+%2, expected U+%3")
                                    .arg(b)
                                    .arg(shown.at(b).unicode(), 4, 16, QLatin1Char('0'))
                                    .arg(expected.at(b).unicode(), 4, 16, QLatin1Char('0'))));
    }

    void caretGoesToTheEndEvenWhenMoved()
    {
        WindowFixture f;
        f.start();
        f.comm->receive("first line\r\nsecond");
        f.text1()->setCaretPosition(3);
        QCOMPARE(f.text1()->caretPosition(), 3);
        f.comm->receive(" more");
        QCOMPARE(f.text1()->text(), QStringLiteral("first line\nsecond more"));
        QCOMPARE(f.text1()->caretPosition(), f.text1()->textLength());
    }

    void lineChangesRepaintAndOtherCodesDoNothing()
    {
        WindowFixture f;
        f.start();
        const Colours before = colours(f);
        QCOMPARE(before.cd, green());

        f.comm->setLines(true, true, true);
        f.comm->clearLog();
        for (int code : {0, 1, 6, 7, 8, 1001})
            f.comm->raise(code);
        QCOMPARE(colours(f), before);
        QVERIFY(f.comm->log().isEmpty());

        for (int code : {CommControl::comEvCTS, CommControl::comEvDSR, CommControl::comEvCD}) {
            f.comm->setLines(code != CommControl::comEvCD, true, true);
            f.comm->raise(code);
            QCOMPARE(f.box("PicCD")->colour(), code != CommControl::comEvCD ? red() : green());
            QCOMPARE(f.box("PicCTS")->colour(), red());
            QCOMPARE(f.box("PicDSR")->colour(), red());
            QCOMPARE(f.box("PicDTR")->colour(), green());
        }
        QCOMPARE(f.text1()->text(), QString());
    }

    void enterSendsTheLineInOneWrite()
    {
        WindowFixture f;
        f.start();
        f.comm->clearLog();
        QTest::keyClicks(f.text1(), QStringLiteral("ATI"));
        QVERIFY(f.comm->writes().size() == 1); // only the greeting so far
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.comm->writes().mid(1), QList<QByteArray>{"ATI\r"});
        QCOMPARE(f.comm->log(), QStringList{"Output=ATI\\r"});
        QCOMPARE(f.text1()->text(), QStringLiteral("ATI\n"));

        // The buffer was emptied: Enter alone sends one CR.
        QTest::keyClick(f.text1(), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(f.comm->writes().mid(2), QList<QByteArray>{"\r"});
    }

    void editingKeysAreSentAsTyped()
    {
        WindowFixture f;
        f.start();
        QTest::keyClicks(f.text1(), QStringLiteral("AX"));
        QTest::keyClick(f.text1(), Qt::Key_Backspace);
        QTest::keyClicks(f.text1(), QStringLiteral("T"));
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(codes(f.comm->writes().last()), (QList<int>{65, 88, 8, 84, 13}));
        // On screen the Backspace did its usual work.
        QCOMPARE(f.text1()->text(), QStringLiteral("AT\n"));
    }

    void keysBecomeTheirBytes()
    {
        WindowFixture f;
        f.start();
        QWidget *t = f.text1();
        typeText(t, QStringLiteral("ąŁ€ñ")); // ñ is not in the code page
        QTest::keyClick(t, Qt::Key_Escape);
        QTest::keyClick(t, Qt::Key_Tab);
        QTest::keyClick(t, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(t, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(t, Qt::Key_BracketLeft, Qt::ControlModifier);
        // AltGr as Windows reports it: Ctrl+Alt with the character.
        QTest::sendKeyEvent(QTest::Click, t, Qt::Key_E, QStringLiteral("ę"),
                            Qt::ControlModifier | Qt::AltModifier);
        // Keys without a character are not collected.
        for (Qt::Key key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_F1, Qt::Key_Shift, Qt::Key_Control,
                            Qt::Key_Delete, Qt::Key_Home, Qt::Key_PageDown})
            QTest::keyClick(t, key);
        QTest::keyClick(t, Qt::Key_1, Qt::ControlModifier);
        QTest::keyClick(t, Qt::Key_X, Qt::AltModifier);
        QTest::keyClick(t, Qt::Key_Return);
        QCOMPARE(codes(f.comm->writes().last()),
                 (QList<int>{0xB9, 0xA3, 0x80, '?', 27, 9, 26, 1, 27, 0xEA, 13}));
    }

    // Ctrl+C is the byte 3 for the modem and still copies in the text area.
    void controlLettersAreCollectedAndShortcutsStillWork()
    {
        WindowFixture f;
        f.start();
        f.comm->receive("hello");
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(f.text1(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(f.text1(), Qt::Key_C, Qt::ControlModifier);
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("hello"));
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(codes(f.comm->writes().last()), (QList<int>{1, 3, 13}));
    }

    void keysInAnIndicatorAreNotCollected()
    {
        WindowFixture f;
        f.start();
        Indicator *dsr = f.box("PicDSR");
        dsr->setFocus();
        QTest::keyClicks(dsr, QStringLiteral("AT"));
        QTest::keyClick(dsr, Qt::Key_Return);
        QCOMPARE(f.comm->writes().size(), 1);
        QCOMPARE(f.text1()->text(), QString());
        f.text1()->setFocus();
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.comm->writes().last(), QByteArray("\r"));
    }

    // A failed write is shown and keeps what was typed for the next Enter.
    void failedWriteKeepsTheBuffer()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::SetOutput, CommError(CommError::PortNotOpen));
        QTest::keyClicks(f.text1(), QStringLiteral("AB"));
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.boxes.boxes().first().text,
                 QStringLiteral("Nieznany błąd nr 8012 ") + CommError::describe(8012));
        QCOMPARE(f.comm->writes().size(), 1);
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.comm->writes().last(), QByteArray("AB\r\r"));
    }

    void closedPortNeitherCrashesNorHangs()
    {
        WindowFixture f;
        f.comm->failOn(FakeComm::OpenPort, CommError(CommError::PortNotFound));
        f.start();
        QCOMPARE(f.boxes.count(), 1);
        QTest::keyClicks(f.text1(), QStringLiteral("AT"));
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(f.boxes.count(), 2);
        QTest::mouseClick(f.box("PicDTR"), Qt::LeftButton);
        QTest::mouseClick(f.box("PicRTS"), Qt::LeftButton);
        QVERIFY(f.comm->writes().isEmpty());
    }

    void dtrTwoClicksReturnToTheStart()
    {
        WindowFixture f;
        f.start();
        const Colours start = colours(f);
        QCOMPARE(start.dtr, green());
        f.comm->clearLog();

        QTest::mouseClick(f.box("PicDTR"), Qt::LeftButton);
        QVERIFY(f.comm->DTREnable());
        QCOMPARE(f.box("PicDTR")->colour(), red());
        QTest::mouseClick(f.box("PicDTR"), Qt::LeftButton);
        QVERIFY(!f.comm->DTREnable());
        QCOMPARE(colours(f), start);
        QCOMPARE(f.comm->log(), (QStringList{"DTREnable=true", "DTREnable=false"}));
    }

    void rtsClickLeavesTheOtherBoxes()
    {
        WindowFixture f;
        f.comm->setLines(true, false, true);
        f.start();
        // Lines change without an event: the other boxes must not follow.
        f.comm->setLines(false, true, false);
        Colours expected = colours(f);
        QTest::mouseClick(f.box("PicRTS"), Qt::LeftButton);
        QVERIFY(f.comm->RTSEnable());
        expected.rts = red();
        QCOMPARE(colours(f), expected);
    }

    void otherControlsIgnoreClicks()
    {
        WindowFixture f;
        f.start();
        const Colours start = colours(f);
        f.comm->clearLog();
        for (const char *name : {"PicCD", "PicCTS", "PicDSR"})
            QTest::mouseClick(f.box(name), Qt::LeftButton);
        for (const char *name : {"Label1", "Label2", "Label3", "Label4", "Label5", "Zegar"})
            QTest::mouseClick(f.label(name), Qt::LeftButton);
        QVERIFY(f.comm->log().isEmpty());
        QCOMPARE(colours(f), start);
        QCOMPARE(f.boxes.count(), 0);
    }

    void failedSwitchIsShownAndTheBoxKeepsItsColour()
    {
        WindowFixture f;
        f.start();
        f.comm->failOn(FakeComm::SetDTR, CommError(CommError::LineControlFailed));
        QTest::mouseClick(f.box("PicDTR"), Qt::LeftButton);
        QCOMPARE(f.boxes.count(), 1);
        QCOMPARE(f.box("PicDTR")->colour(), green());
    }

    void inputMethodTextIsCollected()
    {
        WindowFixture f;
        f.start();
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("żó"));
        QCoreApplication::sendEvent(f.text1(), &commit);
        QTest::keyClick(f.text1(), Qt::Key_Return);
        QCOMPARE(codes(f.comm->writes().last()), (QList<int>{0xBF, 0xF3, 13}));
    }
};

QTEST_MAIN(TestTerminalTraffic)
#include "tst_terminaltraffic.moc"
