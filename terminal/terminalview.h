// SPDX-License-Identifier: MIT
#pragma once

#include "edithistory.h"
#include "transcript.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QPointer>
#include <QTimer>

#include <optional>

class QMenu;
class QuietScrollBar;

// The transcript text area (Text1): an editable, unwrapped text view that lays
// out only the lines on screen, so received text costs what it is long,
// whatever the transcript's size. Line breaks are '\n'.
//
// Received text is appended with appendText(); typing, mouse selection, the
// clipboard and undo (EditHistory) work on it as in an ordinary text area.
// The transcript keeps the last maxLines() lines and at most maxChars()
// characters: older text leaves from the top, also from the start of an
// endless line.
//
// Screen work happens in frames: a change after a quiet moment shows within
// 16 ms, and while changes keep coming the screen follows about 30 times a
// second, so a flood of small appends costs no more than one big one. A frame
// moves the pixels already drawn when the text scrolls and draws only the
// rows that are new or changed; scroll bars are touched only when they change.
class TerminalView : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TerminalView(QWidget *parent = nullptr);
    TerminalView(qsizetype maxLines, qsizetype maxChars, QWidget *parent = nullptr);
    ~TerminalView() override;

    QString text() const;
    qsizetype textLength() const;
    // Appends at the end without touching the caret or the selection.
    void appendText(QStringView text);
    // The same for received text in the transcript's form (ReceiveDecoder).
    void appendReceived(QByteArrayView stored);
    qsizetype caretPosition() const;
    // Moves the caret (clearing any selection) and scrolls to show it.
    void setCaretPosition(qsizetype position);

    void setLimits(qsizetype maxLines, qsizetype maxChars);
    qsizetype maxLines() const { return m_text.maxLines(); }
    qsizetype maxChars() const { return m_text.maxChars(); }
    const Transcript &transcript() const { return m_text; }
    qsizetype lineCount() const { return m_text.lineCount(); }

    // The selection runs from the anchor to the caret.
    void setSelection(qsizetype anchor, qsizetype caret);
    qsizetype anchorPosition() const;
    bool hasSelection() const;
    qsizetype selectionStart() const;
    qsizetype selectionEnd() const;
    QString selectedText() const;

    bool isUndoAvailable() const { return m_history.canUndo(); }
    bool isRedoAvailable() const { return m_history.canRedo(); }

    // Geometry, in viewport coordinates, after any pending scroll.
    // The caret's rectangle at `position`: its line's top, x, one line high.
    QRect positionRect(qsizetype position) const;
    QRect caretRect() const { return positionRect(caretPosition()); }
    // The position nearest to `point` (clamped to the text).
    qsizetype positionAt(QPoint point) const;
    // First line shown and how many fit.
    qsizetype firstVisibleLine() const;
    int visibleLineCount() const;
    int lineHeight() const { return m_lineHeight; }

    QMenu *createStandardContextMenu(QWidget *parent = nullptr);

    // Blinks the caret on the ticks of `beat`, a running timer, whenever it
    // ticks at the blink's pace, rather than on a timer of its own: one
    // wake-up then serves both.
    void blinkWith(QTimer *beat);

public Q_SLOTS:
    void copy();
    void cut();
    void paste();
    void selectAll();
    void undo();
    void redo();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // terminalview.cpp: state, layout, scrolling, painting.
    void init();
    void updateFontMetrics();
    qint64 absolute(qsizetype position) const;
    qsizetype relative(qint64 absolute) const;
    void moveCaret(qsizetype position, bool extend, bool keepPreferredX = false);
    void caretChanged();
    bool blinksOnBeat() const;
    void beatTicked();
    void toggleCaret();
    void scheduleFrame();
    void frame();
    // Everything is drawn afresh, at the current scroll position.
    void showAll();
    // Text from `position` on changed.
    void textChangedFrom(qsizetype position);
    // The caret's rectangle at `position` as the screen shows it now.
    QRect shownRect(qsizetype position) const;
    void applyPendingScroll() const;
    void syncScrollBars();
    void ensureVisible(qsizetype position) const;
    int maxLeft() const;
    int pageLines() const;
    qreal shownX(qsizetype position) const;
    void drawRun(QPainter &painter, qsizetype from, qsizetype to, qreal y);

    // terminalviewinput.cpp: edits, keys, mouse.
    // Replaces [from, to) (relative) by `with` as a user edit that undo can take back.
    void edit(qsizetype from, qsizetype to, QStringView with, EditHistory::Kind kind);
    void insertTyped(QStringView text, EditHistory::Kind kind = EditHistory::Kind::Typing);
    void deleteSelection();
    void replace(qint64 position, qsizetype length, QStringView text);
    void applyHistory(const std::optional<EditHistory::Replacement> &replacement);
    qsizetype previousPosition(qsizetype position) const;
    qsizetype nextPosition(qsizetype position) const;
    qsizetype wordStart(qsizetype position) const;
    qsizetype wordEnd(qsizetype position) const;
    qsizetype verticalMove(qsizetype lines);
    void autoScroll();

    Transcript m_text;
    qint64 m_caret = 0;  // absolute
    qint64 m_anchor = 0; // absolute
    qreal m_preferredX = -1;

    // Scroll state: the first line shown (absolute number) and the horizontal
    // offset in pixels; pending when the caret must be brought into view.
    mutable qint64 m_topLine = 0;
    mutable int m_left = 0;
    mutable bool m_scrollToCaret = false;
    bool m_syncingScrollBars = false;

    EditHistory m_history;

    QFont m_drawFont;
    int m_lineHeight = 1;
    qreal m_ascent = 0;
    qreal m_newlineWidth = 4;
    // 1 if glyphs may reach into the row above or below their own
    int m_inkAbove = 0;
    int m_inkBelow = 0;
    int m_inkSideways = 1; // pixels a glyph may reach beyond its advance, or before it

    // What the screen shows, as of the last frame: painting draws at this
    // scroll position, and the next frame moves the pixels from it and
    // redraws what changed since.
    qint64 m_shownTop = 0;
    int m_shownLeft = 0;
    qint64 m_shownOrigin = 0;
    qint64 m_shownEnd = 0; // absolute number of the line after the last
    std::pair<qint64, qint64> m_shownSelection; // absolute, start <= end
    QRect m_shownCaret;
    qint64 m_changedFromLine; // absolute line number; past the end: none
    qreal m_changedFromX = 0;  // in that line
    bool m_showAll = true;
    QuietScrollBar *m_horizontalBar; // owned by the scroll area
    QuietScrollBar *m_verticalBar;

    QTimer m_frameTimer;
    QElapsedTimer m_sinceFrame;
    qint64 m_frameGapMs = 1000; // between the last two frames
    QBasicTimer m_blinkTimer;
    QPointer<QTimer> m_beat;
    QElapsedTimer m_sinceBlinkRestart;
    bool m_caretShown = true;
    QTimer m_autoScrollTimer;
    QPoint m_lastMousePoint;
    bool m_selecting = false;
};
