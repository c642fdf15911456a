// SPDX-License-Identifier: MIT
#include "transcript.h"

#include "codepage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr qsizetype stride = Transcript::checkpointStride;
constexpr float unmeasured = std::numeric_limits<float>::quiet_NaN();
// Below this many dead checkpoints compacting is not worth a pass.
constexpr size_t minDeadCheckpoints = 1024;

} // namespace

Transcript::Transcript(qsizetype maxLines, qsizetype maxChars)
    : m_maxLines(std::max<qsizetype>(1, maxLines))
    , m_maxChars(std::max<qsizetype>(1, maxChars))
{
    m_advanceTable.fill(unmeasured);
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
    m_advanceTable.fill(unmeasured);
    m_besideAdvances.clear();
    m_widthCounts.clear();
    for (size_t i = 0; i < m_lines.size(); ++i) {
        Line &l = m_lines[i];
        l.cps.reset();
        remeasureFrom(i, l.start);
        countWidth(i, 1);
    }
}

// ---- the store ----------------------------------------------------------

template <typename F>
void Transcript::forRuns(qint64 from, qint64 to, F f) const
{
    while (from < to) {
        const qint64 offset = from & (chunkSize - 1);
        const qint64 n = std::min(to - from, chunkSize - offset);
        f(m_chunks[size_t((from >> chunkBits) - m_firstChunk)].get() + offset, n, from);
        from += n;
    }
}

template <typename F>
void Transcript::writeRuns(qint64 from, qint64 to, F f)
{
    if (from >= to)
        return;
    if (m_chunks.empty())
        m_firstChunk = from >> chunkBits;
    while (m_firstChunk + qint64(m_chunks.size()) <= (to - 1) >> chunkBits) {
        if (m_spareChunk)
            m_chunks.push_back(std::move(m_spareChunk));
        else
            m_chunks.push_back(std::make_unique_for_overwrite<uchar[]>(size_t(chunkSize)));
    }
    while (from < to) {
        const qint64 offset = from & (chunkSize - 1);
        const qint64 n = std::min(to - from, chunkSize - offset);
        f(m_chunks[size_t((from >> chunkBits) - m_firstChunk)].get() + offset, n, from);
        from += n;
    }
}

QChar Transcript::besideAt(qint64 absolute) const
{
    const auto it = m_beside.find(absolute);
    return it == m_beside.end() ? QChar(u'\uFFFD') : QChar(it->second);
}

QChar Transcript::charAt(qint64 absolute) const
{
    const uchar b = byteAt(absolute);
    return b == CodePage::keptBeside ? besideAt(absolute) : CodePage::shownAs(b);
}

void Transcript::store(qint64 at, QStringView text)
{
    const QChar *src = text.data();
    writeRuns(at, at + text.size(), [&](uchar *dst, qint64 n, qint64 absolute) {
        for (qint64 i = 0; i < n; ++i) {
            const QChar c = *src++;
            // Printable ASCII is its own byte.
            const int b = c.unicode() - 0x20u < 0x5Fu ? int(c.unicode()) : CodePage::byteShowing(c);
            if (b < 0) {
                m_beside[absolute + i] = c.unicode();
                dst[i] = CodePage::keptBeside;
            } else {
                dst[i] = uchar(b);
            }
        }
    });
}

void Transcript::truncateStore(qint64 at)
{
    while (!m_chunks.empty() && (m_firstChunk + qint64(m_chunks.size()) - 1) << chunkBits >= at)
        m_chunks.pop_back();
    m_beside.erase(m_beside.lower_bound(at), m_beside.end());
}

void Transcript::releaseFront()
{
    while (!m_chunks.empty() && (m_firstChunk + 1) << chunkBits <= m_origin) {
        m_spareChunk = std::move(m_chunks.front());
        m_chunks.pop_front();
        ++m_firstChunk;
    }
    m_beside.erase(m_beside.begin(), m_beside.lower_bound(m_origin));
}

bool Transcript::inCodePage(qsizetype from, qsizetype to) const
{
    const auto it = m_beside.lower_bound(m_origin + from);
    return it == m_beside.end() || it->first >= m_origin + to;
}

QString Transcript::text(qsizetype from, qsizetype to) const
{
    from = std::clamp<qsizetype>(from, 0, size());
    to = std::clamp<qsizetype>(to, from, size());
    QString out(to - from, Qt::Uninitialized);
    QChar *dst = out.data();
    forRuns(m_origin + from, m_origin + to, [&](const uchar *p, qint64 n, qint64 absolute) {
        for (qint64 i = 0; i < n; ++i)
            *dst++ = p[i] == CodePage::keptBeside ? besideAt(absolute + i) : CodePage::shownAs(p[i]);
    });
    return out;
}

// ---- lines and widths ---------------------------------------------------------

