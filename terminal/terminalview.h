#pragma once

#include <QPlainTextEdit>

// The transcript text area (Text1). Line breaks are '\n'.
// FIXME: placeholder on QPlainTextEdit until the line-indexed view lands.
class TerminalView : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TerminalView(QWidget *parent = nullptr);

    QString text() const;
    qsizetype textLength() const;
    // Appends at the end without touching the caret or the selection.
    void appendText(QStringView text);
    qsizetype caretPosition() const;
    // Moves the caret (clearing any selection) and scrolls to show it.
    void setCaretPosition(qsizetype position);
};
