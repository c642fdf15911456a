// SPDX-License-Identifier: MIT
#include "terminalview.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleHints>

#include <algorithm>
#include <cmath>

namespace {

constexpr int leftMargin = 4;
constexpr int topMargin = 2;
constexpr int caretWidth = 1;
constexpr int frameMs = 16;
constexpr int autoScrollMs = 50;
constexpr qreal tabStop = 80;
constexpr size_t maxUndoSteps = 1000;

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// Typed text from a key: printable characters only (control codes that come
// with Ctrl held are the window's business, not the transcript's).
bool isPrintable(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == QChar(0x7F))
            return false;
    }
    return true;
}

QString normalizeLineBreaks(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// The shortcut text a menu shows beside an action.
QString withShortcut(const QString &label, QKeySequence::StandardKey key)
{
    const QString keys = QKeySequence(key).toString(QKeySequence::NativeText);
    return keys.isEmpty() ? label : label + u'\t' + keys;
}

// What a screen reader sees: an editable multi-line text with a caret and
// one selection.
class TerminalViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TerminalViewAccessible(TerminalView *view)
        : QAccessibleWidget(view, QAccessible::EditableText)
    {
    }

    static QAccessibleInterface *create(const QString &className, QObject *object)
    {
        if (className == QLatin1String("TerminalView") && object && object->isWidgetType())
            return new TerminalViewAccessible(static_cast<TerminalView *>(object));
        return nullptr;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.multiLine = true;
        s.selectableText = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Value ? view()->text() : QAccessibleWidget::text(t);
    }

    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && view()->hasSelection()) {
            *start = int(view()->selectionStart());
            *end = int(view()->selectionEnd());
        }
    }
    int selectionCount() const override { return view()->hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { view()->setSelection(start, end); }
    void removeSelection(int) override { view()->setCaretPosition(view()->caretPosition()); }
    void setSelection(int, int start, int end) override { view()->setSelection(start, end); }
    int cursorPosition() const override { return int(view()->caretPosition()); }
    void setCursorPosition(int position) override { view()->setCaretPosition(position); }
    QString text(int start, int end) const override
    {
        return view()->transcript().view(start, end).toString();
    }
    int characterCount() const override { return int(view()->textLength()); }
    QRect characterRect(int offset) const override
    {
        const QRect here = view()->positionRect(offset);
        const QRect next = view()->positionRect(offset + 1);
        const int width = next.top() == here.top() ? std::max(1, next.left() - here.left()) : here.width();
        return QRect(view()->viewport()->mapToGlobal(here.topLeft()), QSize(width, here.height()));
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return int(view()->positionAt(view()->viewport()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int) override { view()->setCaretPosition(start); }
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = *end = offset;
        return {};
    }

private:
    TerminalView *view() const { return static_cast<TerminalView *>(widget()); }
};

} // namespace

TerminalView::TerminalView(QWidget *parent)
    : TerminalView(Transcript::defaultMaxLines, Transcript::defaultMaxChars, parent)
{
}

TerminalView::TerminalView(qsizetype maxLines, qsizetype maxChars, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_text(maxLines, maxChars)
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
    m_text.setAdvanceFunction(
        [fm](char32_t c) {
            if (c > 0xFFFF)
                return fm.horizontalAdvance(QString::fromUcs4(&c, 1));
            return fm.horizontalAdvance(QChar(char16_t(c)));
        },
        tabStop);
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
    m_text.append(text);
    if (QAccessible::isActive()) {
        QAccessibleTextInsertEvent event(this, int(std::max<qsizetype>(0, m_text.size() - text.size())),
                                         text.toString());
        QAccessible::updateAccessibility(&event);
    }
    scheduleFrame();
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
    return m_text.view(selectionStart(), selectionEnd()).toString();
}

void TerminalView::setLimits(qsizetype maxLines, qsizetype maxChars)
{
    m_text.setLimits(maxLines, maxChars);
    scheduleFrame();
}

// ---- editing -------------------------------------------------------------

bool TerminalView::applyEdit(qint64 position, qsizetype removeCount, const QString &insert)
{
    // Text that left from the top takes the edits inside it along.
    if (position < m_text.origin() || position + removeCount > m_text.origin() + m_text.size())
        return false;
    const qsizetype at = qsizetype(position - m_text.origin());
    m_text.remove(at, removeCount);
    m_text.insert(at, insert);
    return true;
}