size_t Transcript::lineIndexAt(qint64 absolute) const
{
    if (absolute >= m_lines.back().start)
        return m_lines.size() - 1;
    const auto it = std::upper_bound(m_lines.begin(), m_lines.end(), absolute,
                                     [](qint64 a, const Line &l) { return a < l.start; });
    return it == m_lines.begin() ? 0 : size_t(it - m_lines.begin()) - 1;
}

qsizetype Transcript::lineAt(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    return qsizetype(lineIndexAt(m_origin + position));
}

void Transcript::countWidth(size_t index, int delta)
{
    if (index + 1 >= m_lines.size())
        return;
    const qint64 w = qint64(std::ceil(m_lines[index].width()));
    if (delta > 0) {
        ++m_widthCounts[w];
    } else if (const auto it = m_widthCounts.find(w); it != m_widthCounts.end() && --it->second == 0) {
        m_widthCounts.erase(it);
    }
}

double Transcript::slowAdvance(uchar b, qint64 absolute, double w) const
{
    if (b == '\t')
        return (std::floor(w / m_tabStop + 1e-9) + 1) * m_tabStop;
    if (b == '\n')
        return w;
    if (b == CodePage::keptBeside) {
        const QChar c = besideAt(absolute);
        if (c.isHighSurrogate())
            return w; // a pair's width goes with its second half
        char32_t ucs = c.unicode();
        if (c.isLowSurrogate()) {
            const auto before = m_beside.find(absolute - 1);
            if (before != m_beside.end() && QChar::isHighSurrogate(before->second))
                ucs = QChar::surrogateToUcs4(before->second, c.unicode());
        }
        auto it = m_besideAdvances.constFind(ucs);
        if (it == m_besideAdvances.cend())
            it = m_besideAdvances.insert(ucs, m_advance ? std::max<qreal>(0, m_advance(ucs)) : 1.0);
        return w + *it;
    }
    float a = m_advance ? float(m_advance(CodePage::shownAs(b).unicode())) : 1.0f;
    if (!(a >= 0))
        a = 0;
    m_advanceTable[b] = a;
    return w + a;
}

double Transcript::advanceOver(qint64 from, qint64 to, double w) const
{
    const float *const table = m_advanceTable.data();
    forRuns(from, to, [&](const uchar *begin, qint64 n, qint64 absolute) {
        const uchar *p = begin;
        const uchar *const e = begin + n;
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
            w = a >= 0 ? w + a : slowAdvance(*p, absolute + (p - begin), w);
            ++p;
        }
    });
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
        w = line.startW();
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
        l.endW = advanceOver(l.start, end, 0);
        return;
    }
    if (!l.cps) {
        l.cps = std::make_unique<Checkpoints>();
        l.cps->origin = l.start;
        l.cps->w.push_back(0);
        absolute = l.start;
    }
    Checkpoints &c = *l.cps;
    const qint64 k = std::min((absolute - c.origin) / stride, qint64(c.w.size() - c.first) - 1);
    c.w.resize(c.first + size_t(k) + 1);
    qint64 base = c.origin + k * stride;
    double w = c.w.back();
    if (base <= l.start) {
        base = l.start;
        w = l.startW();
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
        return;
    }
    Checkpoints &c = *l.cps;
    double w = l.endW;
    qint64 base = from;
    for (qint64 next = c.origin + qint64(c.w.size() - c.first) * stride; next <= m_end; next += stride) {
        w = advanceOver(base, next, w);
        c.w.push_back(w);
        base = next;
    }
    l.endW = advanceOver(base, m_end, w);
}

// ---- appending and editing ------------------------------------------------------

void Transcript::appendStored(qint64 newEnd)
{
    qint64 from = m_end;
    while (true) {
        qint64 nl = newEnd;
        forRuns(from, newEnd, [&](const uchar *p, qint64 n, qint64 absolute) {
            if (nl != newEnd)
                return;
            if (const void *hit = std::memchr(p, '\n', size_t(n)))
                nl = absolute + (static_cast<const uchar *>(hit) - p);
        });
        m_end = nl;
        if (m_end > from)
            extendLastLine(from);
        if (nl == newEnd)
            break;
        ++m_end; // the line break itself
        Line next;
        next.start = m_end;
        m_lines.push_back(std::move(next));
        countWidth(m_lines.size() - 2, 1);
        from = m_end;
    }
    enforceLimits();
}

void Transcript::append(QStringView text)
{
    if (text.isEmpty())
        return;
    store(m_end, text);
    appendStored(m_end + text.size());
}

