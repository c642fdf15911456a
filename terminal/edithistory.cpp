// SPDX-License-Identifier: MIT
#include "edithistory.h"

#include <algorithm>

EditHistory::EditHistory(qsizetype maxSteps, qsizetype maxChars)
    : m_maxSteps(std::max<qsizetype>(1, maxSteps))
    , m_maxChars(std::max<qsizetype>(1, maxChars))
{
}

void EditHistory::record(qint64 position, QStringView removed, QStringView inserted, Kind kind)
{
    const qsizetype added = removed.size() + inserted.size();
    if (added == 0)
        return;
    dropRedo();
    // Checked before copying anything: the step this edit would make or grow
    // is over the bound, so it cannot be kept, nor can the steps before it.
    if (added > m_maxChars) {
        clear();
        return;
    }
    if (!mergeIntoTop(position, removed, inserted, kind))
        m_undo.push_back({position, removed.toString(), inserted.toString(), kind});
    m_held += added;
    // Oldest first; a merged step that grew over the bound goes last, with
    // everything before it.
    while (qsizetype(m_undo.size()) > m_maxSteps || m_held > m_maxChars) {
        m_held -= m_undo.front().chars();
        m_undo.pop_front();
    }
}

// Typing right after typing, and Backspace or Delete next to a deletion, grow
// the newest step instead of making another.
bool EditHistory::mergeIntoTop(qint64 position, QStringView removed, QStringView inserted, Kind kind)
{
    if (m_undo.empty() || m_undo.back().kind != kind)
        return false;
    Step &top = m_undo.back();
    if (kind == Kind::Typing && removed.isEmpty() && top.position + top.inserted.size() == position) {
        top.inserted += inserted;
        return true;
    }
    if (kind != Kind::Deleting || !inserted.isEmpty() || !top.inserted.isEmpty())
        return false;
    if (position + removed.size() == top.position) { // Backspace
        top.removed.prepend(removed);
        top.position = position;
        return true;
    }
    if (position == top.position) { // Delete
        top.removed += removed;
        return true;
    }
    return false;
}

std::optional<EditHistory::Replacement> EditHistory::undo(qint64 keptFrom, qint64 keptTo)
{
    if (m_undo.empty())
        return std::nullopt;
    Step step = std::move(m_undo.back());
    m_undo.pop_back();
    if (step.position < keptFrom || step.position + step.inserted.size() > keptTo) {
        m_held -= step.chars();
        dropUndo();
        return std::nullopt;
    }
    Replacement r{step.position, step.inserted.size(), step.removed};
    m_redo.push_back(std::move(step));
    return r;
}

std::optional<EditHistory::Replacement> EditHistory::redo(qint64 keptFrom, qint64 keptTo)
{
    if (m_redo.empty())
        return std::nullopt;
    Step step = std::move(m_redo.back());
    m_redo.pop_back();
    if (step.position < keptFrom || step.position + step.removed.size() > keptTo) {
        m_held -= step.chars();
        dropRedo();
        return std::nullopt;
    }
    Replacement r{step.position, step.removed.size(), step.inserted};
    step.kind = Kind::Other; // a redone step does not grow with later typing
    m_undo.push_back(std::move(step));
    return r;
}

void EditHistory::dropUndo()
{
    for (const Step &step : m_undo)
        m_held -= step.chars();
    m_undo.clear();
}

void EditHistory::dropRedo()
{
    for (const Step &step : m_redo)
        m_held -= step.chars();
    m_redo.clear();
}

void EditHistory::clear()
{
    dropUndo();
    dropRedo();
}