void TerminalView::edit(qsizetype from, qsizetype to, QStringView with, Edit::Kind kind)
{
    if (from == to && with.isEmpty())
        return;
    Edit e;
    e.position = absolute(from);
    e.removed = m_text.view(from, to).toString();
    e.inserted = with.toString();
    e.kind = kind;
    applyEdit(e.position, e.removed.size(), e.inserted);
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, int(relative(e.position)), e.removed, e.inserted);
        QAccessible::updateAccessibility(&event);
    }
    const qint64 caret = e.position + with.size();

    m_redo.clear();
    Edit *top = m_undo.empty() ? nullptr : &m_undo.back();
    if (top && kind == Edit::Typing && top->kind == Edit::Typing && e.removed.isEmpty()
        && top->position + top->inserted.size() == e.position) {
        top->inserted += e.inserted;
    } else if (top && kind == Edit::Deleting && top->kind == Edit::Deleting && e.inserted.isEmpty()
               && top->inserted.isEmpty() && e.position + e.removed.size() == top->position) {
        top->removed.prepend(e.removed);
        top->position = e.position;
    } else if (top && kind == Edit::Deleting && top->kind == Edit::Deleting && e.inserted.isEmpty()
               && top->inserted.isEmpty() && e.position == top->position) {
        top->removed += e.removed;
    } else {
        m_undo.push_back(std::move(e));
        if (m_undo.size() > maxUndoSteps)
            m_undo.erase(m_undo.begin());
    }
    m_anchor = caret;
    moveCaret(relative(caret), false);
}

void TerminalView::insertTyped(QStringView text, Edit::Kind kind)
{
    edit(selectionStart(), selectionEnd(), text, kind);
}

void TerminalView::deleteSelection()
{
    if (hasSelection())
        edit(selectionStart(), selectionEnd(), {}, Edit::Other);
}

void TerminalView::undo()
{
    if (m_undo.empty())
        return;
    Edit e = std::move(m_undo.back());
    m_undo.pop_back();
    if (!applyEdit(e.position, e.inserted.size(), e.removed)) {
        m_undo.clear();
        return;
    }
    const qint64 caret = e.position + e.removed.size();
    m_redo.push_back(std::move(e));
    m_anchor = caret;
    moveCaret(relative(caret), false);
}

void TerminalView::redo()
{
    if (m_redo.empty())
        return;
    Edit e = std::move(m_redo.back());
    m_redo.pop_back();
    if (!applyEdit(e.position, e.removed.size(), e.inserted)) {
        m_redo.clear();
        return;
    }
    const qint64 caret = e.position + e.inserted.size();
    e.kind = Edit::Other; // a redone step does not grow with later typing
    m_undo.push_back(std::move(e));
    m_anchor = caret;
    moveCaret(relative(caret), false);
}

void TerminalView::copy()
{
    if (hasSelection())
        QGuiApplication::clipboard()->setText(selectedText());
}

void TerminalView::cut()
{
    if (!hasSelection())
        return;
    copy();
    deleteSelection();
}

void TerminalView::paste()
{
    const QString text = normalizeLineBreaks(QGuiApplication::clipboard()->text());
    if (!text.isEmpty())
        insertTyped(text, Edit::Other);
}

void TerminalView::selectAll()
{
    m_anchor = m_text.origin();
    moveCaret(m_text.size(), true);
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

qsizetype TerminalView::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    if (position >= 2 && m_text.at(position - 1).isLowSurrogate() && m_text.at(position - 2).isHighSurrogate())
        return position - 2;
    return position - 1;
}

qsizetype TerminalView::nextPosition(qsizetype position) const
{
    const qsizetype size = m_text.size();
    if (position >= size)
        return size;
    if (position + 1 < size && m_text.at(position).isHighSurrogate() && m_text.at(position + 1).isLowSurrogate())
        return position + 2;
    return position + 1;
}

qsizetype TerminalView::wordStart(qsizetype position) const
{
    while (position > 0 && m_text.at(position - 1).isSpace() && m_text.at(position - 1) != u'\n')
        --position;
    if (position > 0 && !isWordChar(m_text.at(position - 1)))
        return position - 1;
    while (position > 0 && isWordChar(m_text.at(position - 1)))
        --position;
    return position;
}

qsizetype TerminalView::wordEnd(qsizetype position) const
{
    const qsizetype size = m_text.size();
    if (position < size && !isWordChar(m_text.at(position)) && !m_text.at(position).isSpace())
        return position + 1;
    while (position < size && isWordChar(m_text.at(position)))
        ++position;
    while (position < size && m_text.at(position).isSpace() && m_text.at(position) != u'\n')
        ++position;
    return position;
}

