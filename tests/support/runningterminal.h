// SPDX-License-Identifier: MIT
#pragma once

#include "modalwatcher.h"
#include "oknoterma.h"
#include "portrouter.h"
#include "terminalview.h"

#include <QTest>

#include <memory>

// The terminal window as main() builds it, on a PortRouter (or on another
// serial control). start() opens the port and shows the window, as the program
// starts; keeping it apart from construction lets a test set the window up (or
// watch for warnings) first.
struct RunningTerminal
{
    std::unique_ptr<OknoTerma> window;

    explicit RunningTerminal(CommControl *comm) : window(std::make_unique<OknoTerma>(comm)) {}
    void start()
    {
        window->Form_Load();
        window->show();
    }
    TerminalView *text1() const { return window->findChild<TerminalView *>("Text1"); }
    void typeLine(const QString &line) const { QTest::keyClicks(text1(), line + u'\r'); }
};

// The same, with the boxes it shows recorded and closed, and its other modal windows handled.
struct WatchedTerminal : ModalWatcher, RunningTerminal
{
    using RunningTerminal::RunningTerminal;
};
