#pragma once

#include <QtGlobal>

class QWidget;

// Opt-in instrumentation for the benchmark (bench/). With the environment
// variable MODEMTERM_BENCH_LOG naming a file, the program appends to it one
// line per event, each with CLOCK_MONOTONIC nanoseconds: "paint <ns> <chars
// appended so far>" for every transcript repaint, "tick <ns>" for every clock
// tick, "box <name> <ns> <colour>" for every indicator repaint. SIGUSR1 types
// "ATI" and Enter into the transcript, SIGUSR2 clicks the DTR box, as a user
// would; each logs "type"/"click" when it is delivered. Without the variable
// every call returns at once.
namespace BenchProbe {

// The transcript view to type into; called by its constructor.
void watch(QWidget *view);
void painted(qint64 appendedChars);

} // namespace BenchProbe
