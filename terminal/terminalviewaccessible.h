// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessibleWidget>

class TerminalView;

// What a screen reader sees of the transcript view: an editable multi-line
// text with a caret and one selection. The view itself announces its changes
// (appends, edits, caret moves); this interface answers the reader's queries.
class TerminalViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit TerminalViewAccessible(TerminalView *view);

    // For QAccessible::installFactory(): an interface for TerminalView objects only.
    static QAccessibleInterface *create(const QString &className, QObject *object);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;

    void selection(int index, int *start, int *end) const override;
    int selectionCount() const override;
    void addSelection(int start, int end) override;
    void removeSelection(int index) override;
    void setSelection(int index, int start, int end) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int start, int end) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int start, int end) override;
    QString attributes(int offset, int *start, int *end) const override;

private:
    TerminalView *view() const;
};
