// SPDX-License-Identifier: MIT
#include "transcript.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr qsizetype stride = Transcript::checkpointStride;
constexpr float unmeasured = std::numeric_limits<float>::quiet_NaN();
// Below this many dead entries compacting is not worth a pass.
constexpr size_t minDeadLines = 4096;
constexpr size_t minDeadCheckpoints = 1024;

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

} // namespace

void Transcript::FreeDeleter::operator()(char16_t *p) const
{
    std::free(p);
}

Transcript::Transcript(qsizetype maxLines, qsizetype maxChars)
    : m_maxLines(std::max<qsizetype>(1, maxLines))
    , m_maxChars(std::max<qsizetype>(1, maxChars))
    , m_advanceTable(0x10000, unmeasured)
{
    m_lines.emplace_back();
}

Transcript::~Transcript() = default;

void Transcript::setLimits(qsizetype maxLines, qsizetype maxChars)
{
    m_maxLines = std::max<qsizetype>(1, maxLines);
    m_maxChars = std::max<qsizetype>(1, maxChars);
    enforceLimits();
}

void Transcript::setAdvanceFunction(AdvanceFunction advance, qreal tabStop)
{
    m_advance = std::move(advance);
    m_tabStop = tabStop > 0 ? tabStop : 8;
    std::fill(m_advanceTable.begin(), m_advanceTable.end(), unmeasured);
    m_wideAdvances.clear();
    for (size_t i = m_firstLine; i < m_lines.size(); ++i) {
        Line &l = m_lines[i];
        l.cps.reset();
        l.startW = 0;
        remeasureFrom(i, l.start);
    }
    m_maxValid = false;
}

QStringView Transcript::view(qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, size());
    to = std::clamp<qsizetype>(to, from, size());
    return QStringView(bufAt(m_origin + from), to - from);
}

size_t Transcript::lineIndexAt(qint64 absolute) const
{
    if (absolute >= m_lines.back().start)
        return m_lines.size() - 1;
    const auto first = m_lines.begin() + qsizetype(m_firstLine);
    const auto it = std::upper_bound(first, m_lines.end(), absolute,
                                     [](qint64 a, const Line &l) { return a < l.start; });
    return it == first ? m_firstLine : size_t(it - m_lines.begin()) - 1;
}

qsizetype Transcript::lineAt(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    return qsizetype(lineIndexAt(m_origin + position) - m_firstLine);
}

double Transcript::slowAdvance(char16_t c, qint64 absolute, double w) const
{
    if (c == u'\t')
        return (std::floor(w / m_tabStop + 1e-9) + 1) * m_tabStop;
    if (c == u'\n' || isHighSurrogate(c))
        return w; // a pair's width goes with its second half
    if (isLowSurrogate(c) && absolute > m_bufOrigin && isHighSurrogate(*bufAt(absolute - 1))) {
        const char32_t ucs = QChar::surrogateToUcs4(*bufAt(absolute - 1), c);
        auto it = m_wideAdvances.constFind(ucs);
        if (it == m_wideAdvances.cend())
            it = m_wideAdvances.insert(ucs, m_advance ? std::max<qreal>(0, m_advance(ucs)) : 1.0);
        return w + *it;
    }
    float a = m_advance ? float(m_advance(c)) : 1.0f;
    if (!(a >= 0))
        a = 0;
    if (!isLowSurrogate(c))
        m_advanceTable[c] = a;
    return w + a;
}

double Transcript::advanceOver(qint64 from, qint64 to, double w) const
{
    const char16_t *const begin = bufAt(from);
    const char16_t *p = begin;
    const char16_t *const e = bufAt(to);
    const float *const table = m_advanceTable.data();
    while (p < e) {
        // Four running sums break the dependency on one accumulator. Font
        // advances are multiples of 1/64, so every order of adding is exact.
        double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (; e - p >= 4; p += 4) {
            const float a0 = table[p[0]], a1 = table[p[1]], a2 = table[p[2]], a3 = table[p[3]];
            if (!(a0 >= 0 && a1 >= 0 && a2 >= 0 && a3 >= 0))
                break;
            s0 += a0;
            s1 += a1;
            s2 += a2;
            s3 += a3;
        }
        w += (s0 + s1) + (s2 + s3);
        if (p == e)
            break;
        const float a = table[*p];
        w = a >= 0 ? w + a : slowAdvance(*p, from + (p - begin), w);
        ++p;
    }
    return w;
}

double Transcript::wAt(const Line &line, qint64 absolute) const
{
    if (!line.cps)
        return advanceOver(line.start, absolute, 0);
    const Checkpoints &c = *line.cps;
    const qint64 k = (absolute - c.origin) / stride;
    qint64 base = c.origin + k * stride;
    double w;
    if (base <= line.start) {
        base = line.start;
        w = line.startW;
    } else {
        w = c.w[c.first + size_t(k)];
    }
    return advanceOver(base, absolute, w);
}

