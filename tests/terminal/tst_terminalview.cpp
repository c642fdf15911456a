// SPDX-License-Identifier: MIT
#include "receivedecoder.h"
#include "terminalview.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QClipboard>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QStyleHints>
#include <QTest>

namespace {

// A shown view big enough for a few lines, with the text given.
struct ShownView : TerminalView
{
    explicit ShownView(QStringView text = {})
    {
        appendText(text);
        resize(300, 200);
        show();
    }
    // Keys by their portable names, blank-separated: "Ctrl+Z Shift+Left A";
    // a name in lower case is text that comes without a key code. Answers the state after.
    QString keys(const QString &names)
    {
        for (const QString &name : names.split(u' ')) {
            if (name.front().isLower())
                QTest::sendKeyEvent(QTest::Click, this, Qt::Key_unknown, name, Qt::NoModifier);
            else
                QTest::keySequence(this, name);
        }
        return state();
    }
    // The text with '|' at the caret and, if there is a selection, '^' at its anchor.
    QString state() const
    {
        const qsizetype anchor = anchorPosition(), caret = caretPosition();
        QString s = text().insert(caret, u'|');
        return anchor == caret ? s : s.insert(anchor + (anchor > caret), u'^');
    }
    // Receives the text and puts the caret at the '|'.
    void setState(QString s)
    {
        const qsizetype caret = s.indexOf(u'|');
        appendText(s.remove(caret, 1));
        setCaretPosition(caret);
    }
};

} // namespace