qsizetype TerminalView::verticalMove(qsizetype lines)
{
    const qsizetype caret = caretPosition();
    const qsizetype line = std::clamp<qsizetype>(m_text.lineAt(caret) + lines, 0, m_text.lineCount() - 1);
    if (m_preferredX < 0)
        m_preferredX = m_text.x(caret);
    return m_text.positionAtX(line, m_preferredX);
}

// ---- keyboard --------------------------------------------------------------

bool TerminalView::isEditingShortcut(const QKeyEvent *e)
{
    static const QKeySequence::StandardKey keys[] = {
        QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste, QKeySequence::Undo,
        QKeySequence::Redo, QKeySequence::SelectAll,
    };
    for (const auto key : keys) {
        if (e->matches(key))
            return true;
    }
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    const int k = e->key();
    if (mods == Qt::ControlModifier)
        return k == Qt::Key_C || k == Qt::Key_V || k == Qt::Key_X || k == Qt::Key_Z || k == Qt::Key_Y
            || k == Qt::Key_A || k == Qt::Key_Insert;
    if (mods == (Qt::ControlModifier | Qt::ShiftModifier))
        return k == Qt::Key_Z;
    if (mods == Qt::ShiftModifier)
        return k == Qt::Key_Insert || k == Qt::Key_Delete;
    return false;
}

bool TerminalView::handleShortcut(QKeyEvent *e)
{
    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    const int k = e->key();
    const bool ctrl = mods == Qt::ControlModifier;
    const bool shift = mods == Qt::ShiftModifier;
    if ((ctrl && (k == Qt::Key_C || k == Qt::Key_Insert)) || e->matches(QKeySequence::Copy))
        copy();
    else if ((ctrl && k == Qt::Key_V) || (shift && k == Qt::Key_Insert) || e->matches(QKeySequence::Paste))
        paste();
    else if ((ctrl && k == Qt::Key_X) || (shift && k == Qt::Key_Delete) || e->matches(QKeySequence::Cut))
        cut();
    else if ((ctrl && k == Qt::Key_Y) || (mods == (Qt::ControlModifier | Qt::ShiftModifier) && k == Qt::Key_Z)
             || e->matches(QKeySequence::Redo))
        redo();
    else if ((ctrl && k == Qt::Key_Z) || e->matches(QKeySequence::Undo))
        undo();
    else if ((ctrl && k == Qt::Key_A) || e->matches(QKeySequence::SelectAll))
        selectAll();
    else
        return false;
    return true;
}

bool TerminalView::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::ShortcutOverride: {
        auto *k = static_cast<QKeyEvent *>(e);
        const auto mods = k->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        if (isEditingShortcut(k) || (mods == Qt::NoModifier && isPrintable(k->text()))) {
            e->accept();
            return true;
        }
        break;
    }
    case QEvent::KeyPress: {
        // Tab is typed into the transcript like any character, as in a text area.
        auto *k = static_cast<QKeyEvent *>(e);
        if (k->key() == Qt::Key_Tab && !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier))) {
            keyPressEvent(k);
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QAbstractScrollArea::event(e);
}

void TerminalView::keyPressEvent(QKeyEvent *e)
{
    if (handleShortcut(e))
        return;

    const auto mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool shift = mods & Qt::ShiftModifier;
    const bool ctrl = mods & Qt::ControlModifier;
    const qsizetype caret = caretPosition();
    switch (e->key()) {
    case Qt::Key_Left:
        if (!shift && hasSelection() && !ctrl)
            moveCaret(selectionStart(), false);
        else
            moveCaret(ctrl ? wordStart(caret) : previousPosition(caret), shift);
        return;
    case Qt::Key_Right:
        if (!shift && hasSelection() && !ctrl)
            moveCaret(selectionEnd(), false);
        else
            moveCaret(ctrl ? wordEnd(caret) : nextPosition(caret), shift);
        return;
    case Qt::Key_Up:
        moveCaret(verticalMove(-1), shift, true);
        return;
    case Qt::Key_Down:
        moveCaret(verticalMove(1), shift, true);
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int page = pageLines();
        const int sign = e->key() == Qt::Key_PageUp ? -1 : 1;
        applyPendingScroll();
        m_topLine += sign * page;
        moveCaret(verticalMove(sign * page), shift, true);
        return;
    }
    case Qt::Key_Home:
        moveCaret(ctrl ? 0 : m_text.lineStart(m_text.lineAt(caret)), shift);
        return;
    case Qt::Key_End:
        moveCaret(ctrl ? m_text.size() : m_text.lineEnd(m_text.lineAt(caret)), shift);
        return;
    case Qt::Key_Backspace:
        if (hasSelection())
            deleteSelection();
        else if (caret > 0)
            edit(ctrl ? wordStart(caret) : previousPosition(caret), caret, {}, Edit::Deleting);
        return;
    case Qt::Key_Delete:
        if (hasSelection())
            deleteSelection();
        else if (caret < m_text.size())
            edit(caret, ctrl ? wordEnd(caret) : nextPosition(caret), {}, Edit::Deleting);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        insertTyped(u"\n", Edit::Other);
        return;
    case Qt::Key_Tab:
        insertTyped(u"\t");
        return;
    default:
        break;
    }
    if (!(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) && isPrintable(e->text())) {
        insertTyped(e->text());
        return;
    }
    e->ignore();
}

