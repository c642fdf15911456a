// SPDX-License-Identifier: MIT
// The transcript view's state, layout and painting; scrolling and the pace of
// frames are in terminalviewscroll.cpp, what the user does with keys and the
// mouse in terminalviewinput.cpp.
#include "terminalview.h"
#include "terminalviewaccessible.h"
#include "terminalviewlayout.h"

#include "codepage.h"
#include "quietscrollbar.h"
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

using namespace TerminalViewLayout;

TerminalView::TerminalView(QWidget *parent)
    : TerminalView(Transcript::defaultMaxLines, Transcript::defaultMaxChars, parent)
{
}

TerminalView::TerminalView(qsizetype maxLines, qsizetype maxChars, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_text(maxLines, maxChars)
    , m_changedFromLine(noLine)
    , m_horizontalBar(new QuietScrollBar(Qt::Horizontal))
    , m_verticalBar(new QuietScrollBar(Qt::Vertical))
{
    init();
}

TerminalView::~TerminalView() = default;

void TerminalView::init()
{
    setHorizontalScrollBar(m_horizontalBar);
    setVerticalScrollBar(m_verticalBar);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The bars are always shown, so nothing needs laying out again when their
    // range changes; the scroll area would, on every line received, and the
    // bars would be drawn again whole.
    disconnect(m_horizontalBar, &QScrollBar::rangeChanged, this, nullptr);
    disconnect(m_verticalBar, &QScrollBar::rangeChanged, this, nullptr);
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
    } else if (blinksOnBeat()) {
        m_sinceBlinkRestart.restart();
    }
    scheduleFrame();
}

// ---- focus, font, caret blinking ------------------------------------------------

void TerminalView::blinkWith(QTimer *beat)
{
    m_beat = beat;
    connect(beat, &QTimer::timeout, this, &TerminalView::beatTicked);
}

bool TerminalView::blinksOnBeat() const
{
    return m_beat && m_beat->isActive() && m_beat->interval() == QGuiApplication::styleHints()->cursorFlashTime() / 2;
}

void TerminalView::beatTicked()
{
    // A caret shown or moved less than half a blink ago stays for this tick.
    if (hasFocus() && blinksOnBeat()
        && !(m_caretShown && m_sinceBlinkRestart.elapsed() < m_beat->interval() / 2))
        toggleCaret();
}

void TerminalView::toggleCaret()
{
    m_caretShown = !m_caretShown;
    viewport()->update(shownRect(caretPosition()).adjusted(-1, 0, 1, 0));
}

void TerminalView::focusInEvent(QFocusEvent *e)
{
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (flash >= 2 && !blinksOnBeat())
        m_blinkTimer.start(flash / 2, this);
    m_sinceBlinkRestart.restart();
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
    toggleCaret();
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
