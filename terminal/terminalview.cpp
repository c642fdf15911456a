#include "terminalview.h"

#include <QTextCursor>

TerminalView::TerminalView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

QString TerminalView::text() const
{
    return toPlainText();
}

qsizetype TerminalView::textLength() const
{
    return document()->characterCount() - 1;
}

void TerminalView::appendText(QStringView text)
{
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    end.insertText(text.toString());
}

qsizetype TerminalView::caretPosition() const
{
    return textCursor().position();
}

void TerminalView::setCaretPosition(qsizetype position)
{
    QTextCursor c = textCursor();
    c.setPosition(int(qBound<qsizetype>(0, position, textLength())));
    setTextCursor(c);
    ensureCursorVisible();
}
