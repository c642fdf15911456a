// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

using Kind = EditHistory::Kind;

// A text with a caret, edited the way the view edits the transcript: each
// edit is recorded, and undo or redo applies what the history answers.
// `origin` is the absolute position of text[0]; leave() drops text from the top.
struct Doc
{
    explicit Doc(const QString &initial = {}, qsizetype maxSteps = EditHistory::defaultMaxSteps,
                 qsizetype maxChars = EditHistory::defaultMaxChars)
        : history(maxSteps, maxChars), text(initial), caret(initial.size())
    {
    }

    void edit(qsizetype from, qsizetype to, const QString &with, Kind kind = Kind::Other)
    {
        history.record(origin + from, QStringView(text).sliced(from, to - from), with, kind);
        text.replace(from, to - from, with);
        caret = from + with.size();
    }
    void type(const QString &s) { edit(caret, caret, s, Kind::Typing); }
    void backspace() { edit(caret - 1, caret, {}, Kind::Deleting); }
    void del() { edit(caret, caret + 1, {}, Kind::Deleting); }
    void leave(qsizetype n)
    {
        text.remove(0, n);
        origin += n;
        caret = std::max<qsizetype>(0, caret - n);
    }
    bool undo() { return apply(history.undo(origin, origin + text.size())); }
    bool redo() { return apply(history.redo(origin, origin + text.size())); }
    bool apply(const std::optional<EditHistory::Replacement> &r)
    {
        if (r) {
            text.replace(qsizetype(r->position - origin), r->length, r->text);
            caret = qsizetype(r->position - origin) + r->text.size();
        }
        return r.has_value();
    }
    // The texts that successive undos leave, until none is left.
    QStringList undoAll()
    {
        QStringList texts;
        while (undo())
            texts << text;
        return texts;
    }

    EditHistory history;
    QString text;
    qint64 origin = 0;
    qsizetype caret = 0;
};

} // namespace

