// SPDX-License-Identifier: MIT
// How the user works the transcript view: keys, the mouse and the context
// menu, and the edits, clipboard and undo they lead to.
#include "terminalview.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>

namespace {

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

// The editing shortcuts: the platform's standard keys for each action, and
// the keys a text area takes on every platform. One table serves both the
// ShortcutOverride decision (these keys are the view's, not the menus') and
// the dispatch.
using Action = void (TerminalView::*)();

struct Shortcut
{
    Action action;
    QKeySequence::StandardKey standard;
    QKeyCombination also[2]; // Qt::Key_unknown: none
};

const Shortcut shortcuts[] = {
    {&TerminalView::copy, QKeySequence::Copy, {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert}},
    {&TerminalView::paste, QKeySequence::Paste, {Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert}},
    {&TerminalView::cut, QKeySequence::Cut, {Qt::CTRL | Qt::Key_X, Qt::SHIFT | Qt::Key_Delete}},
    {&TerminalView::redo, QKeySequence::Redo, {Qt::CTRL | Qt::Key_Y, Qt::CTRL | Qt::SHIFT | Qt::Key_Z}},
    {&TerminalView::undo, QKeySequence::Undo, {Qt::CTRL | Qt::Key_Z}},
    {&TerminalView::selectAll, QKeySequence::SelectAll, {Qt::CTRL | Qt::Key_A}},
};

// The action a key press stands for, or null.
Action shortcutAction(const QKeyEvent *e)
{
    const QKeyCombination pressed(e->modifiers() & ~Qt::KeypadModifier, Qt::Key(e->key()));
    for (const Shortcut &s : shortcuts) {
        if (e->matches(s.standard))
            return s.action;
        for (const QKeyCombination keys : s.also) {
            if (keys.key() != Qt::Key_unknown && keys == pressed)
                return s.action;
        }
    }
    return nullptr;
}

} // namespace

// ---- editing -------------------------------------------------------------

void TerminalView::replace(qint64 position, qsizetype length, QStringView text)
{
    const qsizetype at = qsizetype(position - m_text.origin());
    textChangedFrom(at);
    m_text.remove(at, length);
    m_text.insert(at, text);
}

void TerminalView::edit(qsizetype from, qsizetype to, QStringView with, EditHistory::Kind kind)
{
    if (from == to && with.isEmpty())
        return;
    const qint64 position = absolute(from);
    const QString removed = m_text.text(from, to);
    m_history.record(position, removed, with, kind);
    replace(position, removed.size(), with);
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, int(relative(position)), removed, with.toString());
        QAccessible::updateAccessibility(&event);
    }
    m_anchor = position + with.size();
    moveCaret(relative(m_anchor), false);
}

void TerminalView::insertTyped(QStringView text, EditHistory::Kind kind)
{
    edit(selectionStart(), selectionEnd(), text, kind);
}

void TerminalView::deleteSelection()
{
    if (hasSelection())
        edit(selectionStart(), selectionEnd(), {}, EditHistory::Kind::Other);
}

// Text that left from the top takes the steps inside it along: the history
// answers nothing for them.
void TerminalView::applyHistory(const std::optional<EditHistory::Replacement> &r)
{
    if (!r)
        return;
    replace(r->position, r->length, r->text);
    m_anchor = r->position + r->text.size();
    moveCaret(relative(m_anchor), false);
}

void TerminalView::undo()
{
    applyHistory(m_history.undo(m_text.origin(), m_text.origin() + m_text.size()));
}

void TerminalView::redo()
{
    applyHistory(m_history.redo(m_text.origin(), m_text.origin() + m_text.size()));
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
        insertTyped(text, EditHistory::Kind::Other);
}

void TerminalView::selectAll()
{
    m_anchor = m_text.origin();
    moveCaret(m_text.size(), true);
}

// ---- moving by characters and words ---------------------------------------

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

bool TerminalView::event(QEvent *e)
{
    switch (e->type()) {
    case QEvent::ShortcutOverride: {
        auto *k = static_cast<QKeyEvent *>(e);
        const auto mods = k->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
        if (shortcutAction(k) || (mods == Qt::NoModifier && isPrintable(k->text()))) {
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
    if (const auto action = shortcutAction(e)) {
        (this->*action)();
        return;
    }

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
            edit(ctrl ? wordStart(caret) : previousPosition(caret), caret, {}, EditHistory::Kind::Deleting);
        return;
    case Qt::Key_Delete:
        if (hasSelection())
            deleteSelection();
        else if (caret < m_text.size())
            edit(caret, ctrl ? wordEnd(caret) : nextPosition(caret), {}, EditHistory::Kind::Deleting);
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        insertTyped(u"\n", EditHistory::Kind::Other);
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
            insertTyped(text, EditHistory::Kind::Other);
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
