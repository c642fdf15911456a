#pragma once

#include "fakecomm.h"
#include "indicator.h"
#include "modalwatcher.h"
#include "oknoterma.h"
#include "terminalview.h"

#include <QLabel>
#include <QTest>

#include <memory>

// A terminal window on a FakeComm, with a watcher that records and closes
// every message box.
struct WindowFixture
{
    FakeComm *comm = new FakeComm;
    std::unique_ptr<OknoTerma> window = std::make_unique<OknoTerma>(comm);
    ModalWatcher boxes;

    // Loads (opens the port) and shows the window, as the program starts.
    void start()
    {
        window->Form_Load();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }

    TerminalView *text1() const { return window->findChild<TerminalView *>(QStringLiteral("Text1")); }
    Indicator *box(const char *name) const { return window->findChild<Indicator *>(QLatin1String(name)); }
    QLabel *label(const char *name) const { return window->findChild<QLabel *>(QLatin1String(name)); }
    QWidget *client() const { return window->centralWidget(); }
};

// 255 is red and 65280 green in the colour values the boxes are described with.
inline QColor red()
{
    return QColor(255, 0, 0);
}

inline QColor green()
{
    return QColor(0, 255, 0);
}