void TerminalView::inputMethodEvent(QInputMethodEvent *e)
{
    if (!e->commitString().isEmpty())
        insertTyped(e->commitString());
    e->accept();
}

QVariant TerminalView::inputMethodQuery(Qt::InputMethodQuery query) const
{
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return caretRect();
    case Qt::ImFont:
        return font();
    case Qt::ImHints:
        return int(Qt::ImhMultiLine);
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- mouse -------------------------------------------------------------------

void TerminalView::mousePressEvent(QMouseEvent *e)
{
    const QPoint point = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        moveCaret(positionAt(point), e->modifiers() & Qt::ShiftModifier);
        m_selecting = true;
        m_lastMousePoint = point;
    } else if (e->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        const QString text = normalizeLineBreaks(QGuiApplication::clipboard()->text(QClipboard::Selection));
        moveCaret(positionAt(point), false);
        if (!text.isEmpty())
            insertTyped(text, Edit::Other);
    }
    e->accept();
}

void TerminalView::mouseMoveEvent(QMouseEvent *e)
{
    if (!m_selecting)
        return;
    m_lastMousePoint = e->position().toPoint();
    moveCaret(positionAt(m_lastMousePoint), true);
    if (viewport()->rect().contains(m_lastMousePoint))
        m_autoScrollTimer.stop();
    else if (!m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
}

void TerminalView::mouseReleaseEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    m_autoScrollTimer.stop();
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

void TerminalView::mouseDoubleClickEvent(QMouseEvent *e)
{
    if (e->button() != Qt::LeftButton)
        return;
    const qsizetype at = positionAt(e->position().toPoint());
    qsizetype from = at;
    qsizetype to = at;
    while (from > 0 && isWordChar(m_text.at(from - 1)))
        --from;
    while (to < m_text.size() && isWordChar(m_text.at(to)))
        ++to;
    if (from == to && to < m_text.size() && m_text.at(to) != u'\n')
        ++to;
    m_anchor = absolute(from);
    moveCaret(to, true);
}

void TerminalView::autoScroll()
{
    const QRect area = viewport()->rect();
    applyPendingScroll();
    if (m_lastMousePoint.y() < area.top())
        m_topLine -= 1 + (area.top() - m_lastMousePoint.y()) / m_lineHeight;
    else if (m_lastMousePoint.y() > area.bottom())
        m_topLine += 1 + (m_lastMousePoint.y() - area.bottom()) / m_lineHeight;
    if (m_lastMousePoint.x() < area.left())
        m_left -= std::max(8, area.left() - m_lastMousePoint.x());
    else if (m_lastMousePoint.x() > area.right())
        m_left += std::max(8, m_lastMousePoint.x() - area.right());
    syncScrollBars();
    const QPoint inside(std::clamp(m_lastMousePoint.x(), area.left(), area.right()),
                        std::clamp(m_lastMousePoint.y(), area.top(), area.bottom()));
    m_caret = absolute(positionAt(inside));
    caretChanged();
}

void TerminalView::contextMenuEvent(QContextMenuEvent *e)
{
    QMenu *menu = createStandardContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
}

QMenu *TerminalView::createStandardContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    const bool selection = hasSelection();
    QAction *a = menu->addAction(withShortcut(tr("&Cofnij"), QKeySequence::Undo), this, &TerminalView::undo);
    a->setEnabled(isUndoAvailable());
    a = menu->addAction(withShortcut(tr("&Ponów"), QKeySequence::Redo), this, &TerminalView::redo);
    a->setEnabled(isRedoAvailable());
    menu->addSeparator();
    a = menu->addAction(withShortcut(tr("Wy&tnij"), QKeySequence::Cut), this, &TerminalView::cut);
    a->setEnabled(selection);
    a = menu->addAction(withShortcut(tr("&Kopiuj"), QKeySequence::Copy), this, &TerminalView::copy);
    a->setEnabled(selection);
    a = menu->addAction(withShortcut(tr("&Wklej"), QKeySequence::Paste), this, &TerminalView::paste);
    a->setEnabled(!QGuiApplication::clipboard()->text().isEmpty());
    a = menu->addAction(tr("&Usuń"), this, &TerminalView::deleteSelection);
    a->setEnabled(selection);
    menu->addSeparator();
    a = menu->addAction(withShortcut(tr("Zaznacz &wszystko"), QKeySequence::SelectAll), this,
                        &TerminalView::selectAll);
    a->setEnabled(m_text.size() > 0);
    return menu;
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
    viewport()->update(positionRect(caretPosition()).adjusted(-1, 0, 1, 0));
}

