// SPDX-License-Identifier: MIT
// The transcript view's state, layout, scrolling and painting; what the user
// does with keys and the mouse is in terminalviewinput.cpp.
#include "terminalview.h"
#include "terminalviewaccessible.h"

#include "codepage.h"
#include "receivedecoder.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int leftMargin = 4;
constexpr int topMargin = 2;
constexpr int caretWidth = 1;
constexpr int frameMs = 16;
// While changes keep coming (frames closer than quietMs), about 30 a second.
constexpr int streamingFrameMs = 33;
constexpr int quietMs = 50;
constexpr qint64 noLine = std::numeric_limits<qint64>::max();
constexpr int autoScrollMs = 50;
constexpr qreal tabStop = 80;

} // namespace

TerminalView::TerminalView(QWidget *parent)
    : TerminalView(Transcript::defaultMaxLines, Transcript::defaultMaxChars, parent)
{
}

TerminalView::TerminalView(qsizetype maxLines, qsizetype maxChars, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_text(maxLines, maxChars)
    , m_changedFromLine(noLine)
{
    init();
}

TerminalView::~TerminalView() = default;

void TerminalView::init()
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);

    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &TerminalView::frame);
    m_autoScrollTimer.setInterval(autoScrollMs);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, &TerminalView::autoScroll);
    m_sinceFrame.start();
    m_sinceBlinkRestart.start();

    static const bool accessible = [] {
        QAccessible::installFactory(&TerminalViewAccessible::create);
        return true;
    }();
    Q_UNUSED(accessible);
    updateFontMetrics();
}

void TerminalView::updateFontMetrics()
{
    // Without kerning and shaping a run is exactly as wide as the sum of its
    // characters, which is what lets a line's width grow per append and any x
    // be found from the nearest checkpoint.
    m_drawFont = font();
    m_drawFont.setKerning(false);
    m_drawFont.setStyleStrategy(QFont::StyleStrategy(m_drawFont.styleStrategy() | QFont::PreferNoShaping));
    const QFontMetricsF fm(m_drawFont);
    m_lineHeight = std::max(1, int(std::ceil(fm.lineSpacing())));
    m_ascent = fm.ascent();
    m_newlineWidth = std::max<qreal>(2, fm.horizontalAdvance(u' '));
    // How far characters the code page shows reach beyond their own box:
    // into the rows above or below, and sideways.
    m_inkAbove = m_inkBelow = 0;
    qreal sideways = 0;
    for (int b = 0; b < 256; ++b) {
        const QChar c = CodePage::shownAs(uchar(b));
        const QRectF ink = fm.boundingRect(c);
        if (ink.isEmpty())
            continue;
        m_inkAbove |= m_ascent + ink.top() < 0;
        m_inkBelow |= m_ascent + ink.bottom() > m_lineHeight;
        sideways = std::max({sideways, -ink.left(), ink.right() - fm.horizontalAdvance(c)});
    }
    m_inkSideways = int(std::ceil(sideways)) + 1;
    m_text.setAdvanceFunction(
        [fm](char32_t c) {
            if (c > 0xFFFF)
                return fm.horizontalAdvance(QString::fromUcs4(&c, 1));
            return fm.horizontalAdvance(QChar(char16_t(c)));
        },
        tabStop);
    showAll();
    scheduleFrame();
}

QString TerminalView::text() const
{
    return m_text.text();
}

qsizetype TerminalView::textLength() const
{
    return m_text.size();
}

void TerminalView::appendText(QStringView text)
{
    textChangedFrom(m_text.size());
    m_text.append(text);
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent event(this, int(std::max<qsizetype>(0, m_text.size() - text.size())),
                                         text.toString());
        QAccessible::updateAccessibility(&event);
    }
    scheduleFrame();
}

void TerminalView::appendReceived(QByteArrayView stored)
{
    textChangedFrom(m_text.size());
    m_text.appendBytes(stored);
    if (QAccessible::isActive()) {
        QString text;
        ReceiveDecoder::appendShown(stored, text);
        QAccessibleTextInsertEvent event(this, int(std::max<qsizetype>(0, m_text.size() - text.size())), text);
        QAccessible::updateAccessibility(&event);
    }
    scheduleFrame();
}

void TerminalView::textChangedFrom(qsizetype position)
{
    const qint64 line = m_text.firstLineNumber() + m_text.lineAt(position);
    // Glyphs of characters outside the code page may reach anywhere along their line.
    const qsizetype start = m_text.lineStart(m_text.lineAt(position));
    const qreal x = m_text.inCodePage(start, position) ? m_text.x(position) : 0;
    if (line < m_changedFromLine)
        m_changedFromX = x;
    else if (line == m_changedFromLine)
        m_changedFromX = std::min(m_changedFromX, x);
    m_changedFromLine = std::min(m_changedFromLine, line);
}

qint64 TerminalView::absolute(qsizetype position) const
{
    return m_text.origin() + std::clamp<qsizetype>(position, 0, m_text.size());
}

