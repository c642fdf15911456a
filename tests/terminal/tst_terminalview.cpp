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
    explicit ShownView(qsizetype maxLines = Transcript::defaultMaxLines)
        : view(maxLines, Transcript::defaultMaxChars)
    {
        QFont font(QStringLiteral("Times New Roman"));
        font.setPointSizeF(8.25);
        view.setFont(font);
        view.resize(300, 200);
        view.show();
        view.setFocus();
        QApplication::setActiveWindow(&view);
    }
    void keys(const QList<std::pair<Qt::Key, Qt::KeyboardModifiers>> &keys)
    {
        for (const auto &[key, modifiers] : keys)
            QTest::keyClick(&view, key, modifiers);
    }
    TerminalView view;
};

QPoint centreOf(const QRect &r)
{
    return QPoint(r.left(), r.center().y());
}

constexpr Qt::KeyboardModifiers none = Qt::NoModifier, ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;

} // namespace

class TestTerminalView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Received text goes to the end; the user's caret and selection stay, and
    // typing in the middle goes on while text arrives.
    void appendLeavesCaretAndSelectionAlone()
    {
        ShownView s;
        s.view.appendText(u"first line\nsecond");
        s.view.appendText(u"");
        s.view.setSelection(2, 8);
        s.view.appendText(u" more\nand more\n");
        QCOMPARE(s.view.lineCount(), 4);
        QCOMPARE(s.view.anchorPosition(), 2);
        QCOMPARE(s.view.caretPosition(), 8);
        QCOMPARE(s.view.selectedText(), QStringLiteral("rst li"));
        s.view.setCaretPosition(5);
        QTest::keyClicks(&s.view, u"XY"_qs);
        s.view.appendText(u"tail");
        QTest::keyClick(&s.view, Qt::Key_Z);
        QCOMPARE(s.view.text(), QStringLiteral("firstXYz line\nsecond more\nand more\ntail"));
        QCOMPARE(s.view.textLength(), s.view.text().size());
        QCOMPARE(s.view.caretPosition(), 8);
    }

    void typingEditsAtTheCaret()
    {
        ShownView s;
        QTest::keyClicks(&s.view, u"ATX"_qs);
        s.keys({{Qt::Key_Backspace, none}});
        QTest::keyClicks(&s.view, u"I"_qs);
        s.keys({{Qt::Key_Return, none}});
        QCOMPARE(s.view.text(), QStringLiteral("ATI\n"));
        QTest::sendKeyEvent(QTest::Click, &s.view, Qt::Key_unknown, u"ą"_qs, Qt::NoModifier);
        QTest::keyClicks(&s.view, u"b"_qs);
        s.keys({{Qt::Key_Home, none}, {Qt::Key_Delete, none}, {Qt::Key_Up, none}, {Qt::Key_End, none},
                {Qt::Key_Left, shift}, {Qt::Key_Left, shift}});
        QCOMPARE(s.view.selectedText(), QStringLiteral("TI"));
        QTest::keyClicks(&s.view, u"Z"_qs); // typing replaces the selection
        QCOMPARE(s.view.text(), QStringLiteral("AZ\nb"));
        s.keys({{Qt::Key_End, ctrl}});
        QCOMPARE(s.view.caretPosition(), 4);
        s.keys({{Qt::Key_Home, ctrl | shift}});
        QCOMPARE(s.view.selectedText(), s.view.text());
        // Control codes typed with Ctrl are for the port, not the transcript.
        s.keys({{Qt::Key_End, ctrl}, {Qt::Key_B, ctrl}, {Qt::Key_Escape, none}});
        QCOMPARE(s.view.text(), QStringLiteral("AZ\nb"));

        // Up and down keep the column.
        ShownView lines;
        lines.view.appendText(u"abcdefgh\nab\nabcdefgh");
        lines.view.setCaretPosition(6);
        lines.keys({{Qt::Key_Down, none}});
        QCOMPARE(lines.view.caretPosition(), 11); // end of the short line
        lines.keys({{Qt::Key_Down, none}});
        QCOMPARE(lines.view.caretPosition(), 18);
        lines.keys({{Qt::Key_PageUp, none}});
        QCOMPARE(lines.view.caretPosition(), 6);
    }

    void copyCutAndPasteUseTheClipboard()
    {
        ShownView s;
        QClipboard *clipboard = QGuiApplication::clipboard();
        s.view.appendText(u"hello world\nsecond");
        s.view.setSelection(6, 11);
        s.keys({{Qt::Key_C, ctrl}});
        QCOMPARE(clipboard->text(), QStringLiteral("world"));
        clipboard->clear();
        s.keys({{Qt::Key_Insert, ctrl}});
        QCOMPARE(clipboard->text(), QStringLiteral("world"));
        s.view.setCaretPosition(s.view.textLength());
        s.keys({{Qt::Key_V, ctrl}, {Qt::Key_Insert, shift}});
        QCOMPARE(s.view.text(), QStringLiteral("hello world\nsecondworldworld"));
        clipboard->setText(QStringLiteral("a\r\nb\rc"));
        s.keys({{Qt::Key_V, ctrl}});
        QCOMPARE(s.view.text(), QStringLiteral("hello world\nsecondworldworlda\nb\nc"));
        s.view.setSelection(0, 6);
        s.keys({{Qt::Key_X, ctrl}});
        QCOMPARE(clipboard->text(), QStringLiteral("hello "));
        QVERIFY(s.view.text().startsWith(u"world\n"));
        s.keys({{Qt::Key_A, ctrl}});
        QCOMPARE(s.view.selectedText(), s.view.text());
    }

    void undoAndRedoTakeBackTheUsersEdits()
    {
        ShownView s;
        s.view.appendText(u"OK\n");
        s.view.setCaretPosition(3);
        QTest::keyClicks(&s.view, u"ATZ"_qs);
        s.keys({{Qt::Key_Backspace, none}, {Qt::Key_Backspace, none}});
        s.view.appendText(u"\nRING"); // received text is not the user's to undo
        s.keys({{Qt::Key_Z, ctrl}}); // both Backspaces
        QCOMPARE(s.view.text(), QStringLiteral("OK\nATZ\nRING"));
        s.keys({{Qt::Key_Z, ctrl}}); // the typed word
        QCOMPARE(s.view.text(), QStringLiteral("OK\n\nRING"));
        QVERIFY(!s.view.isUndoAvailable());
        s.keys({{Qt::Key_Y, ctrl}, {Qt::Key_Z, ctrl | shift}});
        QCOMPARE(s.view.text(), QStringLiteral("OK\nA\nRING"));
        QCOMPARE(s.view.caretPosition(), 4);
        QVERIFY(!s.view.isRedoAvailable());
        // A new edit after an undo drops what could be redone.
        s.keys({{Qt::Key_Z, ctrl}});
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
        const auto anywhere = [&] { return qsizetype(rng.bounded(int(s.view.textLength()) + 1)); };
        for (int step = 0; step < 300; ++step) {
            switch (rng.bounded(6)) {
            case 0: {
                const QString chunk = QStringLiteral("rx%1\n").arg(step);
                s.view.appendText(chunk);
                received += chunk;
                break;
            }
            case 1:
                s.view.setCaretPosition(anywhere());
                break;
            case 2:
                s.view.setSelection(anywhere(), anywhere());
                break;
            case 3:
                QTest::keyClicks(&s.view, u"ab"_qs.left(1 + int(rng.bounded(2))));
                break;
            case 4:
                s.keys({{rng.bounded(2) ? Qt::Key_Backspace : Qt::Key_Delete, rng.bounded(4) ? none : ctrl}});
                break;
            default:
                QGuiApplication::clipboard()->setText(u"p\r\nq"_qs);
                s.keys({rng.bounded(2) ? std::pair(Qt::Key_Return, none) : std::pair(Qt::Key_V, ctrl)});
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

    void screenReadersAndTheContextMenu()
    {
        ShownView s;
        QGuiApplication::clipboard()->clear();
        s.view.appendText(u"OK\nRING");
        std::unique_ptr<QMenu> menu(s.view.createStandardContextMenu());
        QStringList enabled;
        for (QAction *a : menu->actions()) {
            if (!a->isSeparator() && a->isEnabled())
                enabled << a->text().section(u'\t', 0, 0);
        }
        QCOMPARE(enabled, QStringList{u"Zaznacz &wszystko"_qs});

        s.view.setSelection(1, 4);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(&s.view);
        QVERIFY(a && a->textInterface());
        QCOMPARE(a->role(), QAccessible::EditableText);
        QAccessibleTextInterface *t = a->textInterface();
        QCOMPARE(t->characterCount(), 7);
        QCOMPARE(t->text(3, 7), QStringLiteral("RING"));
        QCOMPARE(t->cursorPosition(), 4);
        int start = -1, end = -1;
        t->selection(0, &start, &end);
        QCOMPARE(std::pair(start, end), std::pair(1, 4));
        const QRect r = t->characterRect(3);
        QCOMPARE(t->offsetAtPoint(QPoint(r.left() + 1, r.center().y())), 3);

        menu.reset(s.view.createStandardContextMenu());
        const auto actions = menu->actions();
        const auto copy = std::find_if(actions.begin(), actions.end(),
                                       [](QAction *a) { return a->text().startsWith(u"&Kopiuj"); });
        QVERIFY(copy != actions.end() && (*copy)->isEnabled());
        (*copy)->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("K\nR"));
    }

    // Selection and undo follow the text that stays (the transcript's own
    // limits are in tst_transcript).
    void textLeavesFromTheTopAndPositionsFollow()
    {
        ShownView s(5);
        s.view.appendText(u"l0\nl1\nl2\nl3\n");
        s.view.setSelection(4, 7); // "1\nl"
        s.keys({{Qt::Key_End, ctrl}});
        QTest::keyClicks(&s.view, u"typed"_qs);
        s.view.setSelection(4, 7);
        s.view.appendText(u"l4\nl5\n"); // l0 and l1 leave
        QCOMPARE(s.view.text(), QStringLiteral("l2\nl3\ntypedl4\nl5\n"));
        QCOMPARE(s.view.lineCount(), 5);
        QCOMPARE(s.view.selectionStart(), 0); // the part that left is gone
        QCOMPARE(s.view.selectedText(), QStringLiteral("l"));
        // The undo step lies after the text that left, so it still applies.
        s.keys({{Qt::Key_Z, ctrl}});
        QCOMPARE(s.view.text(), QStringLiteral("l2\nl3\nl4\nl5\n"));
        // A step inside text that left cannot be undone any more.
        s.view.setCaretPosition(0);
        QTest::keyClicks(&s.view, u"x"_qs);
        s.view.appendText(u"l6\n");
        s.keys({{Qt::Key_Z, ctrl}});
        QCOMPARE(s.view.text(), QStringLiteral("l3\nl4\nl5\nl6\n"));
        QVERIFY(!s.view.isUndoAvailable());
    }

    void caretAtTheEndScrollsWithTheText()
    {
        ShownView s;
        for (int i = 0; i < 200; ++i) {
            s.view.appendText(QStringLiteral("line %1\n").arg(i));
            s.view.setCaretPosition(s.view.textLength());
        }
        QVERIFY(s.view.viewport()->rect().contains(s.view.caretRect()));
        QTRY_COMPARE(s.view.verticalScrollBar()->maximum(), 201 - s.view.visibleLineCount());
        QCOMPARE(s.view.verticalScrollBar()->value(), s.view.verticalScrollBar()->maximum());
    }

    // The end of a 200,000-character line, then its start.
    void longLineScrollsSideways()
    {
        ShownView s;
        QString chunk;
        for (int i = 0; i < 1000; ++i)
            chunk += QChar(char16_t(u'A' + i % 26));
        for (int i = 0; i < 200; ++i)
            s.view.appendText(chunk);
        s.view.setCaretPosition(s.view.textLength());
        const QRect area = s.view.viewport()->rect();
        QVERIFY(area.contains(s.view.caretRect()));
        QVERIFY(area.contains(s.view.positionRect(s.view.textLength() - 1)));
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
        for (qsizetype p = 0; p <= s.view.textLength(); ++p)
            QCOMPARE(s.view.positionAt(centreOf(s.view.positionRect(p))), p);
        // Beyond a line's end maps to its end; above the text to its first line.
        QCOMPARE(s.view.positionAt(QPoint(250, s.view.positionRect(0).center().y())), 5);
        QCOMPARE(s.view.positionAt(QPoint(250, -20)), 5);
        QCOMPARE(s.view.positionAt(QPoint(0, 190)), s.view.text().lastIndexOf(u'\n') + 1);

        // The mouse selects by dragging, extends with Shift, takes a word on a double click.
        QWidget *vp = s.view.viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, centreOf(s.view.positionRect(1)));
        QTest::mouseMove(vp, centreOf(s.view.positionRect(10)));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, centreOf(s.view.positionRect(10)));
        QCOMPARE(s.view.selectedText(), QStringLiteral("irst\n\tsec"));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, centreOf(s.view.positionRect(4)));
        QCOMPARE(s.view.selectedText(), QStringLiteral("irs"));
        QTest::mouseDClick(vp, Qt::LeftButton, {}, centreOf(s.view.positionRect(9)));
        QCOMPARE(s.view.selectedText(), QStringLiteral("second"));
    }
};

QTEST_MAIN(TestTerminalView)
#include "tst_terminalview.moc"
