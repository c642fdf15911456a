// SPDX-License-Identifier: MIT
#include "transcript.h"

#include "receivedecoder.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>

namespace {

// Advances that differ per character, so a wrong offset shows as a wrong width.
qreal advanceOf(char32_t c)
{
    return 1 + (c % 5) * 0.25;
}

// The width of a line (without tabs) measured from scratch.
qreal widthOf(QStringView line)
{
    qreal w = 0;
    for (const QChar c : line)
        w += advanceOf(c.unicode());
    return w;
}

// A line end now and then, any byte but a tab (whose stops count from where
// a line began before its start left) or a line feed (so that without line
// ends lines grow long enough to carry checkpoints).
QByteArray randomBytes(QRandomGenerator &rng, int maxLength, int newlinePercent)
{
    QByteArray b;
    for (int i = rng.bounded(maxLength + 1); i > 0; --i) {
        const char c = rng.bounded(256);
        b += rng.bounded(100) < newlinePercent ? "\r\n" : QByteArray(1, c == '\t' || c == '\n' ? ' ' : c);
    }
    return b;
}

} // namespace

class TestTranscript : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Random appends (typed and received), inserts and removals against a
    // plain string, with limits small enough that text keeps leaving from
    // the top: the text, every line's start and width, the widest kept line's
    // width, x and positionAtX at a sample point of each line, and the
    // absolute numbering of what is kept.
    void randomEditsMatchAModel()
    {
        // The line and character limits, how often a line break comes (none: one
        // long line, edited in place, its checkpoints trimmed with it).
        for (const auto &[maxLines, maxChars, newlinePercent] :
             {std::tuple(20, 100000, 10), {1000, 700, 3}, {6, 3000, 0}, {100, 5000, 0}}) {
            QRandomGenerator rng(maxLines * 7 + maxChars);
            Transcript t; // the limits come after a few steps, and apply at once
            t.setAdvanceFunction(advanceOf, 8);
            QString model;
            ReceiveDecoder decoder;
            qint64 dropped = 0, droppedLines = 0;
            for (int step = 0; step < 400; ++step) {
                const int op = rng.bounded(100);
                const bool append = op >= 40; // else an insert or a removal
                const int at = rng.bounded(int(model.size()) + 1);
                if (append && op % 3 == 0) {
                    QByteArray stored;
                    decoder.decode(randomBytes(rng, 997, newlinePercent), stored);
                    t.appendBytes(stored);
                    ReceiveDecoder::appendShown(stored, model);
                } else if (append || op < 20) {
                    // Text as typed: what random bytes show, and a character the code page has no byte for.
                    const QString s = ReceiveDecoder().decode(randomBytes(rng, append ? 997 : 30, newlinePercent)) + u'ж';
                    append ? t.append(s) : t.insert(at, s);
                    model.insert(append ? model.size() : at, s);
                } else {
                    const int n = rng.bounded(int(model.size()) - at + 1);
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
                QCOMPARE(t.text(), model);
                QCOMPARE(t.origin(), dropped);
                QCOMPARE(t.firstLineNumber(), droppedLines);
                const QStringList lines = model.split(u'\n');
                qsizetype start = 0, i = 0;
                qreal maxWidth = 0;
                for (const QString &line : lines) {
                    QCOMPARE(t.lineStart(i), start);
                    QCOMPARE(t.lineWidth(i), widthOf(line));
                    maxWidth = std::max(maxWidth, widthOf(line));
                    // Up to the line break, which belongs to the line it ends.
                    const qsizetype p = start + rng.bounded(int(line.size()) + 1);
                    QCOMPARE(t.x(p), widthOf(line.left(p - start)));
                    QCOMPARE(t.positionAtX(i, t.x(p)), p);
                    QCOMPARE(t.lineAt(p), i++);
                    start += line.size() + 1;
                }
                QCOMPARE(t.lineCount(), i);
                QCOMPARE(t.maxLineWidth(), std::ceil(maxWidth));
            }
        }
    }

    // Tabs go to the next stop (here every 9, not the default 8); a surrogate
    // pair is one character, and positions never fall inside it.
    void tabsAndSurrogatePairs()
    {
        Transcript t;
        t.setAdvanceFunction([](char32_t c) { return c > 0xFFFF ? 10.0 : advanceOf(c); }, 9);
        t.append(u"a\t😀b\t\tc");
        QCOMPARE(t.x(4), 19.0);
        QCOMPARE(t.x(7), 36.0);
        // At 7 the nearest position, and the last one at most 7; a pair's start is nearer 11, its end 15.
        QCOMPARE(t.positionAtX(0, 7), 2);
        QCOMPARE(t.positionAtX(0, 7, true), 1);
        QCOMPARE(t.positionAtX(0, 11), 2);
        QCOMPARE(t.positionAtX(0, 15), 4);
    }
};

QTEST_APPLESS_MAIN(TestTranscript)
#include "tst_transcript.moc"
