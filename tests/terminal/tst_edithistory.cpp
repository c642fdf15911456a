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
    // Undoes ('u'), undoes once the first `gone` characters have left ('U'),
    // and redoes ('r') what the history answers: the text after each, "-"
    // where there was nothing to do.
    QStringList steps(QStringView ops, qint64 gone = 0)
    {
        QStringList texts;
        for (const QChar op : ops) {
            const auto r = op == u'r' ? history.redo(0, text.size()) : history.undo(op == u'U' ? gone : 0, text.size());
            texts << (r ? text.replace(r->position, r->length, r->text) : u"-"_qs);
        }
        return texts;
    }
};

// The edit history on its own, without a view: how edits make steps, and its bounds.
class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // After ">": typing "ATZ", Backspace twice, typing "X", Delete twice at one place.
    void stepsAsInATextArea()
    {
        EditedText t;
        t.edit(0, 0, u">"_qs);
        for (const auto &[at, length, with, kind] : {std::tuple(1, 0, "A", Kind::Typing), {2, 0, "T", Kind::Typing},
                 {3, 0, "Z", Kind::Typing}, {3, 1, "", Kind::Deleting}, {2, 1, "", Kind::Deleting},
                 {2, 0, "X", Kind::Typing}, {1, 1, "", Kind::Deleting}, {1, 1, "", Kind::Deleting}})
            t.edit(at, length, QString::fromUtf8(with), kind);
        QCOMPARE(t.steps(u"uur"), (QStringList{">AX", ">A", ">AX"}));
        t.edit(3, 0, u"Y"_qs, Kind::Typing); // a redone step does not grow, a new edit forgets redo
        QCOMPARE(t.steps(u"ruuu"), (QStringList{"-", ">AX", ">A", ">ATZ"}));
        // A step in text that has left from the top cannot be taken back, nor any before it.
        QCOMPARE(t.steps(u"Uu", 2), (QStringList{"-", "-"})); // ">A" has left
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
        QCOMPARE(t.history.heldChars(), 0);
        QCOMPARE(t.steps(u"ur"), QStringList(2, u"-"_qs));
        for (int i = 0; i < 4; ++i) // at most 3 steps
            t.edit(0, 0, u"x"_qs);
        QCOMPARE(t.steps(u"uuuu").mid(2), (QStringList{"xa much longer line", "-"}));
    }
};

QTEST_GUILESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
