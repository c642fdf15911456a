// SPDX-License-Identifier: MIT
#include "transcript.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

namespace {

// Advances that differ per character, so a wrong offset shows as a wrong width.
qreal advanceOf(char32_t c)
{
    return 1 + (c % 5) * 0.25;
}

constexpr qreal tabStop = 8;

// The width of a line measured from scratch, the way the view draws it.
qreal widthOf(QStringView line)
{
    qreal w = 0;
    for (const QChar c : line)
        w = c == u'\t' ? (std::floor(w / tabStop + 1e-9) + 1) * tabStop : w + advanceOf(c.unicode());
    return w;
}

QString randomText(QRandomGenerator &rng, int maxLength, int newlinePercent)
{
    QString s;
    for (int i = int(rng.bounded(maxLength + 1)); i > 0; --i) {
        const int r = int(rng.bounded(100));
        s += r < newlinePercent ? QChar(u'\n') : QChar(char16_t(u'a' + r % 26));
    }
    return s;
}

// Every line's text, start and width, and x/positionAtX at sample points.
void verifyAgainst(const Transcript &t, const QString &model, QRandomGenerator &rng)
{
    QCOMPARE(t.text(), model);
    const QStringList lines = model.split(u'\n');
    QCOMPARE(t.lineCount(), lines.size());
    qsizetype start = 0;
    qreal maxWidth = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QCOMPARE(t.lineStart(i), start);
        QCOMPARE(t.lineText(i), lines[i]);
        QCOMPARE(t.lineWidth(i), widthOf(lines[i]));
        maxWidth = std::max(maxWidth, widthOf(lines[i]));
        for (int k = 0; k < 3 && !lines[i].isEmpty(); ++k) {
            // Up to the line break, which belongs to the line it ends.
            const qsizetype p = qsizetype(rng.bounded(int(lines[i].size()) + 1));
            QCOMPARE(t.lineAt(start + p), i);
            QCOMPARE(t.x(start + p), widthOf(QStringView(lines[i]).left(p)));
            QCOMPARE(t.positionAtX(i, t.x(start + p)), start + p);
        }
        start += lines[i].size() + 1;
    }
    QCOMPARE(t.maxLineWidth(), maxWidth);
}

} // namespace

class TestTranscript : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Random appends, inserts and removals against a plain string, with limits
    // small enough that text keeps leaving from the top: the text, its lines
    // and their widths, and the absolute numbering of what is kept.
    void randomEditsMatchAModel()
    {
        // The line and character limits, how often a line break comes, how often an edit is no append.
        for (const auto &[maxLines, maxChars, newlinePercent, editPercent] :
             {std::tuple(20, 100000, 10, 40), {1000, 700, 3, 40}, {6, 3000, 0, 40}, {100, 5000, 0, 0}}) {
            QRandomGenerator rng(quint32(maxLines * 7 + maxChars));
            Transcript t; // the limits come after a few steps, and apply at once
            t.setAdvanceFunction(advanceOf, tabStop);
            QString model;
            qint64 dropped = 0, droppedLines = 0;
            for (int step = 0; step < 400; ++step) {
                const int op = int(rng.bounded(100));
                const qsizetype at = qsizetype(rng.bounded(int(model.size()) + 1));
                if (op >= editPercent) {
                    const QString s = randomText(rng, 997, newlinePercent);
                    t.append(s);
                    model += s;
                } else if (op < editPercent / 2) {
                    const QString s = randomText(rng, 30, 20);
                    t.insert(at, s);
                    model.insert(at, s);
                } else {
                    const qsizetype n = qsizetype(rng.bounded(int(model.size() - at) + 1));
                    t.remove(at, n);
                    model.remove(at, n);
                }
                if (step == 5)
                    t.setLimits(maxLines, maxChars);
                qsizetype cut = 0;
                while (model.sliced(cut).count(u'\n') >= t.maxLines())
                    cut = model.indexOf(u'\n', cut) + 1;
                cut = std::max(cut, model.size() - t.maxChars());
                dropped += cut;
                droppedLines += model.left(cut).count(u'\n');
                model.remove(0, cut);
                verifyAgainst(t, model, rng);
                QCOMPARE(t.origin(), dropped);
                QCOMPARE(t.firstLineNumber(), droppedLines);
                if (QTest::currentTestFailed())
                    return void(qWarning() << "limits" << maxLines << maxChars << "step" << step << "operation" << op);
            }
        }
    }

    // Tabs go to the next stop; a surrogate pair is one character, and
    // positions never fall inside it.
    void tabsAndSurrogatePairs()
    {
        Transcript t;
        t.setAdvanceFunction([](char32_t c) { return c > 0xFFFF ? 10.0 : advanceOf(c); }, tabStop);
        t.append(QString::fromUtf8("a\t\xF0\x9F\x98\x80" "b\t\tc"));
        QCOMPARE(t.x(7), 32.0);
        QCOMPARE(t.positionAtX(0, 7.0), 2);
        QCOMPARE(t.positionAtX(0, 7.0, /*floor*/ true), 1);
        QCOMPARE(t.x(4), 18.0);
        QCOMPARE(t.positionAtX(0, 11.0), 2); // nearer the pair's start
        QCOMPARE(t.positionAtX(0, 15.0), 4); // nearer its end, never its middle
    }
};

QTEST_APPLESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