void Transcript::remeasureFrom(size_t index, qint64 absolute)
{
    Line &l = m_lines[index];
    const qint64 end = lineEndAbs(index);
    if (!l.cps && end - l.start < stride) {
        l.startW = 0;
        l.endW = advanceOver(l.start, end, 0);
        return;
    }
    if (!l.cps) {
        l.cps = std::make_unique<Checkpoints>();
        l.cps->origin = l.start;
        l.cps->w.push_back(0);
        l.startW = 0;
        absolute = l.start;
    }
    Checkpoints &c = *l.cps;
    const qint64 k = std::min((absolute - c.origin) / stride, qint64(c.w.size() - c.first) - 1);
    c.w.resize(c.first + size_t(k) + 1);
    qint64 base = c.origin + k * stride;
    double w = c.w.back();
    if (base <= l.start) {
        base = l.start;
        w = l.startW;
    }
    for (qint64 next = c.origin + (k + 1) * stride; next <= end; next += stride) {
        w = advanceOver(base, next, w);
        c.w.push_back(w);
        base = next;
    }
    l.endW = advanceOver(base, end, w);
}

// The last line grew from `from` to m_end.
void Transcript::extendLastLine(qint64 from)
{
    const size_t index = m_lines.size() - 1;
    Line &l = m_lines[index];
    if (!l.cps) {
        if (m_end - l.start >= stride)
            remeasureFrom(index, l.start);
        else
            l.endW = advanceOver(from, m_end, l.endW);
    } else {
        Checkpoints &c = *l.cps;
        double w = l.endW;
        qint64 base = from;
        for (qint64 next = c.origin + qint64(c.w.size() - c.first) * stride; next <= m_end;
             next += stride) {
            w = advanceOver(base, next, w);
            c.w.push_back(w);
            base = next;
        }
        l.endW = advanceOver(base, m_end, w);
    }
    if (m_maxValid)
        m_maxWidth = std::max(m_maxWidth, l.endW - l.startW);
}

void Transcript::makeRoom(qsizetype count)
{
    qsizetype used = bufIndex(m_end);
    if (used + count <= m_capacity)
        return;
    const qsizetype dead = bufIndex(m_origin);
    if (dead > 0 && dead >= used / 4) {
        std::memmove(m_buf.get(), m_buf.get() + dead, size_t(used - dead) * sizeof(char16_t));
        m_bufOrigin = m_origin;
        used -= dead;
        if (used + count <= m_capacity)
            return;
    }
    // Room for the limit and half as much again, so dead text is compacted
    // after a third of the live text has been replaced.
    const qsizetype ceiling = m_maxChars + m_maxChars / 2;
    qsizetype want = std::max<qsizetype>({used + count, m_capacity + m_capacity / 2, 4096});
    if (want > ceiling)
        want = std::max(used + count, ceiling);
    auto *grown = static_cast<char16_t *>(std::realloc(m_buf.get(), size_t(want) * sizeof(char16_t)));
    if (!grown)
        throw std::bad_alloc();
    (void)m_buf.release();
    m_buf.reset(grown);
    m_capacity = want;
}

void Transcript::append(QStringView text)
{
    if (text.isEmpty())
        return;
    makeRoom(text.size());
    std::memcpy(m_buf.get() + bufIndex(m_end), text.utf16(), size_t(text.size()) * sizeof(char16_t));
    const char16_t *p = text.utf16();
    const char16_t *const e = p + text.size();
    qint64 from = m_end;
    while (true) {
        const char16_t *nl = std::find(p, e, u'\n');
        m_end = from + (nl - p);
        if (m_end > from)
            extendLastLine(from);
        if (nl == e)
            break;
        ++m_end; // the line break itself
        Line next;
        next.start = m_end;
        m_lines.push_back(std::move(next));
        from = m_end;
        p = nl + 1;
    }
    enforceLimits();
}

void Transcript::insert(qsizetype position, QStringView text)
{
    position = std::clamp<qsizetype>(position, 0, size());
    if (text.isEmpty())
        return;
    const qint64 at = m_origin + position;
    if (at == m_end) {
        append(text);
        return;
    }
    const qsizetype n = text.size();
    makeRoom(n);
    char16_t *dst = m_buf.get() + bufIndex(at);
    std::memmove(dst + n, dst, size_t(m_end - at) * sizeof(char16_t));
    std::memcpy(dst, text.utf16(), size_t(n) * sizeof(char16_t));
    m_end += n;

    const size_t index = lineIndexAt(at);
    for (size_t i = index + 1; i < m_lines.size(); ++i) {
        m_lines[i].start += n;
        if (m_lines[i].cps)
            m_lines[i].cps->origin += n;
    }
    std::vector<Line> broken;
    for (qsizetype i = 0; i < n; ++i) {
        if (text[i] == u'\n') {
            Line l;
            l.start = at + i + 1;
            broken.push_back(std::move(l));
        }
    }
    m_lines.insert(m_lines.begin() + qsizetype(index) + 1, std::make_move_iterator(broken.begin()),
                   std::make_move_iterator(broken.end()));
    remeasureFrom(index, at);
    for (size_t i = index + 1; i <= index + broken.size(); ++i)
        remeasureFrom(i, m_lines[i].start);
    m_maxValid = false;
    enforceLimits();
}