class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A run of typing is one step, and so is a run of Backspace or of Delete;
    // typing elsewhere, or over a selection, starts a new one.
    void runsOfTypingAndDeletingAreOneStepEach()
    {
        Doc d(u"OK\n"_qs);
        for (const QChar c : u"ATZ"_qs)
            d.type(c);
        d.backspace();
        d.backspace();
        d.caret = 0;
        d.del();
        d.del();
        d.type(u"x"_qs);
        d.caret = d.text.size();
        d.type(u"y"_qs);
        d.edit(0, 1, u"Q"_qs, Kind::Typing);
        d.type(u"R"_qs);
        QCOMPARE(d.text, u"QR\nAy"_qs);
        QCOMPARE(d.undoAll(), (QStringList{u"x\nAy"_qs, u"x\nA"_qs, u"\nA"_qs, u"OK\nA"_qs, u"OK\nATZ"_qs, u"OK\n"_qs}));
        QCOMPARE(d.caret, 3);
    }

    // A redone step stays as it was; a new edit forgets what could be redone.
    void redoneStepsDoNotGrow()
    {
        Doc d;
        d.type(u"a"_qs);
        d.type(u"b"_qs);
        QVERIFY(d.undo() && !d.history.canUndo());
        QVERIFY(d.redo() && !d.history.canRedo());
        QCOMPARE(d.text, u"ab"_qs);
        d.type(u"c"_qs);
        QVERIFY(d.undo());
        QCOMPARE(d.text, u"ab"_qs);
        d.type(u"d"_qs);
        QVERIFY(!d.history.canRedo());
        QCOMPARE(d.undoAll(), (QStringList{u"ab"_qs, QString()}));
    }

    // Steps after the text that left still apply; one inside it cannot be
    // undone, nor can anything before it.
    void stepsInTextThatLeftAreDropped()
    {
        Doc d(u"l0\nl1\n"_qs);
        d.caret = 0;
        d.type(u"x"_qs);
        d.caret = 4;
        d.type(u"y"_qs);
        d.caret = d.text.size();
        d.type(u"z"_qs);
        d.leave(4); // "xl0\n"
        QCOMPARE(d.text, u"yl1\nz"_qs);
        QCOMPARE(d.undoAll(), (QStringList{u"yl1\n"_qs, u"l1\n"_qs}));
        QVERIFY(!d.history.canUndo());
        QVERIFY(d.redo() && d.redo());
        QCOMPARE(d.text, u"yl1\nz"_qs);
    }

    // The history holds at most so many steps and characters (undo and redo
    // together); the oldest steps go first, and a step over the bound goes
    // with all before it. The steps kept still undo and redo correctly.
    void oldestStepsGoFirst_data()
    {
        QTest::addColumn<int>("maxSteps");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QList<int>>("edits"); // n > 0: paste n characters, n < 0: delete -n
        QTest::addColumn<int>("undoable");
        QTest::newRow("steps") << 3 << 100 << QList{10, 10, 10, 10, 10} << 3;
        QTest::newRow("characters") << 1000 << 25 << QList{10, 10, 10, 10, 10} << 2;
        QTest::newRow("deleted characters count") << 1000 << 25 << QList{20, -20} << 1;
        QTest::newRow("a step over the bound") << 1000 << 25 << QList{10, 10, 30} << 0;
        QTest::newRow("and the steps after it") << 1000 << 25 << QList{10, 30, 5, 5} << 2;
    }

    void oldestStepsGoFirst()
    {
        QFETCH(int, maxSteps);
        QFETCH(int, maxChars);
        QFETCH(QList<int>, edits);
        QFETCH(int, undoable);
        Doc d({}, maxSteps, maxChars);
        QStringList texts{d.text};
        for (const int n : edits) {
            if (n > 0)
                d.edit(d.caret, d.caret, QString(n, QChar(char16_t(u'a' + texts.size()))));
            else
                d.edit(d.caret + n, d.caret, {});
            texts << d.text;
            QVERIFY(d.history.heldChars() <= maxChars);
        }
        QStringList undone;
        for (int i = 1; i <= undoable; ++i)
            undone << texts[texts.size() - 1 - i];
        QCOMPARE(d.undoAll(), undone);
        QVERIFY(d.history.heldChars() <= maxChars);
        while (d.redo()) {
        }
        QCOMPARE(d.text, texts.last());
    }

    // Whatever the user did between receives, undoing all of it leaves exactly
    // the received text, and redoing all of it brings the edits back.
    void undoingEveryEditLeavesTheReceivedText()
    {
        QRandomGenerator rng(42);
        Doc d;
        QString received;
        const auto anywhere = [&] { return qsizetype(rng.bounded(int(d.text.size()) + 1)); };
        for (int step = 0; step < 2000; ++step) {
            switch (rng.bounded(8)) {
            case 0: {
                const QString chunk = QStringLiteral("rx%1\n").arg(step);
                d.text += chunk;
                received += chunk;
                break;
            }
            case 1:
                d.caret = anywhere();
                break;
            case 2:
                d.type(u"ab"_qs.left(1 + int(rng.bounded(2))));
                break;
            case 3:
                if (d.caret > 0)
                    d.backspace();
                break;
            case 4:
                if (d.caret < d.text.size())
                    d.del();
                break;
            case 5: {
                const qsizetype a = anywhere(), b = anywhere();
                d.edit(std::min(a, b), std::max(a, b), rng.bounded(2) ? u"p\nq"_qs : QString());
                break;
            }
            case 6:
                d.undo();
                break;
            default:
                d.redo();
                break;
            }
        }
        const QString edited = d.text;
        QVERIFY(edited != received);
        d.undoAll();
        QCOMPARE(d.text, received);
        while (d.redo()) {
        }
        QCOMPARE(d.text, edited);
    }
};

QTEST_APPLESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
