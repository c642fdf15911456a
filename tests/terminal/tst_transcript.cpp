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
    for (const QChar c : line) {
        if (c == u'\t')
            w = (std::floor(w / tabStop + 1e-9) + 1) * tabStop;
        else
            w += advanceOf(c.unicode());
    }
    return w;
}

// What the transcript must hold: the text with the limits applied.
void applyLimits(QString &model, qsizetype maxLines, qsizetype maxChars)
{
    while (model.count(u'\n') + 1 > maxLines)
        model.remove(0, model.indexOf(u'\n') + 1);
    if (model.size() > maxChars)
        model.remove(0, model.size() - maxChars);
}

QString randomText(QRandomGenerator &rng, int maxLength, int newlinePercent)
{
    QString s;
    const int n = int(rng.bounded(maxLength + 1));
    for (int i = 0; i < n; ++i)
        s += int(rng.bounded(100)) < newlinePercent ? QChar(u'\n') : QChar(char16_t(u'a' + rng.bounded(26)));
    return s;
}

// Every line's text, start and width, and x/positionAtX at sample points.
void verifyAgainst(const Transcript &t, const QString &model, QRandomGenerator &rng)
{
    QCOMPARE(t.size(), model.size());
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
    void appendsAcrossChunksFormLines()
    {
        Transcript t;
        t.setAdvanceFunction(advanceOf, tabStop);
        for (const auto chunk : {u"AT", u"\nO", u"K", u"\n", u"", u"\n\nATI"})
            t.append(QStringView(chunk));
        QCOMPARE(t.text(), QStringLiteral("AT\nOK\n\n\nATI"));
        QCOMPARE(t.lineCount(), 5);
        QCOMPARE(t.lineText(1), u"OK");
        QCOMPARE(t.lineStart(4), 8);
        QCOMPARE(t.lineEnd(4), 11);
        QCOMPARE(t.lineAt(2), 0); // the line break belongs to the line it ends
        QCOMPARE(t.lineAt(3), 1);
        QCOMPARE(t.lineWidth(3), 0.0);
    }

    // Random appends, inserts and removals against a plain string, with limits
    // small enough that text keeps leaving from the top.
    void randomEditsMatchAModel_data()
    {
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<int>("newlinePercent");
        QTest::newRow("short lines, line limit") << 20 << 100000 << 10;
        QTest::newRow("character limit") << 1000 << 700 << 3;
        QTest::newRow("long lines, both limits") << 6 << 3000 << 0;
    }
    void randomEditsMatchAModel()
    {
        QFETCH(int, maxLines);
        QFETCH(int, maxChars);
        QFETCH(int, newlinePercent);
        QRandomGenerator rng(quint32(maxLines * 7 + maxChars));
        Transcript t(maxLines, maxChars);
        t.setAdvanceFunction(advanceOf, tabStop);
        QString model;
        for (int step = 0; step < 400; ++step) {
            const quint32 op = rng.bounded(10);
            if (op < 6) {
                const QString s = randomText(rng, 600, newlinePercent);
                t.append(s);
                model += s;
            } else if (op < 8) {
                const qsizetype at = qsizetype(rng.bounded(int(model.size()) + 1));
                const QString s = randomText(rng, 30, 20);
                t.insert(at, s);
                model.insert(at, s);
            } else {
                const qsizetype at = qsizetype(rng.bounded(int(model.size()) + 1));
                const qsizetype n = qsizetype(rng.bounded(int(model.size() - at) + 1));
                t.remove(at, n);
                model.remove(at, n);
            }
            applyLimits(model, maxLines, maxChars);
            verifyAgainst(t, model, rng);
            if (QTest::currentTestFailed()) {
                qWarning() << "after step" << step << "operation" << op;
                return;
            }
        }
    }

    void endlessLineLeavesFromItsStart()
    {
        QRandomGenerator rng(7);
        Transcript t(100, 5000);
        t.setAdvanceFunction(advanceOf, tabStop);
        QString all;
        while (all.size() < 200000) {
            const QString s = randomText(rng, 997, 0);
            t.append(s);
            all += s;
        }
        QCOMPARE(t.lineCount(), 1);
        QCOMPARE(t.text(), all.right(5000));
        QCOMPARE(t.droppedChars(), all.size() - 5000);
        verifyAgainst(t, all.right(5000), rng);
        // Absolute positions move on with the text.
        QCOMPARE(t.origin(), all.size() - 5000);
    }

    void positionsAreAbsoluteAcrossTrimming()
    {
        Transcript t(3, 1000);
        t.append(u"one\ntwo\nthree\n");
        QCOMPARE(t.text(), QStringLiteral("two\nthree\n"));
        QCOMPARE(t.firstLineNumber(), 1);
        QCOMPARE(t.origin(), 4);
        t.append(u"four");
        QCOMPARE(t.text(), QStringLiteral("two\nthree\nfour"));
        QCOMPARE(t.firstLineNumber(), 1);
        t.setLimits(1, 3);
        QCOMPARE(t.text(), QStringLiteral("our"));
        QCOMPARE(t.origin(), 15);
    }

    void tabsJumpToTheNextStop()
    {
        Transcript t;
        t.setAdvanceFunction(advanceOf, tabStop);
        t.append(u"a\tb\t\tc");
        QCOMPARE(t.x(2), 8.0);
        QCOMPARE(t.x(4), 16.0);
        QCOMPARE(t.x(5), 24.0);
        QCOMPARE(t.positionAtX(0, 7.0), 2);
        QCOMPARE(t.positionAtX(0, 7.0, true), 1);
    }

    void surrogatePairsAreOneCharacter()
    {
        Transcript t;
        t.setAdvanceFunction([](char32_t c) { return c > 0xFFFF ? 10.0 : 1.0; }, tabStop);
        t.append(QString::fromUtf8("a\xF0\x9F\x98\x80" "b"));
        QCOMPARE(t.size(), 4);
        QCOMPARE(t.x(3), 11.0);
        QCOMPARE(t.x(4), 12.0);
        QCOMPARE(t.positionAtX(0, 4.0), 1);  // nearer the pair's start
        QCOMPARE(t.positionAtX(0, 8.0), 3);  // nearer its end, never its middle
    }

    void longLineLookupsUseCheckpoints()
    {
        // A line of 4 million characters: x and positionAtX anywhere in it
        // must agree with a plain running sum.
        Transcript t(10, 8'000'000);
        t.setAdvanceFunction(advanceOf, tabStop);
        QString chunk;
        for (int i = 0; i < 4096; ++i)
            chunk += QChar(char16_t(u'a' + i % 26));
        for (int i = 0; i < 1000; ++i)
            t.append(chunk);
        const qreal perChunk = widthOf(chunk);
        QCOMPARE(t.lineWidth(0), perChunk * 1000);
        QCOMPARE(t.x(4096 * 500), perChunk * 500);
        QCOMPARE(t.positionAtX(0, perChunk * 700), 4096 * 700);
        QCOMPARE(t.positionAtX(0, t.lineWidth(0) + 50), t.size());
    }
};

QTEST_APPLESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
