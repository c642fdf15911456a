// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <QTest>

// A text edited as the view edits the transcript, each edit recorded, then
// made, with a history of at most 3 steps and 12 characters.
struct EditedText
{
    EditHistory history{3, 12};
    QString text;

    void edit(qsizetype at, qsizetype length, const QString &with)
    {
        history.record(at, QStringView(text).mid(at, length), with, EditHistory::Kind::Other);
        text.replace(at, length, with);
    }
    // Undoes n times what the history answers: the text after each, "-"
    // where there was nothing to undo.
    QStringList undo(int n)
    {
        QStringList texts;
        while (n--) {
            const auto r = history.undo(0, text.size());
            texts << (r ? text.replace(r->position, r->length, r->text) : u"-"_qs);
        }
        return texts;
    }
};

// The edit history's bounds, here small. (How edits make steps, undo and
// redo are taken through the view in tst_terminalview.)
class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boundedByStepsAndCharacters()
    {
        EditedText t;
        for (const QString &word : {u"one "_qs, u"two "_qs, u"three "_qs, u"four"_qs})
            t.edit(t.text.size(), 0, word);
        // At most 12 characters: "two three four" held as steps would be 14.
        QCOMPARE(t.undo(3), (QStringList{"one two three ", "one two ", "-"}));
        t.edit(0, 8, u"a much longer line"_qs); // over the bound: not kept, nor what came before
        QCOMPARE(t.undo(1), QStringList{"-"});
        for (int i = 0; i < 4; ++i) // at most 3 steps
            t.edit(0, 0, u"x"_qs);
        QCOMPARE(t.undo(4).mid(2), (QStringList{"xa much longer line", "-"}));
    }
};

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
