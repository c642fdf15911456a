// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <QTest>

// A text edited as the view edits the transcript: each edit is recorded, then
// made; undo and redo make what the history answers.
struct EditedText
{
    EditHistory history;
    QString text;

    void edit(qsizetype at, qsizetype length, const QString &with, EditHistory::Kind kind = EditHistory::Kind::Other)
    {
        history.record(at, QStringView(text).mid(at, length), with, kind);
        text.replace(at, length, with);
    }
    void type(const QString &chars) { edit(text.size(), 0, chars, EditHistory::Kind::Typing); }
    bool undo(qint64 keptFrom = 0) { return make(history.undo(keptFrom, text.size())); }
    bool redo() { return make(history.redo(0, text.size())); }
    bool make(const std::optional<EditHistory::Replacement> &r)
    {
        if (r)
            text.replace(r->position, r->length, r->text);
        return r.has_value();
    }
};

// The edit history on its own, without a view: how edits make steps, and its bounds.
class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stepsAsInATextArea()
    {
        EditedText t;
        for (const QString &c : {u"A"_qs, u"T"_qs, u"Z"_qs})
            t.type(c);
        for (const qsizetype at : {2, 1}) // Backspace twice
            t.edit(at, 1, {}, EditHistory::Kind::Deleting);
        t.type(u"X"_qs);
        t.edit(0, 1, {}, EditHistory::Kind::Deleting); // Delete twice at one place
        t.edit(0, 1, {}, EditHistory::Kind::Deleting);
        QCOMPARE(t.text, QString());
        QVERIFY(t.undo() && t.text == u"AX"_qs && t.undo() && t.text == u"A"_qs);
        QVERIFY(t.redo() && t.text == u"AX"_qs);
        t.type(u"Y"_qs); // a redone step does not grow, a new edit forgets redo
        QVERIFY(!t.history.canRedo() && t.undo() && t.text == u"AX"_qs && t.undo() && t.text == u"A"_qs);
        QVERIFY(t.undo() && t.text == u"ATZ"_qs && t.undo() && t.text.isEmpty() && !t.undo());
    }

    void boundedByStepsAndCharacters()
    {
        EditedText t;
        t.history = EditHistory(3, 12); // at most 3 steps and 12 characters
        for (const QString &word : {u"one "_qs, u"two "_qs, u"three "_qs, u"four"_qs})
            t.edit(t.text.size(), 0, word);
        // At most 12 characters: "two three four" held as steps would be 14.
        QVERIFY(t.history.heldChars() <= 12);
        QVERIFY(t.undo() && t.undo() && !t.undo());
        QCOMPARE(t.text, u"one two "_qs);
        t.edit(0, 8, u"a much longer line"_qs); // over the bound: not kept, nor what came before
        QVERIFY(!t.history.canUndo() && !t.history.canRedo() && t.history.heldChars() == 0);
        for (int i = 0; i < 4; ++i) // at most 3 steps
            t.edit(0, 0, u"x"_qs);
        QVERIFY(t.undo() && t.undo() && t.undo() && !t.undo());
    }

    // A step in text that has left from the top cannot be taken back, nor any before it.
    void stepsInTextThatLeftAreDropped()
    {
        EditedText t;
        t.type(u"ab"_qs);
        t.edit(2, 0, u"c"_qs);
        QVERIFY(!t.undo(3) && !t.history.canUndo() && t.text == u"abc"_qs); // "ab" has left
    }
};

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
