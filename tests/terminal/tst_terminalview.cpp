#include "terminalview.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTest>

namespace {

// A shown view with the window's font, big enough for a few lines.
struct ShownView
{
    explicit ShownView(qsizetype maxLines = Transcript::defaultMaxLines,
                       qsizetype maxChars = Transcript::defaultMaxChars)
        : view(maxLines, maxChars)
    {
        QFont font(QStringLiteral("Times New Roman"));
        font.setPointSizeF(8.25);
        view.setFont(font);
        view.resize(300, 200);
        view.show();
        view.setFocus();
        QApplication::setActiveWindow(&view);
    }
    TerminalView view;
};

QPoint centreOf(const QRect &r)
{
    return QPoint(r.left(), r.center().y());
}

} // namespace

class TestTerminalView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // ---- receiving ----

    void appendsAcrossChunks()
    {
        TerminalView view;
        const QString chunks[] = {u"AT"_qs, u"\nOK\n"_qs, u"line with ąę"_qs, u""_qs};
        QString expected;
        for (const QString &c : chunks) {
            view.appendText(c);
            expected += c;
            QCOMPARE(view.text(), expected);
            QCOMPARE(view.textLength(), expected.size());
        }
        QCOMPARE(view.lineCount(), 3);
    }

    void appendLeavesCaretAndSelectionAlone()
    {
        ShownView s;
        s.view.appendText(u"first line\nsecond");
        s.view.setSelection(2, 8);
        s.view.appendText(u" more\nand more\n");
        QCOMPARE(s.view.anchorPosition(), 2);
        QCOMPARE(s.view.caretPosition(), 8);
        QCOMPARE(s.view.selectedText(), QStringLiteral("rst li"));

        // The user types in the middle while text keeps arriving at the end.
        s.view.setCaretPosition(5);
        QTest::keyClicks(&s.view, u"XY"_qs);
        s.view.appendText(u"tail");
        QTest::keyClick(&s.view, Qt::Key_Z);
        QCOMPARE(s.view.text(), QStringLiteral("firstXYz line\nsecond more\nand more\ntail"));
        QCOMPARE(s.view.caretPosition(), 8);
    }

    void caretAtTheEndScrollsWithTheText()
    {
        ShownView s;
        for (int i = 0; i < 200; ++i) {
            s.view.appendText(QStringLiteral("line %1\n").arg(i));
            s.view.setCaretPosition(s.view.textLength());
        }
        QCOMPARE(s.view.caretPosition(), s.view.textLength());
        QVERIFY(s.view.viewport()->rect().contains(s.view.caretRect()));
        QTRY_COMPARE(s.view.verticalScrollBar()->maximum(), 201 - s.view.visibleLineCount());
        QCOMPARE(s.view.verticalScrollBar()->value(), s.view.verticalScrollBar()->maximum());
    }

    // ---- typing ----

    void typingEditsAtTheCaret()
    {
        ShownView s;
        QTest::keyClicks(&s.view, u"ATX"_qs);
        QTest::keyClick(&s.view, Qt::Key_Backspace);
        QTest::keyClicks(&s.view, u"I"_qs);
        QTest::keyClick(&s.view, Qt::Key_Return);
        QCOMPARE(s.view.text(), QStringLiteral("ATI\n"));
        QTest::sendKeyEvent(QTest::Click, &s.view, Qt::Key_unknown, u"ą"_qs, Qt::NoModifier);
        QTest::keyClicks(&s.view, u"b"_qs);
        QTest::keyClick(&s.view, Qt::Key_Home);
        QTest::keyClick(&s.view, Qt::Key_Delete);
        QTest::keyClick(&s.view, Qt::Key_Up);
        QTest::keyClick(&s.view, Qt::Key_End);
        QTest::keyClick(&s.view, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(&s.view, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(s.view.selectedText(), QStringLiteral("TI"));
        QTest::keyClicks(&s.view, u"Z"_qs); // typing replaces the selection
        QCOMPARE(s.view.text(), QStringLiteral("AZ\nb"));
        QTest::keyClick(&s.view, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(s.view.caretPosition(), 4);
        QTest::keyClick(&s.view, Qt::Key_Home, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.view.selectedText(), s.view.text());
        // Control codes typed with Ctrl are for the port, not the transcript.
        QTest::keyClick(&s.view, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&s.view, Qt::Key_B, Qt::ControlModifier);
        QTest::keyClick(&s.view, Qt::Key_Escape);
        QCOMPARE(s.view.text(), QStringLiteral("AZ\nb"));
    }

    void upAndDownKeepTheColumn()
    {
        ShownView s;
        s.view.appendText(u"abcdefgh\nab\nabcdefgh");
        s.view.setCaretPosition(6);
        QTest::keyClick(&s.view, Qt::Key_Down);
        QCOMPARE(s.view.caretPosition(), 11); // end of the short line
        QTest::keyClick(&s.view, Qt::Key_Down);
        QCOMPARE(s.view.caretPosition(), 18);
        QTest::keyClick(&s.view, Qt::Key_PageUp);
        QCOMPARE(s.view.caretPosition(), 6);
    }

    // ---- clipboard and undo ----

    void copyCutAndPasteUseTheClipboard()
    {
        ShownView s;
        QClipboard *clipboard = QGuiApplication::clipboard();
        s.view.appendText(u"hello world\nsecond");
        s.view.setSelection(6, 11);
        QTest::keyClick(&s.view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("world"));
        clipboard->clear();
        QTest::keyClick(&s.view, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("world"));

        s.view.setCaretPosition(s.view.textLength());
        QTest::keyClick(&s.view, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(&s.view, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(s.view.text(), QStringLiteral("hello world\nsecondworldworld"));

        clipboard->setText(QStringLiteral("a\r\nb\rc"));
        QTest::keyClick(&s.view, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(s.view.text(), QStringLiteral("hello world\nsecondworldworlda\nb\nc"));

        s.view.setSelection(0, 6);
        QTest::keyClick(&s.view, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("hello "));
        QVERIFY(s.view.text().startsWith(u"world\n"));

        QTest::keyClick(&s.view, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(s.view.selectedText(), s.view.text());
    }

    void undoAndRedoTakeBackTheUsersEdits()
    {
        ShownView s;
        s.view.appendText(u"OK\n");
        s.view.setCaretPosition(3);
        QTest::keyClicks(&s.view, u"ATZ"_qs);
        QTest::keyClick(&s.view, Qt::Key_Backspace);
        QTest::keyClick(&s.view, Qt::Key_Backspace);
        s.view.appendText(u"\nRING"); // received text is not the user's to undo
        QCOMPARE(s.view.text(), QStringLiteral("OK\nA\nRING"));

        QTest::keyClick(&s.view, Qt::Key_Z, Qt::ControlModifier); // both Backspaces
        QCOMPARE(s.view.text(), QStringLiteral("OK\nATZ\nRING"));
        QTest::keyClick(&s.view, Qt::Key_Z, Qt::ControlModifier); // the typed word
        QCOMPARE(s.view.text(), QStringLiteral("OK\n\nRING"));
        QVERIFY(!s.view.isUndoAvailable());
        QTest::keyClick(&s.view, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(s.view.text(), QStringLiteral("OK\nATZ\nRING"));
        QTest::keyClick(&s.view, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.view.text(), QStringLiteral("OK\nA\nRING"));
        QCOMPARE(s.view.caretPosition(), 4);
        QVERIFY(!s.view.isRedoAvailable());

        // A new edit after an undo drops what could be redone.
        QTest::keyClick(&s.view, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClicks(&s.view, u"!"_qs);
        QVERIFY(!s.view.isRedoAvailable());
    }

    // Whatever the user did between receives, undoing all of it leaves exactly
    // the received text, and redoing all of it brings the edits back.
    void undoingEveryEditLeavesTheReceivedText()
    {
        ShownView s;
        QRandomGenerator rng(42);
        QString received;
        for (int step = 0; step < 300; ++step) {
            const qsizetype size = s.view.textLength();
            switch (rng.bounded(6)) {
            case 0: {
                const QString chunk = QStringLiteral("rx%1\n").arg(step);
                s.view.appendText(chunk);
                received += chunk;
                break;
            }
            case 1:
                s.view.setCaretPosition(qsizetype(rng.bounded(int(size) + 1)));
                break;
            case 2:
                s.view.setSelection(qsizetype(rng.bounded(int(size) + 1)), qsizetype(rng.bounded(int(size) + 1)));
                break;
            case 3:
                QTest::keyClicks(&s.view, u"ab"_qs.left(1 + int(rng.bounded(2))));
                break;
            case 4:
                QTest::keyClick(&s.view, rng.bounded(2) ? Qt::Key_Backspace : Qt::Key_Delete,
                                rng.bounded(4) ? Qt::NoModifier : Qt::ControlModifier);
                break;
            default:
                if (rng.bounded(2)) {
                    QTest::keyClick(&s.view, Qt::Key_Return);
                } else {
                    QGuiApplication::clipboard()->setText(u"p\r\nq"_qs);
                    QTest::keyClick(&s.view, Qt::Key_V, Qt::ControlModifier);
                }
                break;
            }
        }
        const QString edited = s.view.text();
        QVERIFY(edited != received);
        while (s.view.isUndoAvailable())
            s.view.undo();
        QCOMPARE(s.view.text(), received);
        while (s.view.isRedoAvailable())
            s.view.redo();
        QCOMPARE(s.view.text(), edited);
    }

    void screenReadersSeeTheText()
    {
        ShownView s;
        s.view.appendText(u"OK\nRING");
        s.view.setSelection(1, 4);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&s.view);
        QVERIFY(a);
        QCOMPARE(a->role(), QAccessible::EditableText);
        QAccessibleTextInterface *t = a->textInterface();
        QVERIFY(t);
        QCOMPARE(t->characterCount(), 7);
        QCOMPARE(t->text(3, 7), QStringLiteral("RING"));
        QCOMPARE(t->cursorPosition(), 4);
        int start = -1, end = -1;
        t->selection(0, &start, &end);
        QCOMPARE(std::pair(start, end), std::pair(1, 4));
        const QRect r = t->characterRect(3);
        QCOMPARE(t->offsetAtPoint(QPoint(r.left() + 1, r.center().y())), 3);
    }

    void contextMenuOffersTheEditCommands()
    {
        ShownView s;
        QGuiApplication::clipboard()->clear();
        s.view.appendText(u"text");
        std::unique_ptr<QMenu> menu(s.view.createStandardContextMenu());
        QStringList enabled;
        for (QAction *a : menu->actions()) {
            if (!a->isSeparator() && a->isEnabled())
                enabled << a->text().section(u'\t', 0, 0);
        }
        QCOMPARE(enabled, QStringList{u"Zaznacz &wszystko"_qs});
        s.view.setSelection(0, 2);
        menu.reset(s.view.createStandardContextMenu());
        const auto actions = menu->actions();
        const auto copy = std::find_if(actions.begin(), actions.end(),
                                       [](QAction *a) { return a->text().startsWith(u"&Kopiuj"); });
        QVERIFY(copy != actions.end() && (*copy)->isEnabled());
        (*copy)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("te"));
    }

    // ---- limits ----

    void textLeavesFromTheTopAndPositionsFollow()
    {
        ShownView s(5, 1000);
        s.view.appendText(u"l0\nl1\nl2\nl3\n");
        s.view.setSelection(4, 7); // "1\nl"
        QTest::keyClick(&s.view, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(&s.view, u"typed"_qs);
        s.view.setSelection(4, 7);
        s.view.appendText(u"l4\nl5\n"); // l0 and l1 leave
        QCOMPARE(s.view.text(), QStringLiteral("l2\nl3\ntypedl4\nl5\n"));
        QCOMPARE(s.view.lineCount(), 5);
        QCOMPARE(s.view.selectionStart(), 0); // the part that left is gone
        QCOMPARE(s.view.selectedText(), QStringLiteral("l"));
        // The undo step lies after the text that left, so it still applies.
        QTest::keyClick(&s.view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(s.view.text(), QStringLiteral("l2\nl3\nl4\nl5\n"));

        // A step inside text that left cannot be undone any more.
        s.view.setCaretPosition(0);
        QTest::keyClicks(&s.view, u"x"_qs);
        s.view.appendText(u"l6\n");
        QTest::keyClick(&s.view, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(s.view.text(), QStringLiteral("l3\nl4\nl5\nl6\n"));
        QVERIFY(!s.view.isUndoAvailable());
    }

    void characterLimitCutsAnEndlessLine()
    {
        ShownView s(100, 1000);
        QString all;
        for (int i = 0; i < 500; ++i) {
            const QString chunk = QString::number(i).rightJustified(7, u'.');
            s.view.appendText(chunk);
            all += chunk;
        }
        QCOMPARE(s.view.textLength(), 1000);
        QCOMPARE(s.view.text(), all.right(1000));
        QCOMPARE(s.view.lineCount(), 1);
    }

    // ---- geometry ----

    void endOfALongLineScrollsIntoView()
    {
        ShownView s;
        QString chunk;
        for (int i = 0; i < 1000; ++i)
            chunk += QChar(char16_t(u'A' + i % 26));
        for (int i = 0; i < 200; ++i)
            s.view.appendText(chunk); // 200,000 characters, one line
        s.view.setCaretPosition(s.view.textLength());
        const QRect area = s.view.viewport()->rect();
        QVERIFY(area.contains(s.view.caretRect()));
        // The last characters are on screen, the first far off to the left.
        const qsizetype last = s.view.textLength() - 1;
        QVERIFY(area.contains(s.view.positionRect(last)));
        QVERIFY(s.view.positionRect(0).right() < 0);
        QCOMPARE(s.view.positionAt(QPoint(area.right() + 50, 5)), s.view.textLength());
        QTRY_VERIFY(s.view.horizontalScrollBar()->maximum() > 100000);
        QCOMPARE(s.view.horizontalScrollBar()->value(), s.view.horizontalScrollBar()->maximum());

        s.view.setCaretPosition(0);
        QVERIFY(area.contains(s.view.caretRect()));
        QTRY_COMPARE(s.view.horizontalScrollBar()->value(), 0);
    }

    void pointsAndPositionsMapBothWays()
    {
        ShownView s;
        s.view.appendText(u"first\n\tsecond line\nthird ąę");
        for (qsizetype p = 0; p <= s.view.textLength(); ++p) {
            const QRect r = s.view.positionRect(p);
            QCOMPARE(s.view.positionAt(centreOf(r)), p);
        }
        // Beyond a line's end maps to its end; above the text to its first line.
        QCOMPARE(s.view.positionAt(QPoint(250, s.view.positionRect(0).center().y())), 5);
        QCOMPARE(s.view.positionAt(QPoint(250, -20)), 5);
        QCOMPARE(s.view.positionAt(QPoint(0, 190)), s.view.text().lastIndexOf(u'\n') + 1);
        QVERIFY(s.view.positionRect(6).top() > s.view.positionRect(5).top());
    }

    void mouseDragSelects()
    {
        ShownView s;
        s.view.appendText(u"one two three\nfour");
        QWidget *vp = s.view.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(s.view.positionRect(4)));
        QTest::mouseMove(vp, centreOf(s.view.positionRect(16)));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(s.view.positionRect(16)));
        QCOMPARE(s.view.selectedText(), QStringLiteral("two three\nfo"));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, centreOf(s.view.positionRect(8)));
        QCOMPARE(s.view.selectedText(), QStringLiteral("two "));
        QTest::mouseDClick(vp, Qt::LeftButton, {}, centreOf(s.view.positionRect(10)));
        QCOMPARE(s.view.selectedText(), QStringLiteral("three"));
    }
};

QTEST_MAIN(TestTerminalView)
#include "tst_terminalview.moc"
