// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <QTest>

namespace {

using Kind = EditHistory::Kind;

// A text edited the way the view edits the transcript: each edit is recorded
// before it is made, and undo and redo apply what the history answers.
// `origin` is the absolute position of text[0].
struct Doc
{
    EditHistory history;
    QString text;
    qsizetype caret = text.size();
    qint64 origin = 0;

    void edit(qsizetype from, qsizetype to, const QString &with, Kind kind)
    {
        history.record(origin + from, QStringView(text).sliced(from, to - from), with, kind);
        text.replace(from, to - from, with);
        caret = from + with.size();
    }
    bool undo(bool redo = false)
    {
        const auto r = redo ? history.redo(origin, origin + text.size()) : history.undo(origin, origin + text.size());
        if (r) {
            text.replace(qsizetype(r->position - origin), r->length, r->text);
            caret = qsizetype(r->position - origin) + r->text.size();
        }
        return r.has_value();
    }
    bool redo() { return undo(true); }

    // One step of a script: a capital letter or '\n' is typed at the caret,
    // '<' is Backspace, '>' Delete, '^' and '$' move the caret to the start or
    // the end; a digit n pastes n characters, 'k' deletes all before the
    // caret; 'u' undoes, 'r' redoes; '-' lets the first line leave from the top.
    void run(QChar op)
    {
        if (op.isUpper() || op == u'\n')
            edit(caret, caret, op, Kind::Typing);
        else if (op == u'<' && caret > 0)
            edit(caret - 1, caret, {}, Kind::Deleting);
        else if (op == u'>' && caret < text.size())
            edit(caret, caret + 1, {}, Kind::Deleting);
        else if (op.isDigit())
            edit(caret, caret, QString(op.digitValue(), u'p'), Kind::Other);
        else if (op == u'k')
            edit(0, caret, {}, Kind::Other);
        else if (op == u'u' || op == u'r')
            undo(op == u'r');
        else if (op == u'-') {
            const qsizetype n = text.indexOf(u'\n') + 1;
            text.remove(0, n);
            origin += n;
            caret = std::max<qsizetype>(0, caret - n);
        } else {
            caret = op == u'^' ? 0 : text.size();
        }
    }
};

} // namespace

class TestEditHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What successive undos take back after a script: a run of typing is one
    // step, and so is a run of Backspace or of Delete; a redone step does not
    // grow; a step in text that left cannot be undone, nor any before it. The
    // history holds at most so many steps and characters (removed and
    // inserted, undo and redo together), the oldest going first; a step over
    // the bound goes, and all before it.
    void scriptsUndoStepByStep_data()
    {
        QTest::addColumn<QString>("initial");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("maxSteps");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<QStringList>("undone");
        const auto p = [](int n) { return QString(n, u'p'); };
        QTest::newRow("typing, Backspace and Delete runs")
            << "OK\n" << "ATZ<<^>>X$Y" << 1000 << 1000 << QStringList{"X\nA", "\nA", "OK\nA", "OK\nATZ", "OK\n"};
        QTest::newRow("a redone step does not grow") << "" << "ABurC" << 1000 << 1000 << QStringList{"AB", ""};
        QTest::newRow("a new edit forgets redo") << "" << "ABuC" << 1000 << 1000 << QStringList{""};
        QTest::newRow("steps in text that left") << "l0\nl1\n" << "$Y^X-$Z" << 1000 << 1000 << QStringList{"l1\nY"};
        QTest::newRow("at most so many steps") << "" << "11111" << 3 << 1000 << QStringList{p(4), p(3), p(2)};
        QTest::newRow("at most so many characters") << "" << "22222" << 1000 << 5 << QStringList{p(8), p(6)};
        QTest::newRow("deleted text counts") << "" << "3k" << 1000 << 5 << QStringList{p(3)};
        QTest::newRow("a step over the bound") << "" << "11611" << 1000 << 5 << QStringList{p(9), p(8)};
        QTest::newRow("a typing run over the bound") << "" << "ABCDEFG" << 1000 << 5 << QStringList{"ABCDEF"};
    }

    void scriptsUndoStepByStep()
    {
        QFETCH(QString, initial);
        QFETCH(QString, script);
        QFETCH(int, maxSteps);
        QFETCH(int, maxChars);
        QFETCH(QStringList, undone);
        Doc d{EditHistory(maxSteps, maxChars), initial};
        for (const QChar op : script) {
            d.run(op);
            QVERIFY(d.history.heldChars() <= maxChars);
        }
        const QString edited = d.text;
        QStringList texts;
        while (d.undo())
            texts << d.text;
        QCOMPARE(texts, undone);
        QVERIFY(!d.history.canUndo());
        while (d.redo()) {
        }
        QCOMPARE(d.text, edited);
    }
};

QTEST_APPLESS_MAIN(TestEditHistory)
#include "tst_edithistory.moc"
