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
//
// The history is bounded twice: at most maxSteps steps to undo, and at most
// maxChars characters (removed plus inserted text, undo and redo steps
// together), the oldest steps going first. A single step bigger than
// maxChars is not kept, and the steps before it go too: they could only be
// replayed on the text as it was before it. So a huge paste, or deleting a
// huge selection, cannot be undone, and memory stays bounded whatever is
// pasted, typed or undone.
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
    // 4 million characters, 8 MB of UTF-16: a quarter of what the transcript
    // holds (Transcript::defaultMaxChars), enough to take back a paste of a
    // few megabytes, and small beside the transcript's own buffer.
    static constexpr qsizetype defaultMaxChars = 4'000'000;

    explicit EditHistory(qsizetype maxSteps = defaultMaxSteps, qsizetype maxChars = defaultMaxChars);

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
    // Characters held by all steps, never more than maxChars.
    qsizetype heldChars() const { return m_held; }
    void clear();

private:
    struct Step
    {
        qint64 position = 0;
        QString removed;
        QString inserted;
        Kind kind = Kind::Other;
        qsizetype chars() const { return removed.size() + inserted.size(); }
    };

    bool mergeIntoTop(qint64 position, QStringView removed, QStringView inserted, Kind kind);
    void dropUndo();
    void dropRedo();

    qsizetype m_maxSteps;
    qsizetype m_maxChars;
    qsizetype m_held = 0;
    std::deque<Step> m_undo; // oldest first
    std::vector<Step> m_redo; // next to redo last
};
