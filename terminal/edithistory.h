// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringView>

#include <deque>
#include <optional>
#include <vector>

// The user's edits to the transcript, kept for undo and redo, and the rules
// that make steps of them. It holds no text of its own beyond the steps: the
// caller records each edit as it makes it and, on undo or redo, applies the
// replacement this class answers with.
//
// Steps merge as in an ordinary text area: a run of typing is one step, and
// so is a run of Backspace or of Delete; a step that was redone stays as it
// was (later typing starts a new one). A new edit forgets what could be redone.
//
// Positions are absolute transcript positions (Transcript::origin()), which
// neither received text nor text leaving from the top moves. A step that
// reaches into text that has left can no longer be taken back, and neither
// can any step before it, since those were recorded on the text as it was
// with this step undone.
class EditHistory
{
public:
    // What an edit was, for merging: typing merges with typing just before it,
    // deleting with deleting at the same place, anything else stands alone.
    enum class Kind { Typing, Deleting, Other };

    // Replace the `length` characters at absolute `position` by `text`; the
    // caret then goes to the end of `text`.
    struct Replacement
    {
        qint64 position = 0;
        qsizetype length = 0;
        QString text;
    };

    static constexpr qsizetype defaultMaxSteps = 1000;

    explicit EditHistory(qsizetype maxSteps = defaultMaxSteps);

    // `removed` at absolute `position` is replaced by `inserted`. Call it
    // before applying the edit (`removed` may view the text it replaces).
    void record(qint64 position, QStringView removed, QStringView inserted, Kind kind);

    // The replacement that takes back the newest step and makes it redoable;
    // nothing if there is none or it no longer lies within the kept text
    // [keptFrom, keptTo), in which case the undo history is dropped.
    std::optional<Replacement> undo(qint64 keptFrom, qint64 keptTo);
    // The same for the step undone last; a redo that no longer fits drops
    // what could be redone.
    std::optional<Replacement> redo(qint64 keptFrom, qint64 keptTo);

    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    void clear();

private:
    struct Step
    {
        qint64 position = 0;
        QString removed;
        QString inserted;
        Kind kind = Kind::Other;
    };

    bool mergeIntoTop(qint64 position, QStringView removed, QStringView inserted, Kind kind);

    qsizetype m_maxSteps;
    std::deque<Step> m_undo; // oldest first
    std::vector<Step> m_redo; // next to redo last
};
