// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <limits>

// Measures the transcript view's painting and scrolling share.
namespace TerminalViewLayout {

inline constexpr int leftMargin = 4;
inline constexpr int topMargin = 2;
inline constexpr int caretWidth = 1;
inline constexpr int frameMs = 16;
// While changes keep coming (frames closer than quietMs), about 30 a second.
inline constexpr int streamingFrameMs = 33;
inline constexpr int quietMs = 50;
inline constexpr qint64 noLine = std::numeric_limits<qint64>::max();
inline constexpr int autoScrollMs = 50;
inline constexpr qreal tabStop = 80;

} // namespace TerminalViewLayout