class TestTerminalView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QGuiApplication::styleHints()->setCursorFlashTime(0); // the caret shows all the time
    }

    // Keys edit at the caret as in a text area, and the editing shortcuts work
    // on the clipboard (which holds "x\r\ny\rz"; a paste shows what it holds);
    // undo takes back the user's edits by steps, as EditHistory makes them.
    void keysEditAsInATextArea_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("after");
        QTest::newRow("typing, Ctrl+H, Ctrl+M as Backspace, Enter")
            << "OK\n|" << "A T X Backspace I Return Ctrl+I ą Y Ctrl+H Ctrl+M" << "OK\nati\n\tą\n|";
        QTest::newRow("Home, Ctrl+Home") << "ab\ncd|" << "Home Del Ctrl+Home Ctrl+Shift+End" << "^ab\nd|";
        QTest::newRow("the column stays") << "abcd|e\nab\nabcde" << "Down Shift+PgUp" << "abcd|e\nab^\nabcde";
        QTest::newRow("Left ends a selection") << "abc|" << "Shift+Left Shift+Left Left Shift+Right Z" << "az|c";
        QTest::newRow("words") << "one two|" << "Ctrl+Left Ctrl+Backspace Ctrl+Del" << "|";
        QTest::newRow("Tab, Ctrl+letters type nothing") << "ab|" << "Tab Ctrl+B Esc" << "ab|";
        QTest::newRow("Ctrl+X, Shift+Insert, Ctrl+Insert")
            << "hi |you" << "Shift+Home Ctrl+X End Shift+Ins Shift+Home Ctrl+Ins End Ctrl+V" << "youhi youhi |";
        QTest::newRow("Ctrl+V, Shift+Delete")
            << "ab|c" << "Ctrl+V Shift+Left Shift+Del Ctrl+V" << "abx\ny\nz|c";
        // A redone step does not grow with typing after it; a new edit forgets what could be redone.
        QTest::newRow("redo") << "|" << "A Ctrl+Z Ctrl+Y B Ctrl+Z C Ctrl+Y" << "ac|";
        QTest::newRow("undo runs") << "OK\n|" << "A T Z Backspace Backspace Ctrl+Home Del Del X Ctrl+End Y "
                                   "Ctrl+Z Ctrl+Z Ctrl+Z Ctrl+Z Ctrl+Z" << "OK\n|";
        // The default bound, 4 million characters: a bigger step is not kept, nor any before it.
        const QString big(4'000'001, u'q');
        QTest::newRow("a bigger step goes") << big + u'|' << "Ctrl+A Ctrl+C End B Ctrl+V Ctrl+Z" << big + u'b' + big + u'|';
    }

    void keysEditAsInATextArea()
    {
        QFETCH(QString, before);
        QFETCH(QString, keys);
        QFETCH(QString, after);
        ShownView s;
        s.setState(before);
        QGuiApplication::clipboard()->setText("x\r\ny\rz");
        QCOMPARE(s.keys(keys), after);
    }

    // Received text goes to the end and older text leaves from the top; the
    // user's caret, selection and undo steps stay with the text they were in.
    // A step in text that left cannot be undone, nor any before it.
    void receivedTextLeavesTheUsersEditsAlone()
    {
        ShownView s;
        s.setLimits(4, 99999);
        s.setState("l0\nl1\nOK|\n");
        s.keys("Q Ctrl+Home X Ctrl+End A T Z Left Backspace Backspace");
        s.setSelection(5, 8);
        s.appendText(u"\nRING\n"); // "Xl0" and "l1" leave
        QCOMPARE(s.state(), "^O|Kq\nz\nRING\n");
        QCOMPARE(s.keys("Ctrl+Z"), "OKq\nat|z\nRING\n");
        // The X left with its line, and the q goes with it.
        QCOMPARE(s.keys("Ctrl+Z Ctrl+Z Ctrl+Z"), "OKq\n|\nRING\n");
        QCOMPARE(s.keys("Ctrl+Y Ctrl+Shift+Z"), "OKq\n|z\nRING\n");
    }

    // The mouse selects by dragging, extends with Shift, takes a word on a
    // double click. A point at the bottom of a line and on a character's left
    // edge is that character's; beyond a line's end is its end, above the text
    // its first line, below it its last.
    void mouseSelects()
    {
        ShownView s(u"first\n\tsecond line\nthird ąę");
        QWidget *vp = s.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, s.positionRect(10).bottomLeft());
        const QPoint above(250, -20);
        QTest::mouseMove(vp, above);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, above);
        QCOMPARE(s.selectedText(), "\n\tsec");
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, QPoint(0, 190));
        QCOMPARE(s.selectedText(), "ond line\n");
        QTest::mouseDClick(vp, Qt::LeftButton, {}, s.positionRect(9).center());
        QCOMPARE(s.selectedText(), "second");
    }

    // A screen reader reads the text, caret, selection and where a character is.
    void screenReaderReadsTheText()
    {
        ShownView s(u"first\n\tsecond line\nthird ąę");
        s.setSelection(7, 13);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&s);
        QAccessibleTextInterface *t = a->textInterface();
        QCOMPARE(a->role(), QAccessible::EditableText);
        int start = 0, end = 0;
        t->selection(0, &start, &end);
        QCOMPARE(std::tuple(t->characterCount(), t->text(19, 24), t->cursorPosition(), start, end),
                 std::tuple(27, "third", 13, 7, 13));
        QCOMPARE(t->offsetAtPoint(t->characterRect(3).topLeft() + QPoint(1, 1)), 3);
    }

    // The context menu, with nothing to undo: with the selection and an
    // empty clipboard (Kopiuj fills it), then without a selection.
    void contextMenuOffersWhatApplies()
    {
        ShownView s(u"first\n\tsecond line\nthird ąę");
        s.setSelection(7, 13);
        QGuiApplication::clipboard()->clear();
        for (const QStringList &expected : {QStringList{"Wy&tnij", "&Kopiuj", "&Usuń", "Zaznacz &wszystko"},
                                            QStringList{"&Wklej", "Zaznacz &wszystko"}}) {
            QMenu *menu = s.createStandardContextMenu(&s);
            QStringList labels;
            for (QAction *action : menu->actions()) {
                if (!action->isSeparator() && action->isEnabled())
                    labels << action->text().section(u'\t', 0, 0);
                if (action->text().startsWith(u"&Kopiuj"))
                    action->trigger();
            }
            QCOMPARE(labels, expected);
            QCOMPARE(QGuiApplication::clipboard()->text(), "second");
            s.setCaretPosition(0);
        }
    }

    // The caret stays in view: at the end of the last of 203 lines, a line
    // of 200,000 characters, and back at the start of the text.
    void caretStaysInView()
    {
        ShownView s;
        s.appendText(u"line\n"_qs.repeated(202) + u"ABCDEFGHIJ"_qs.repeated(20'000));
        s.setCaretPosition(s.textLength());
        const QRect area = s.viewport()->rect();
        QVERIFY(area.contains(s.caretRect()));
        QCOMPARE(s.positionAt(area.bottomRight() + QPoint(50, -5)), s.textLength());
        const QScrollBar *h = s.horizontalScrollBar();
        QTRY_VERIFY(h->maximum() > 0); // the frame has set the bars
        QCOMPARE(h->value(), h->maximum());
        s.setCaretPosition(0);
        QVERIFY(area.contains(s.caretRect()));
        QTRY_COMPARE(h->value(), 0);
    }

    // The screen, drawn a frame at a time from the pixels already there, is
    // after every step what drawing all of it afresh shows: text, caret,
    // selection. Steps, '|'-separated: "lines:N" receives N lines, "recv:..."
    // receives the characters' bytes, "type:..."
    // types (Ctrl+End puts the caret at the end, as the window does after receiving), "mark:A,B" selects, "size:W,H", "go:N" scrolls to line N,
    // "keep:L,C" sets the line and character limits.
    void screenMatchesAFullRepaint_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::newRow("a few lines, more than a screen, trimmed") << "keep:30,99999|lines:20|type:Ctrl+End|lines:3|type:Ctrl+End|lines:40|type:Ctrl+End";
        QTest::newRow("part of a line") << "lines:15|type:Ctrl+End|recv:abc|type:Ctrl+End|recv:d\tef|recv:\r\nx";
        QTest::newRow("a selection across the trim point") << "keep:30,99999|lines:28|mark:400,20|mark:450,30|lines:3|lines:5";
        QTest::newRow("a line losing its start") << "recv:wwwwwwwwwwwwwwwwwwwwwwwwwwwwww|recv:\r\nbbb|keep:100,40|recv:cccccccc";
        QTest::newRow("control pictures, typed characters outside the code page")
            << "lines:3|recv:\x01\x7f\u0081\u00ad\u00b9|type:Ctrl+End|type:ж😀\u00ad|recv:ok\x1b[0m\r\n|lines:12|type:Ctrl+End";
        QTest::newRow("resized mid-stream") << "lines:10|type:Ctrl+End|size:250,150|lines:5|type:Ctrl+End";
        QTest::newRow("sideways after the caret") // lines of 60, 24 and 90 w's
            << "lines:3|recv:wwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww"
               "|recv:\r\n|recv:wwwwwwwwwwwwwwwwwwwwwwww|type:Ctrl+End|recv:www|type:Ctrl+End|recv:www|type:Ctrl+End|recv:\r\nab|type:Ctrl+End"
               "|recv:wwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwwww|type:Ctrl+End";
        QTest::newRow("lines typed over") << "lines:5|mark:10,60|type:x";
        QTest::newRow("scrolled back by the user") << "lines:40|type:Ctrl+End|go:3|lines:2|go:10|type:x";
    }

    void screenMatchesAFullRepaint()
    {
        QFETCH(QString, steps);
        ShownView s;
        s.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s));
        QScrollBar *bar = s.verticalScrollBar();
        ReceiveDecoder decoder;
        int line = 0;
        for (const QString &step : steps.split(u'|')) {
            const QStringList arg = step.section(u':', 1).split(u',');
            int a = arg[0].toInt(), b = arg.value(1).toInt();
            QByteArray received;
            switch (step[0].unicode()) {
            case 'l':
                while (a--)
                    decoder.decode("line " + QByteArray::number(line++) + ": \xb9\xea\tgj|\r\n", received);
                break;
            case 'r':
                decoder.decode(arg[0].toLatin1(), received);
                break;
            case 't':
                s.keys(arg[0]);
                break;
            case 'm':
                s.setSelection(a, b);
                break;
            case 's':
                s.resize(a, b);
                break;
            case 'k':
                s.setLimits(a, b);
                break;
            case 'g':
                bar->setValue(a);
            }
            if (!received.isEmpty())
                s.appendReceived(received);
            // The frame has set the scroll bar.
            QTRY_COMPARE(bar->maximum(), std::max<qsizetype>(0, s.lineCount() - s.visibleLineCount()));
            QTRY_COMPARE(bar->value(), s.firstVisibleLine());
            // What the screen shows of the text area with its scroll bars, and what drawing all of it afresh gives.
            QTRY_COMPARE(s.screen()->grabWindow(s.winId()).toImage(), s.grab().toImage());
        }
    }
};

QTEST_MAIN(TestTerminalView)
#include "tst_terminalview.moc"
