// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <QTest>

using Kind = EditHistory::Kind;

// A text edited as the view edits the transcript: each edit is recorded, then made.
struct EditedText
{
    EditHistory history;
    QString text;

    void edit(qsizetype at, qsizetype length, const QString &with, Kind kind = Kind::Other)
    {
        history.record(at, QStringView(text).mid(at, length), with, kind);
        text.replace(at, length, with);
    }
    // Undoes ('u') and redoes ('r') what the history answers: the text after
    // each, "-" where there was nothing to do.
    QStringList steps(QStringView ops)
    {
        QStringList texts;
        for (const QChar op : ops) {
            const auto r = op == u'r' ? history.redo(0, text.size()) : history.undo(0, text.size());
            texts << (r ? text.replace(r->position, r->length, r->text) : u"-"_qs);
        }
        return texts;
    }
};

// The edit history on its own, without a view: redo, and its bounds. (Runs
// of typing, Backspace and Delete as steps, and steps in text that has left
// from the top, are taken back in tst_terminalview.)
class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A redone step does not grow with the typing after it, and a new edit
    // forgets what could be redone.
    void redoneStepsStayAsTheyWere()
    {
        EditedText t;
        t.edit(0, 0, u"A"_qs, Kind::Typing);
        t.steps(u"ur");
        t.edit(1, 0, u"B"_qs, Kind::Typing);
        QCOMPARE(t.steps(u"u"), QStringList{"A"});
        t.edit(1, 0, u"C"_qs, Kind::Typing);
        QCOMPARE(t.steps(u"ru"), (QStringList{"-", "A"}));
    }

    void boundedByStepsAndCharacters()
    {
        EditedText t;
        t.history = EditHistory(3, 12); // at most 3 steps and 12 characters
        for (const QString &word : {u"one "_qs, u"two "_qs, u"three "_qs, u"four"_qs})
            t.edit(t.text.size(), 0, word);
        // At most 12 characters: "two three four" held as steps would be 14.
        QCOMPARE(t.steps(u"uuu"), (QStringList{"one two three ", "one two ", "-"}));
        t.edit(0, 8, u"a much longer line"_qs); // over the bound: not kept, nor what came before
        QCOMPARE(t.steps(u"ur"), QStringList(2, u"-"_qs));
        for (int i = 0; i < 4; ++i) // at most 3 steps
            t.edit(0, 0, u"x"_qs);
        QCOMPARE(t.steps(u"uuuu").mid(2), (QStringList{"xa much longer line", "-"}));
    }
};

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
