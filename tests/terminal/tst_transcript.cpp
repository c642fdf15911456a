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
    // small enough that text keeps leaving from the top.
    void randomEditsMatchAModel_data()
    {
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("maxChars");
        QTest::addColumn<int>("newlinePercent");
        QTest::addColumn<int>("editPercent");
        QTest::newRow("short lines, line limit") << 20 << 100000 << 10 << 40;
        QTest::newRow("character limit") << 1000 << 700 << 3 << 40;
        QTest::newRow("long lines, both limits") << 6 << 3000 << 0 << 40;
        QTest::newRow("endless line, appends only") << 100 << 5000 << 0 << 0;
    }

    void randomEditsMatchAModel()
    {
        QFETCH(int, maxLines);
        QFETCH(int, maxChars);
        QFETCH(int, newlinePercent);
        QFETCH(int, editPercent);
        QRandomGenerator rng(quint32(maxLines * 7 + maxChars));
        Transcript t(maxLines, maxChars);
        t.setAdvanceFunction(advanceOf, tabStop);
        QString model;
        qint64 dropped = 0;
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
            const qsizetype before = model.size();
            while (model.count(u'\n') >= maxLines)
                model.remove(0, model.indexOf(u'\n') + 1);
            if (model.size() > maxChars)
                model.remove(0, model.size() - maxChars);
            dropped += before - model.size();
            verifyAgainst(t, model, rng);
            QCOMPARE(t.droppedChars(), dropped);
            if (QTest::currentTestFailed())
                return void(qWarning() << "after step" << step << "operation" << op);
        }
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

    void tabsAndSurrogatePairs()
    {
        Transcript t;
        t.setAdvanceFunction([](char32_t c) { return c > 0xFFFF ? 10.0 : advanceOf(c); }, tabStop);
        t.append(u"a\tb\t\tc\n");
        QCOMPARE(t.x(5), 24.0);
        QCOMPARE(t.positionAtX(0, 7.0), 2);
        QCOMPARE(t.positionAtX(0, 7.0, /*floor*/ true), 1);

        t.append(QString::fromUtf8("a\xF0\x9F\x98\x80" "b"));
        QCOMPARE(t.size(), 7 + 4);
        QCOMPARE(t.x(10), advanceOf(u'a') + 10);
        QCOMPARE(t.positionAtX(1, 4.0), 8);  // nearer the pair's start
        QCOMPARE(t.positionAtX(1, 9.0), 10); // nearer its end, never its middle
    }

    // x and positionAtX anywhere in a line of 4 million characters agree with
    // a plain running sum.
    void longLineLookupsUseCheckpoints()
    {
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