qsizetype TerminalView::relative(qint64 absolute) const
{
    return qsizetype(std::clamp<qint64>(absolute - m_text.origin(), 0, m_text.size()));
}

qsizetype TerminalView::caretPosition() const
{
    return relative(m_caret);
}

qsizetype TerminalView::anchorPosition() const
{
    return relative(m_anchor);
}

void TerminalView::setCaretPosition(qsizetype position)
{
    moveCaret(position, false);
}

void TerminalView::setSelection(qsizetype anchor, qsizetype caret)
{
    m_anchor = absolute(anchor);
    moveCaret(caret, true);
}

bool TerminalView::hasSelection() const
{
    return anchorPosition() != caretPosition();
}

qsizetype TerminalView::selectionStart() const
{
    return std::min(anchorPosition(), caretPosition());
}

qsizetype TerminalView::selectionEnd() const
{
    return std::max(anchorPosition(), caretPosition());
}

QString TerminalView::selectedText() const
{
    return m_text.text(selectionStart(), selectionEnd());
}

void TerminalView::setLimits(qsizetype maxLines, qsizetype maxChars)
{
    m_text.setLimits(maxLines, maxChars);
    scheduleFrame();
}

// ---- caret movement -------------------------------------------------------

void TerminalView::moveCaret(qsizetype position, bool extend, bool keepPreferredX)
{
    m_caret = absolute(position);
    if (!extend)
        m_anchor = m_caret;
    if (!keepPreferredX)
        m_preferredX = -1;
    m_scrollToCaret = true;
    if (QAccessible::isActive()) {
        QAccessibleTextCursorEvent event(this, int(caretPosition()));
        QAccessible::updateAccessibility(&event);
    }
    caretChanged();
}

void TerminalView::caretChanged()
{
    // A moved caret shows at once; restarting the blink is throttled because
    // the window moves the caret after every received chunk.
    m_caretShown = true;
    if (m_blinkTimer.isActive() && m_sinceBlinkRestart.elapsed() > 100) {
        m_blinkTimer.start(QGuiApplication::styleHints()->cursorFlashTime() / 2, this);
        m_sinceBlinkRestart.restart();
    }
    scheduleFrame();
}

// ---- focus, font, caret blinking ------------------------------------------------

void TerminalView::focusInEvent(QFocusEvent *e)
{
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (flash >= 2)
        m_blinkTimer.start(flash / 2, this);
    m_caretShown = true;
    viewport()->update();
    QAbstractScrollArea::focusInEvent(e);
}

void TerminalView::focusOutEvent(QFocusEvent *e)
{
    m_blinkTimer.stop();
    viewport()->update();
    QAbstractScrollArea::focusOutEvent(e);
}

void TerminalView::changeEvent(QEvent *e)
{
    if (e->type() == QEvent::FontChange)
        updateFontMetrics();
    QAbstractScrollArea::changeEvent(e);
}

void TerminalView::timerEvent(QTimerEvent *e)
{
    if (e->timerId() != m_blinkTimer.timerId()) {
        QAbstractScrollArea::timerEvent(e);
        return;
    }
    m_caretShown = !m_caretShown;
    viewport()->update(shownRect(caretPosition()).adjusted(-1, 0, 1, 0));
}

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
    if (m_showAll || m_left != m_shownLeft || std::abs(dy) >= rows) {
        dirty = vp->rect();
    } else {
        if (dy != 0) {
            // The margin above the first row stays blank; the rows move.
            vp->scroll(0, int(-dy * m_lineHeight), QRect(0, topMargin, width, height - topMargin));
            dirty += QRect(0, 0, width, topMargin);
            if (dy > 0)
                dirty += QRect(0, height - int(dy + 1) * m_lineHeight, width, int(dy + 1) * m_lineHeight);
            else
                addLines(m_topLine, m_shownTop);
        }
        if (m_changedFromLine != noLine && m_changedFromLine >= m_topLine && m_changedFromLine < m_topLine + rows) {
            // From a little before the first change: the glyphs before it may reach into it.
            const int x = std::max(0, int(std::floor(leftMargin + m_changedFromX - m_left)) - m_inkSideways);
            dirty += QRect(x, topMargin + int(m_changedFromLine - m_topLine) * m_lineHeight, width - x, m_lineHeight);
        }
        if (m_changedFromLine != noLine)
            addLines(m_changedFromLine + 1, noLine - 1);
        if (m_text.origin() != m_shownOrigin) // the first line may have lost its start
            addLines(m_text.firstLineNumber(), m_text.firstLineNumber());
        if (selection != m_shownSelection
            && (selection.first != selection.second || m_shownSelection.first != m_shownSelection.second))
            addLines(lineOf(std::min(selection.first, m_shownSelection.first)),
                     lineOf(std::max(selection.second, m_shownSelection.second)));
        dirty += m_shownCaret.translated(0, int(-dy * m_lineHeight));
    }
    m_shownTop = m_topLine;
    m_shownLeft = m_left;
    m_shownOrigin = m_text.origin();
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