// ---- scrolling and frames ----------------------------------------------------------

void TerminalView::scheduleFrame()
{
    if (m_frameTimer.isActive())
        return;
    m_frameTimer.start(int(std::clamp<qint64>(frameMs - m_sinceFrame.elapsed(), 0, frameMs)));
}

// Paints at once rather than posting an update, which a busy event loop
// would deliver later still.
void TerminalView::frame()
{
    m_sinceFrame.restart();
    syncScrollBars();
    viewport()->repaint();
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
    const qreal contentWidth = m_text.maxLineWidth() + 2 * leftMargin + caretWidth;
    const int maxLeft = int(std::clamp<qreal>(std::ceil(contentWidth - viewport()->width()), 0, INT_MAX / 2));
    m_left = std::clamp(m_left, 0, maxLeft);
}

void TerminalView::syncScrollBars()
{
    applyPendingScroll();
    m_syncingScrollBars = true;
    const int page = pageLines();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, int(std::max<qsizetype>(0, m_text.lineCount() - page)));
    v->setPageStep(page);
    v->setSingleStep(1);
    v->setValue(int(m_topLine - m_text.firstLineNumber()));
    QScrollBar *h = horizontalScrollBar();
    const qreal contentWidth = m_text.maxLineWidth() + 2 * leftMargin + caretWidth;
    h->setRange(0, int(std::clamp<qreal>(std::ceil(contentWidth - viewport()->width()), 0, INT_MAX / 2)));
    h->setPageStep(std::max(1, viewport()->width()));
    h->setSingleStep(std::max(1, int(m_newlineWidth * 4)));
    h->setValue(m_left);
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

qreal TerminalView::contentX(qsizetype position) const
{
    return leftMargin + m_text.x(position) - m_left;
}

// Draws [from, to) of one line, tabs as gaps, with its baseline at `y`.
void TerminalView::drawRun(QPainter &painter, qsizetype from, qsizetype to, qreal y)
{
    const QStringView text = m_text.view(from, to);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u'\t')
            continue;
        if (i > runStart) {
            const QStringView run = text.mid(runStart, i - runStart);
            painter.drawText(QPointF(contentX(from + runStart), y),
                             QString::fromRawData(reinterpret_cast<const QChar *>(run.utf16()), run.size()));
        }
        runStart = i + 1;
    }
}

void TerminalView::paintEvent(QPaintEvent *e)
{
    applyPendingScroll();
    QPainter painter(viewport());
    painter.setFont(m_drawFont);
    const QPalette &pal = palette();
    const QColor textColor = pal.color(QPalette::Text);
    const QColor highlight = pal.color(QPalette::Highlight);
    const QColor highlightedText = pal.color(QPalette::HighlightedText);

    const QRect area = e->rect();
    const qsizetype top = qsizetype(m_topLine - m_text.firstLineNumber());
    const qsizetype firstRow = std::max(0, (area.top() - topMargin) / m_lineHeight);
    const qsizetype lastRow = std::max(0, (area.bottom() - topMargin) / m_lineHeight);
    const qsizetype selFrom = selectionStart();
    const qsizetype selTo = selectionEnd();
    const qreal visibleLeft = m_left - leftMargin + area.left();
    const qreal visibleRight = m_left - leftMargin + area.right() + 1;
    painter.setPen(textColor);

    for (qsizetype row = firstRow; row <= lastRow; ++row) {
        const qsizetype line = top + row;
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
            const qreal x0 = contentX(std::max(a, from));
            qreal x1 = a < b ? contentX(std::min(b, to)) : x0;
            if (newlineSelected)
                x1 = contentX(end) + m_newlineWidth;
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
        const QRect caret = positionRect(caretPosition());
        if (caret.intersects(area))
            painter.fillRect(caret, textColor);
    }
}
