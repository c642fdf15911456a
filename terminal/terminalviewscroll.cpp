// SPDX-License-Identifier: MIT
// The transcript view's scrolling, scroll bars and the pace of its frames.
#include "terminalview.h"
#include "terminalviewlayout.h"

#include "quietscrollbar.h"

#include <algorithm>
#include <cmath>

using namespace TerminalViewLayout;

// ---- scrolling and frames ----------------------------------------------------------

void TerminalView::scheduleFrame()
{
    if (m_frameTimer.isActive())
        return;
    const int pace = m_frameGapMs < quietMs ? streamingFrameMs : frameMs;
    m_frameTimer.start(int(std::clamp<qint64>(pace - m_sinceFrame.elapsed(), 0, pace)));
}

void TerminalView::showAll()
{
    m_showAll = true;
    viewport()->update();
}

// Paints at once rather than posting an update, which a busy event loop
// would deliver later still.
void TerminalView::frame()
{
    m_frameGapMs = m_sinceFrame.restart();
    syncScrollBars();
    QWidget *vp = viewport();
    const int width = vp->width();
    const int height = vp->height();
    const qint64 rows = height / m_lineHeight + 1; // the last one may show in part
    const qint64 dy = m_topLine - m_shownTop;
    const std::pair selection(absolute(selectionStart()), absolute(selectionEnd()));
    QRegion dirty;
    // Absolute lines [from, to] where they are shown now.
    const auto addLines = [&](qint64 from, qint64 to) {
        from = std::max(from, m_topLine);
        to = std::min(to, m_topLine + rows - 1);
        if (from <= to)
            dirty += QRect(0, topMargin + int(from - m_topLine) * m_lineHeight, width,
                           int(to - from + 1) * m_lineHeight);
    };
    const auto lineOf = [this](qint64 position) { return m_text.firstLineNumber() + m_text.lineAt(relative(position)); };
    const int dx = m_left - m_shownLeft;
    const qint64 end = m_text.firstLineNumber() + m_text.lineCount();
    if (m_showAll || std::abs(dx) >= width || std::abs(dy) >= rows) {
        dirty = vp->rect();
    } else {
        if (dx != 0 || dy != 0) {
            // The margin above the first row stays blank; the rows move.
            // What scrolls into view Qt asks to be painted.
            vp->scroll(-dx, int(-dy * m_lineHeight), QRect(0, topMargin, width, height - topMargin));
            dirty += QRect(0, 0, width, topMargin);
            if (dy > 0)
                dirty += QRect(0, height - int(dy + 1) * m_lineHeight, width, int(dy + 1) * m_lineHeight);
            else if (dy < 0)
                addLines(m_topLine, m_shownTop);
        }
        if (m_changedFromLine != noLine && m_changedFromLine >= m_topLine && m_changedFromLine < m_topLine + rows) {
            // From a little before the first change: the glyphs before it may reach into it.
            const int x = std::max(0, int(std::floor(leftMargin + m_changedFromX - m_left)) - m_inkSideways);
            dirty += QRect(x, topMargin + int(m_changedFromLine - m_topLine) * m_lineHeight, width - x, m_lineHeight);
        }
        // The lines after a change may have moved; rows past the last line,
        // then and now, stay blank (or only hold ink from the row above).
        if (m_changedFromLine != noLine)
            addLines(m_changedFromLine + 1, std::max(end, m_shownEnd) - 1 + m_inkBelow);
        if (m_text.origin() != m_shownOrigin) // the first line may have lost its start
            addLines(m_text.firstLineNumber(), m_text.firstLineNumber());
        if (selection != m_shownSelection
            && (selection.first != selection.second || m_shownSelection.first != m_shownSelection.second))
            addLines(lineOf(std::min(selection.first, m_shownSelection.first)),
                     lineOf(std::max(selection.second, m_shownSelection.second)));
        dirty += m_shownCaret.translated(-dx, int(-dy * m_lineHeight));
    }
    m_shownTop = m_topLine;
    m_shownLeft = m_left;
    m_shownOrigin = m_text.origin();
    m_shownEnd = end;
    m_shownSelection = selection;
    m_changedFromLine = noLine;
    m_showAll = false;
    m_shownCaret = shownRect(caretPosition()).adjusted(-1, 0, 1, 0);
    dirty += m_shownCaret;
    vp->repaint(dirty);
}