namespace {

// Touches the bar only where it changes: each change repaints it.
void setBar(QScrollBar *bar, int maximum, int page, int single, int value)
{
    if (bar->minimum() != 0 || bar->maximum() != maximum)
        bar->setRange(0, maximum);
    if (bar->pageStep() != page)
        bar->setPageStep(page);
    if (bar->singleStep() != single)
        bar->setSingleStep(single);
    if (bar->value() != value)
        bar->setValue(value);
}

} // namespace

void TerminalView::syncScrollBars()
{
    applyPendingScroll();
    m_syncingScrollBars = true;
    const int page = pageLines();
    setBar(verticalScrollBar(), int(std::max<qsizetype>(0, m_text.lineCount() - page)), page, 1,
           int(m_topLine - m_text.firstLineNumber()));
    setBar(horizontalScrollBar(), maxLeft(), std::max(1, viewport()->width()),
           std::max(1, int(m_newlineWidth * 4)), m_left);
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

// ---- painting ----------------------------------------------------------------------

QRect TerminalView::shownRect(qsizetype position) const
{
    position = std::clamp<qsizetype>(position, 0, m_text.size());
    const qint64 row = m_text.firstLineNumber() + m_text.lineAt(position) - m_shownTop;
    return QRect(int(std::floor(shownX(position))), topMargin + int(row) * m_lineHeight, caretWidth, m_lineHeight);
}

qreal TerminalView::shownX(qsizetype position) const
{
    return leftMargin + m_text.x(position) - m_shownLeft;
}

// Draws [from, to) of one line, tabs as gaps, with its baseline at `y`.
void TerminalView::drawRun(QPainter &painter, qsizetype from, qsizetype to, qreal y)
{
    const QString text = m_text.text(from, to);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u'\t')
            continue;
        if (i > runStart) {
            painter.drawText(QPointF(shownX(from + runStart), y),
                             QString::fromRawData(text.constData() + runStart, i - runStart));
        }
        runStart = i + 1;
    }
}

// Draws what the last frame decided the screen shows (m_shownTop, m_shownLeft).
void TerminalView::paintEvent(QPaintEvent *e)
{
    QPainter painter(viewport());
    painter.setFont(m_drawFont);
    const QPalette &pal = palette();
    const QColor textColor = pal.color(QPalette::Text);
    const QColor highlight = pal.color(QPalette::Highlight);
    const QColor highlightedText = pal.color(QPalette::HighlightedText);

    const QRect area = e->rect();
    const qint64 top = m_shownTop - m_text.firstLineNumber();
    // Where glyphs reach into the rows beside their own, those rows are drawn
    // too, so a part of the screen drawn again shows what drawing all would.
    const qsizetype firstRow = std::max(0, (area.top() - topMargin) / m_lineHeight - m_inkBelow);
    const qsizetype lastRow = std::max(0, (area.bottom() - topMargin) / m_lineHeight + m_inkAbove);
    const qsizetype selFrom = selectionStart();
    const qsizetype selTo = selectionEnd();
    const qreal visibleLeft = m_shownLeft - leftMargin + area.left();
    const qreal visibleRight = m_shownLeft - leftMargin + area.right() + 1;
    painter.setPen(textColor);

    for (qsizetype row = firstRow; row <= lastRow; ++row) {
        const qint64 line = top + row;
        if (line < 0) // left from the top since the last frame, which moves it away
            continue;
        if (line >= m_text.lineCount())
            break;
        const int y = topMargin + int(row) * m_lineHeight;
        const qsizetype start = m_text.lineStart(line);
        const qsizetype end = m_text.lineEnd(line);
        // Only the characters that reach into the painted area.
        const qsizetype from = m_text.positionAtX(line, visibleLeft, true);
        const qsizetype to = std::min(end, m_text.positionAtX(line, visibleRight, true) + 2);
        const qreal baseline = y + m_ascent;
        if (to > from)
            drawRun(painter, from, to, baseline);

        const qsizetype a = std::max(selFrom, start);
        const qsizetype b = std::min(selTo, end);
        const bool newlineSelected = selTo > end && selFrom <= end && line + 1 < m_text.lineCount();
        if (a < b || newlineSelected) {
            const qreal x0 = shownX(std::max(a, from));
            qreal x1 = a < b ? shownX(std::min(b, to)) : x0;
            if (newlineSelected)
                x1 = shownX(end) + m_newlineWidth;
            const QRectF band(x0, y, std::max<qreal>(0, x1 - x0), m_lineHeight);
            painter.fillRect(band, highlight);
            if (a < b && std::max(a, from) < std::min(b, to)) {
                painter.save();
                painter.setClipRect(band);
                painter.setPen(highlightedText);
                drawRun(painter, std::max(a, from), std::min(b, to), baseline);
                painter.restore();
            }
        }
    }

    if (hasFocus() && m_caretShown) {
        const QRect caret = shownRect(caretPosition());
        if (caret.intersects(area))
            painter.fillRect(caret, textColor);
    }
}