void Transcript::remove(qsizetype position, qsizetype count)
{
    position = std::clamp<qsizetype>(position, 0, size());
    count = std::clamp<qsizetype>(count, 0, size() - position);
    if (count == 0)
        return;
    const qint64 from = m_origin + position;
    const qint64 to = from + count;
    const size_t first = lineIndexAt(from);
    const size_t last = lineIndexAt(to);
    char16_t *dst = m_buf.get() + bufIndex(from);
    std::memmove(dst, dst + count, size_t(m_end - to) * sizeof(char16_t));
    m_end -= count;
    m_lines.erase(m_lines.begin() + qsizetype(first) + 1, m_lines.begin() + qsizetype(last) + 1);
    for (size_t i = first + 1; i < m_lines.size(); ++i) {
        m_lines[i].start -= count;
        if (m_lines[i].cps)
            m_lines[i].cps->origin -= count;
    }
    remeasureFrom(first, from);
    m_maxValid = false;
}

void Transcript::invalidateMax(double width)
{
    if (width >= m_maxWidth)
        m_maxValid = false;
}

void Transcript::dropLeadingLines(size_t count)
{
    for (size_t i = m_firstLine; i < m_firstLine + count; ++i) {
        invalidateMax(m_lines[i].endW - m_lines[i].startW);
        m_lines[i].cps.reset(); // the entry itself goes when enough have gone
    }
    m_firstLine += count;
    m_firstLineNumber += qint64(count);
    m_origin = m_lines[m_firstLine].start;
    compactLines();
}

void Transcript::cutFirstLine(qint64 newStart)
{
    Line &l = m_lines[m_firstLine];
    invalidateMax(l.endW - l.startW);
    if (!l.cps) {
        l.start = newStart;
        l.endW = advanceOver(newStart, lineEndAbs(m_firstLine), 0);
        return;
    }
    l.startW = wAt(l, newStart);
    l.start = newStart;
    Checkpoints &c = *l.cps;
    const qint64 k = (newStart - c.origin) / stride;
    c.first += size_t(k);
    c.origin += k * stride;
    if (c.first >= minDeadCheckpoints && c.first > c.w.size() / 2) {
        c.w.erase(c.w.begin(), c.w.begin() + qsizetype(c.first));
        c.first = 0;
    }
}

void Transcript::compactLines()
{
    if (m_firstLine >= minDeadLines && m_firstLine > m_lines.size() / 2) {
        m_lines.erase(m_lines.begin(), m_lines.begin() + qsizetype(m_firstLine));
        m_firstLine = 0;
    }
}

void Transcript::enforceLimits()
{
    if (lineCount() > m_maxLines)
        dropLeadingLines(size_t(lineCount() - m_maxLines));
    if (size() > m_maxChars) {
        const qint64 newOrigin = m_end - m_maxChars;
        const size_t index = lineIndexAt(newOrigin);
        if (index > m_firstLine)
            dropLeadingLines(index - m_firstLine);
        if (newOrigin > m_lines[m_firstLine].start)
            cutFirstLine(newOrigin);
        m_origin = newOrigin;
    }
}

qreal Transcript::lineWidth(qsizetype line) const
{
    const Line &l = line_(line);
    return l.endW - l.startW;
}

qreal Transcript::maxLineWidth() const
{
    if (!m_maxValid) {
        double w = 0;
        for (size_t i = m_firstLine; i < m_lines.size(); ++i)
            w = std::max(w, m_lines[i].endW - m_lines[i].startW);
        m_maxWidth = w;
        m_maxValid = true;
    }
    return m_maxWidth;
}

qreal Transcript::x(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    const qint64 at = m_origin + position;
    const Line &l = m_lines[lineIndexAt(at)];
    return wAt(l, at) - l.startW;
}

qsizetype Transcript::positionAtX(qsizetype line, qreal x, bool floor) const
{
    const size_t index = m_firstLine + size_t(line);
    const Line &l = m_lines[index];
    const qint64 end = lineEndAbs(index);
    const double target = l.startW + x;
    qint64 pos = l.start;
    double w = l.startW;
    if (x <= 0)
        return qsizetype(pos - m_origin);
    if (l.cps) {
        const Checkpoints &c = *l.cps;
        const auto first = c.w.begin() + qsizetype(c.first);
        const auto it = std::upper_bound(first, c.w.end(), target);
        if (it != first) {
            const qint64 k = (it - first) - 1;
            const qint64 cp = c.origin + k * stride;
            if (cp > l.start) {
                pos = cp;
                w = *(it - 1);
            }
        }
    }
    const float *const table = m_advanceTable.data();
    for (; pos < end; ++pos) {
        const char16_t ch = *bufAt(pos);
        const float a = table[ch];
        const double next = a >= 0 ? w + a : slowAdvance(ch, pos, w);
        if (next > target) {
            if (!floor && target - w > next - target)
                ++pos;
            break;
        }
        w = next;
    }
    // Never between the halves of a surrogate pair.
    if (pos > l.start && pos < end && isLowSurrogate(*bufAt(pos)) && isHighSurrogate(*bufAt(pos - 1)))
        --pos;
    return qsizetype(pos - m_origin);
}
