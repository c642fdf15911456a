// SPDX-License-Identifier: MIT
#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <vector>

// The transcript's text, indexed by line, with the pixel width of every line.
//
// Text lives in one buffer; lines are offsets into it. Text that leaves from
// the top (the line and character limits) only moves a start offset, and the
// buffer is compacted when enough of it is dead, so appending costs what the
// appended text costs.
//
// Positions are relative (0 is the first character kept). Every kept character
// also has an absolute position that does not change when text leaves from the
// top or is appended; origin() converts. Edits shift the absolute positions
// after them like relative ones.
//
// Widths add up per character (the view draws without kerning or shaping), so
// a line's width grows with each append, and long lines keep the width at
// every checkpointStride characters: the x of any position, or the position at
// any x, costs a search and at most a stride of characters.
class Transcript
{
public:
    static constexpr qsizetype defaultMaxLines = 100'000;
    static constexpr qsizetype defaultMaxChars = 16'000'000;
    static constexpr qsizetype checkpointStride = 256;

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
    qsizetype lineCount() const { return qsizetype(m_lines.size() - m_firstLine); }
    QString text() const { return view(0, size()).toString(); }
    QStringView view(qsizetype from, qsizetype to) const;
    QChar at(qsizetype position) const { return QChar(*bufAt(m_origin + position)); }

    qsizetype lineAt(qsizetype position) const;
    qsizetype lineStart(qsizetype line) const { return qsizetype(line_(line).start - m_origin); }
    qsizetype lineEnd(qsizetype line) const { return qsizetype(lineEndAbs(m_firstLine + line) - m_origin); }
    QStringView lineText(qsizetype line) const { return view(lineStart(line), lineEnd(line)); }

    // Absolute position of relative position 0 and absolute number of line 0;
    // both only grow, as text leaves from the top.
    qint64 origin() const { return m_origin; }
    qint64 firstLineNumber() const { return m_firstLineNumber; }

    // Appends at the end; '\n' breaks lines. Then enforces the limits.
    void append(QStringView text);
    // Edits anywhere; positions are clamped to the text. Then enforces the limits.
    void insert(qsizetype position, QStringView text);
    void remove(qsizetype position, qsizetype count);

    qreal lineWidth(qsizetype line) const;
    qreal maxLineWidth() const;
    // x of `position` from the start of its line.
    qreal x(qsizetype position) const;
    // The position in `line` whose x is nearest to `x`, or, with `floor`, the
    // last one whose x is at most `x`.
    qsizetype positionAtX(qsizetype line, qreal x, bool floor = false) const;

    // Characters that actually left from the top since construction.
    qint64 droppedChars() const { return m_origin - m_initialOrigin; }

private:
    struct Checkpoints
    {
        qint64 origin = 0;      // absolute position of w[first]
        size_t first = 0;       // w[0..first) left with the text before them
        std::vector<double> w;  // w[first + k]: W at origin + k * stride
    };
    // W is a line's running width, measured from where its checkpoints (or,
    // without checkpoints, the line) begin.
    struct Line
    {
        qint64 start = 0;          // absolute
        double startW = 0;         // W at start
        double endW = 0;           // W at the line's end
        std::unique_ptr<Checkpoints> cps;
    };

    const Line &line_(qsizetype line) const { return m_lines[size_t(m_firstLine + line)]; }
    qint64 lineEndAbs(size_t index) const
    {
        return index + 1 < m_lines.size() ? m_lines[index + 1].start - 1 : m_end;
    }
    qsizetype bufIndex(qint64 absolute) const { return qsizetype(absolute - m_bufOrigin); }
    const char16_t *bufAt(qint64 absolute) const { return m_buf.get() + bufIndex(absolute); }

    size_t lineIndexAt(qint64 absolute) const;
    // W after the characters [from, to) of one line, starting with `w` at `from`.
    double advanceOver(qint64 from, qint64 to, double w) const;
    double slowAdvance(char16_t c, qint64 absolute, double w) const;
    double wAt(const Line &line, qint64 absolute) const;
    // Recomputes line `index` from `absolute` to its end, keeping checkpoints before.
    void remeasureFrom(size_t index, qint64 absolute);
    void extendLastLine(qint64 from);
    void makeRoom(qsizetype count);
    void enforceLimits();
    void dropLeadingLines(size_t count);
    void cutFirstLine(qint64 newStart);
    void compactLines();
    void invalidateMax(double width);

    qsizetype m_maxLines;
    qsizetype m_maxChars;

    struct FreeDeleter
    {
        void operator()(char16_t *p) const;
    };
    // realloc()ed, so growing a large buffer remaps pages instead of copying
    std::unique_ptr<char16_t[], FreeDeleter> m_buf; // m_buf[0] is absolute m_bufOrigin
    qsizetype m_capacity = 0;
    qint64 m_bufOrigin = 0;
    qint64 m_origin = 0;
    qint64 m_end = 0;
    qint64 m_initialOrigin = 0;

    std::vector<Line> m_lines; // m_lines[m_firstLine] is line 0
    size_t m_firstLine = 0;
    qint64 m_firstLineNumber = 0;

    AdvanceFunction m_advance;
    qreal m_tabStop = 8;
    mutable std::vector<float> m_advanceTable; // NaN: not measured yet or special
    mutable QHash<char32_t, double> m_wideAdvances;
    mutable double m_maxWidth = 0;
    mutable bool m_maxValid = true;
};
