// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringView>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// The transcript's text, indexed by line, with the pixel width of every line.
//
// Text is kept one byte a character, each byte standing for the character it
// shows as (CodePage::shownAs), in chunks of chunkSize bytes; a character no
// byte shows (typed or pasted outside the code page) is marked with
// CodePage::keptBeside and kept, with its position, beside the bytes. Lines
// are offsets into the text. Text that leaves from the top frees whole chunks
// and lines from the front, so appending costs what the appended text costs
// and trimming what is trimmed.
//
// Positions are relative (0 is the first character kept) and count UTF-16
// units, as QString does. Every kept character also has an absolute position
// that does not change when text leaves from the top or is appended; origin()
// converts. Edits shift the absolute positions after them like relative ones.
//
// Widths add up per character (the view draws without kerning or shaping), so
// a line's width grows with each append, and long lines keep the width at
// every checkpointStride characters: the x of any position, or the position at
// any x, costs a search and at most a stride of characters. How many lines
// have each width is kept as lines come and go, so the widest is at hand.
class Transcript
{
public:
    static constexpr qsizetype defaultMaxLines = 100'000;
    static constexpr qsizetype defaultMaxChars = 16'000'000;
    static constexpr qsizetype checkpointStride = 1024;

    // Advance of one character (a whole surrogate pair counts as one).
    using AdvanceFunction = std::function<qreal(char32_t)>;

    explicit Transcript(qsizetype maxLines = defaultMaxLines,
                        qsizetype maxChars = defaultMaxChars);
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    // Takes effect at once: text over the new limits leaves from the top.
    void setLimits(qsizetype maxLines, qsizetype maxChars);
    qsizetype maxLines() const { return m_maxLines; }
    qsizetype maxChars() const { return m_maxChars; }

    // Without a function every character is 1 wide. Widths are recomputed.
    void setAdvanceFunction(AdvanceFunction advance, qreal tabStop);

    qsizetype size() const { return qsizetype(m_end - m_origin); }
    qsizetype lineCount() const { return qsizetype(m_lines.size()); }
    QString text() const { return text(0, size()); }
    QString text(qsizetype from, qsizetype to) const;
    QChar at(qsizetype position) const { return charAt(m_origin + position); }
    // Whether [from, to) holds only characters that a byte of the code page shows.
    bool inCodePage(qsizetype from, qsizetype to) const;

    qsizetype lineAt(qsizetype position) const;
    qsizetype lineStart(qsizetype line) const { return qsizetype(m_lines[size_t(line)].start - m_origin); }
    qsizetype lineEnd(qsizetype line) const { return qsizetype(lineEndAbs(size_t(line)) - m_origin); }
    QString lineText(qsizetype line) const { return text(lineStart(line), lineEnd(line)); }

    // Absolute position of relative position 0 and absolute number of line 0;
    // both only grow, as text leaves from the top.
    qint64 origin() const { return m_origin; }
    qint64 firstLineNumber() const { return m_firstLineNumber; }

    // Appends at the end; '\n' breaks lines. Then enforces the limits.
    void append(QStringView text);
    // The same for text already in the transcript's form, one byte a
    // character (ReceiveDecoder), which costs no conversion.
    void appendBytes(QByteArrayView stored);
    // Edits anywhere; positions are clamped to the text. Then enforces the limits.
    void insert(qsizetype position, QStringView text);
    void remove(qsizetype position, qsizetype count);

    qreal lineWidth(qsizetype line) const;
    // The widest line's width, rounded up to a whole pixel: enough for a
    // scroll range, and it keeps the count of widths small.
    qreal maxLineWidth() const;
    // x of `position` from the start of its line.
    qreal x(qsizetype position) const;
    // The position in `line` whose x is nearest to `x`, or, with `floor`, the
    // last one whose x is at most `x`.
    qsizetype positionAtX(qsizetype line, qreal x, bool floor = false) const;

    // Characters that actually left from the top since construction.
    qint64 droppedChars() const { return m_origin; }

private:
    static constexpr int chunkBits = 16;
    static constexpr qint64 chunkSize = qint64(1) << chunkBits;

    struct Checkpoints
    {
        qint64 origin = 0;      // absolute position of w[first]
        size_t first = 0;       // w[0..first) left with the text before them
        std::vector<double> w;  // w[first + k]: W at origin + k * stride
        double startW = 0;      // W at the line's start, once its beginning has left
    };
    // W is a line's running width, measured from where its checkpoints (or,
    // without checkpoints, the line) begin. Most lines are short and have
    // none, so a line record is three words.
    struct Line
    {
        qint64 start = 0;          // absolute
        double endW = 0;           // W at the line's end
        std::unique_ptr<Checkpoints> cps;
        double startW() const { return cps ? cps->startW : 0; }
        double width() const { return endW - startW(); }
    };

    qint64 lineEndAbs(size_t index) const
    {
        return index + 1 < m_lines.size() ? m_lines[index + 1].start - 1 : m_end;
    }
    uchar byteAt(qint64 absolute) const
    {
        return m_chunks[size_t((absolute >> chunkBits) - m_firstChunk)][absolute & (chunkSize - 1)];
    }
    QChar charAt(qint64 absolute) const;
    QChar besideAt(qint64 absolute) const;
    // Calls f(bytes, count, absolute) for the stored runs of [from, to).
    template <typename F>
    void forRuns(qint64 from, qint64 to, F f) const;
    // Makes room for [from, to) and calls f(bytes, count, absolute) for its runs.
    template <typename F>
    void writeRuns(qint64 from, qint64 to, F f);
    // Stores `text` at `at` (the store then ends there, the lines unchanged).
    void store(qint64 at, QStringView text);
    void truncateStore(qint64 at);
    void releaseFront();
    // Lines for the text stored at [m_end, newEnd), appended.
    void appendStored(qint64 newEnd);

    size_t lineIndexAt(qint64 absolute) const;
    // W after the characters [from, to) of one line, starting with `w` at `from`.
    double advanceOver(qint64 from, qint64 to, double w) const;
    double slowAdvance(uchar b, qint64 absolute, double w) const;
    double wAt(const Line &line, qint64 absolute) const;
    // Recomputes line `index` from `absolute` to its end, keeping checkpoints before.
    void remeasureFrom(size_t index, qint64 absolute);
    void extendLastLine(qint64 from);
    void enforceLimits();
    void dropLeadingLines(size_t count);
    void cutFirstLine(qint64 newStart);
    // The width count holds every line but the last, which keeps growing.
    void countWidth(size_t index, int delta);

    qsizetype m_maxLines;
    qsizetype m_maxChars;

    std::deque<std::unique_ptr<uchar[]>> m_chunks; // m_chunks[0] holds absolute m_firstChunk << chunkBits
    qint64 m_firstChunk = 0;
    std::unique_ptr<uchar[]> m_spareChunk;
    std::map<qint64, char16_t> m_beside; // absolute position: character no byte shows
    qint64 m_origin = 0;
    qint64 m_end = 0;

    std::deque<Line> m_lines;
    qint64 m_firstLineNumber = 0;
    std::map<qint64, qsizetype> m_widthCounts; // lines but the last, by rounded-up width

    AdvanceFunction m_advance;
    qreal m_tabStop = 8;
    mutable std::array<float, 256> m_advanceTable; // NaN: not measured yet or special
    mutable QHash<char32_t, double> m_besideAdvances;
};
