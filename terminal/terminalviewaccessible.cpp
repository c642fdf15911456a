// SPDX-License-Identifier: MIT
#include "terminalviewaccessible.h"

#include "terminalview.h"

#include <algorithm>

TerminalViewAccessible::TerminalViewAccessible(TerminalView *view)
    : QAccessibleWidget(view, QAccessible::EditableText)
{
}

QAccessibleInterface *TerminalViewAccessible::create(const QString &className, QObject *object)
{
    if (className == QLatin1String("TerminalView") && object && object->isWidgetType())
        return new TerminalViewAccessible(static_cast<TerminalView *>(object));
    return nullptr;
}

TerminalView *TerminalViewAccessible::view() const
{
    return static_cast<TerminalView *>(widget());
}

void *TerminalViewAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State TerminalViewAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.editable = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

QString TerminalViewAccessible::text(QAccessible::Text t) const
{
    return t == QAccessible::Value ? view()->text() : QAccessibleWidget::text(t);
}

void TerminalViewAccessible::selection(int index, int *start, int *end) const
{
    *start = *end = 0;
    if (index == 0 && view()->hasSelection()) {
        *start = int(view()->selectionStart());
        *end = int(view()->selectionEnd());
    }
}

int TerminalViewAccessible::selectionCount() const
{
    return view()->hasSelection() ? 1 : 0;
}

void TerminalViewAccessible::addSelection(int start, int end)
{
    view()->setSelection(start, end);
}

void TerminalViewAccessible::removeSelection(int)
{
    view()->setCaretPosition(view()->caretPosition());
}

void TerminalViewAccessible::setSelection(int, int start, int end)
{
    view()->setSelection(start, end);
}

int TerminalViewAccessible::cursorPosition() const
{
    return int(view()->caretPosition());
}

void TerminalViewAccessible::setCursorPosition(int position)
{
    view()->setCaretPosition(position);
}

QString TerminalViewAccessible::text(int start, int end) const
{
    return view()->transcript().text(start, end);
}

int TerminalViewAccessible::characterCount() const
{
    return int(view()->textLength());
}

// One character's box: from its x to the next character's x on the same line
// (a line's last position, its line break, keeps the caret's width).
QRect TerminalViewAccessible::characterRect(int offset) const
{
    const QRect here = view()->positionRect(offset);
    const QRect next = view()->positionRect(offset + 1);
    const int width = next.top() == here.top() ? std::max(1, next.left() - here.left()) : here.width();
    return QRect(view()->viewport()->mapToGlobal(here.topLeft()), QSize(width, here.height()));
}

int TerminalViewAccessible::offsetAtPoint(const QPoint &point) const
{
    return int(view()->positionAt(view()->viewport()->mapFromGlobal(point)));
}

void TerminalViewAccessible::scrollToSubstring(int start, int)
{
    view()->setCaretPosition(start);
}

// The transcript is plain text: one run without attributes around any offset.
QString TerminalViewAccessible::attributes(int offset, int *start, int *end) const
{
    *start = *end = offset;
    return {};
}
