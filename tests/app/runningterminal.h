#pragma once

#include "oknoterma.h"
#include "portrouter.h"
#include "terminalview.h"

#include <QTest>
#include <QTimer>

#include <memory>

// The terminal window as the program builds it, on a PortRouter. start()
// opens the port and shows the window, as main() does; keeping it apart from
// construction lets a test watch for the boxes the opening may show.
struct RunningTerminal
{
    std::unique_ptr<OknoTerma> window;

    explicit RunningTerminal(PortRouter *router)
        : window(std::make_unique<OknoTerma>(router))
    {
    }

    void start()
    {
        window->Form_Load();
        window->show();
    }

    TerminalView *text1() const { return window->findChild<TerminalView *>(QStringLiteral("Text1")); }

    void typeLine(const QString &line) const
    {
        QTest::keyClicks(text1(), line);
        QTest::keyClick(text1(), Qt::Key_Return);
    }

    // The window's 500 ms clock timer.
    QTimer *clock() const
    {
        for (QTimer *timer : window->findChildren<QTimer *>(Qt::FindDirectChildrenOnly)) {
            if (timer->interval() == 500)
                return timer;
        }
        return nullptr;
    }
};