int TerminalView::pageLines() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

void TerminalView::ensureVisible(qsizetype position) const
{
    const qsizetype line = m_text.lineAt(position);
    const qint64 absLine = m_text.firstLineNumber() + line;
    if (absLine < m_topLine)
        m_topLine = absLine;
    else if (absLine >= m_topLine + pageLines())
        m_topLine = absLine - pageLines() + 1;
    const qreal x = leftMargin + m_text.x(position);
    const int width = viewport()->width();
    if (x - leftMargin < m_left)
        m_left = std::max(0, int(std::floor(x)) - leftMargin);
    else if (x + caretWidth + leftMargin > m_left + width)
        m_left = int(std::ceil(x + caretWidth + leftMargin)) - width;
}

// The horizontal scroll range: the widest line with the margins on both
// sides and room for the caret after its end.
int TerminalView::maxLeft() const
{
    const qreal contentWidth = m_text.maxLineWidth() + 2 * leftMargin + caretWidth;
    return int(std::clamp<qreal>(std::ceil(contentWidth - viewport()->width()), 0, INT_MAX / 2));
}

// Brings the caret into view if a move asked for it, and keeps the scroll
// position inside the text (lines may have left from the top).
void TerminalView::applyPendingScroll() const
{
    if (m_scrollToCaret) {
        m_scrollToCaret = false;
        ensureVisible(caretPosition());
    }
    const qint64 maxTop = m_text.firstLineNumber() + std::max<qsizetype>(0, m_text.lineCount() - pageLines());
    m_topLine = std::clamp(m_topLine, m_text.firstLineNumber(), maxTop);
    m_left = std::clamp(m_left, 0, maxLeft());
}

void TerminalView::syncScrollBars()
{
    applyPendingScroll();
    m_syncingScrollBars = true;
    const int page = pageLines();
    m_verticalBar->setState(int(std::max<qsizetype>(0, m_text.lineCount() - page)), page, 1,
                            int(m_topLine - m_text.firstLineNumber()));
    m_horizontalBar->setState(maxLeft(), std::max(1, viewport()->width()), std::max(1, int(m_newlineWidth * 4)),
                              m_left);
    m_syncingScrollBars = false;
}

void TerminalView::scrollContentsBy(int, int)
{
    if (m_syncingScrollBars)
        return;
    m_topLine = m_text.firstLineNumber() + verticalScrollBar()->value();
    m_left = horizontalScrollBar()->value();
    scheduleFrame();
}

void TerminalView::resizeEvent(QResizeEvent *e)
{
    QAbstractScrollArea::resizeEvent(e);
    syncScrollBars();
    showAll();
    scheduleFrame();
}

qsizetype TerminalView::firstVisibleLine() const
{
    applyPendingScroll();
    return qsizetype(m_topLine - m_text.firstLineNumber());
}

int TerminalView::visibleLineCount() const
{
    return pageLines();
}

QRect TerminalView::positionRect(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    const qsizetype row = m_text.lineAt(position) - firstVisibleLine();
    const qreal x = leftMargin + m_text.x(position) - m_left;
    return QRect(int(std::floor(x)), topMargin + int(row) * m_lineHeight, caretWidth, m_lineHeight);
}

qsizetype TerminalView::positionAt(QPoint point) const
{
    const qsizetype top = firstVisibleLine();
    const int y = point.y() - topMargin;
    const qsizetype row = y < 0 ? -1 - (-y - 1) / m_lineHeight : y / m_lineHeight;
    const qsizetype line = std::clamp<qsizetype>(top + row, 0, m_text.lineCount() - 1);
    return m_text.positionAtX(line, qreal(point.x()) + m_left - leftMargin);
}