void Transcript::appendBytes(QByteArrayView stored)
{
    if (stored.isEmpty())
        return;
    const char *src = stored.data();
    writeRuns(m_end, m_end + stored.size(), [&](uchar *dst, qint64 n, qint64) {
        std::memcpy(dst, src, size_t(n));
        src += n;
    });
    appendStored(m_end + stored.size());
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
    // The text after `at` moves along by n.
    std::vector<uchar> tail;
    tail.reserve(size_t(m_end - at));
    forRuns(at, m_end, [&](const uchar *p, qint64 count, qint64) { tail.insert(tail.end(), p, p + count); });
    std::map<qint64, char16_t> moved(m_beside.lower_bound(at), m_beside.end());
    truncateStore(at);
    store(at, text);
    const uchar *src = tail.data();
    writeRuns(at + n, m_end + n, [&](uchar *dst, qint64 count, qint64) {
        std::memcpy(dst, src, size_t(count));
        src += count;
    });
    for (const auto &[where, c] : moved)
        m_beside.emplace_hint(m_beside.end(), where + n, c);
    m_end += n;

    const size_t index = lineIndexAt(at);
    countWidth(index, -1);
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
    for (size_t i = index; i <= index + broken.size(); ++i)
        countWidth(i, 1);
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
    std::vector<uchar> tail;
    tail.reserve(size_t(m_end - to));
    forRuns(to, m_end, [&](const uchar *p, qint64 n, qint64) { tail.insert(tail.end(), p, p + n); });
    std::map<qint64, char16_t> moved(m_beside.lower_bound(to), m_beside.end());
    truncateStore(from);
    const uchar *src = tail.data();
    writeRuns(from, m_end - count, [&](uchar *dst, qint64 n, qint64) {
        std::memcpy(dst, src, size_t(n));
        src += n;
    });
    for (const auto &[where, c] : moved)
        m_beside.emplace_hint(m_beside.end(), where - count, c);
    m_end -= count;

    for (size_t i = first; i <= last; ++i)
        countWidth(i, -1);
    m_lines.erase(m_lines.begin() + qsizetype(first) + 1, m_lines.begin() + qsizetype(last) + 1);
    for (size_t i = first + 1; i < m_lines.size(); ++i) {
        m_lines[i].start -= count;
        if (m_lines[i].cps)
            m_lines[i].cps->origin -= count;
    }
    remeasureFrom(first, from);
    countWidth(first, 1);
}

// ---- the limits ---------------------------------------------------------------

void Transcript::dropLeadingLines(size_t count)
{
    for (size_t i = 0; i < count; ++i)
        countWidth(i, -1);
    m_lines.erase(m_lines.begin(), m_lines.begin() + qsizetype(count));
    m_firstLineNumber += qint64(count);
    m_origin = m_lines.front().start;
}

void Transcript::cutFirstLine(qint64 newStart)
{
    countWidth(0, -1);
    Line &l = m_lines.front();
    if (!l.cps) {
        l.start = newStart;
        l.endW = advanceOver(newStart, lineEndAbs(0), 0);
    } else {
        l.cps->startW = wAt(l, newStart);
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
    countWidth(0, 1);
}

void Transcript::enforceLimits()
{
    if (lineCount() > m_maxLines)
        dropLeadingLines(size_t(lineCount() - m_maxLines));
    if (size() > m_maxChars) {
        const qint64 newOrigin = m_end - m_maxChars;
        const size_t index = lineIndexAt(newOrigin);
        if (index > 0)
            dropLeadingLines(index);
        if (newOrigin > m_lines.front().start)
            cutFirstLine(newOrigin);
        m_origin = newOrigin;
    }
    releaseFront();
}

// ---- geometry ------------------------------------------------------------------

qreal Transcript::lineWidth(qsizetype line) const
{
    return m_lines[size_t(line)].width();
}

qreal Transcript::maxLineWidth() const
{
    const qreal last = std::ceil(m_lines.back().width());
    return m_widthCounts.empty() ? last : std::max(last, qreal(m_widthCounts.rbegin()->first));
}

qreal Transcript::x(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, size());
    const qint64 at = m_origin + position;
    const Line &l = m_lines[lineIndexAt(at)];
    return wAt(l, at) - l.startW();
}

qsizetype Transcript::positionAtX(qsizetype line, qreal x, bool floor) const
{
    const size_t index = size_t(line);
    const Line &l = m_lines[index];
    const qint64 end = lineEndAbs(index);
    const double target = l.startW() + x;
    qint64 pos = l.start;
    double w = l.startW();
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
        const uchar b = byteAt(pos);
        const float a = table[b];
        const double next = a >= 0 ? w + a : slowAdvance(b, pos, w);
        if (next > target) {
            if (!floor && target - w > next - target)
                ++pos;
            break;
        }
        w = next;
    }
    // Never between the halves of a surrogate pair.
    if (pos > l.start && pos < end && charAt(pos).isLowSurrogate() && charAt(pos - 1).isHighSurrogate())
        --pos;
    return qsizetype(pos - m_origin);
}
