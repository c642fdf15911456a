// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <QTest>

// The edit history's bounds, here small. (How edits make steps, undo and
// redo are taken through the view in tst_terminalview.)
class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void boundedByStepsAndCharacters()
    {
        EditHistory history(3, 12); // at most 3 steps and 12 characters
        QString text;
        // An insert recorded, then made, as the view edits the transcript.
        const auto edit = [&](qsizetype at, const QString &with) {
            history.record(at, {}, with, EditHistory::Kind::Other);
            text.insert(at, with);
        };
        // Undoes n times: the text after each and a '|', "-" where there was nothing to undo.
        const auto undo = [&](int n) {
            QString texts;
            while (n--) {
                const auto r = history.undo(0, text.size());
                texts += (r ? text.replace(r->position, r->length, r->text) : "-") + u'|';
            }
            return texts;
        };
        for (const char *word : {"one ", "two ", "three ", "four"})
            edit(text.size(), word);
        // At most 12 characters: "two three four" held as steps would be 14.
        QCOMPARE(undo(3), "one two three |one two |-|");
        for (QChar x : u"xxxx"_qs) // at most 3 steps
            edit(0, x);
        QCOMPARE(undo(4), "xxxone two |xxone two |xone two |-|");
    }
};

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
