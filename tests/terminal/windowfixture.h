#pragma once

#include "fakecomm.h"
#include "indicator.h"
#include "modalwatcher.h"
#include "oknoterma.h"
#include "terminalview.h"

#include <QAction>
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
    void trigger(const char *action) const { window->findChild<QAction *>(QString::fromUtf8(action))->trigger(); }
    void click(const char *name) const
    {
        QTest::mouseClick(window->findChild<QWidget *>(QLatin1String(name)), Qt::LeftButton);
    }

    // The five boxes' colours, in the order CD, CTS, DSR, RTS, DTR.
    QList<QColor> colours() const
    {
        QList<QColor> out;
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"})
            out.append(box(name)->colour());
        return out;
    }
};

// 255 is red and 65280 green in the colour values the boxes are described with.
inline const QColor red(255, 0, 0), green(0, 255, 0);

// What the window does to open port `port`; the line reads paint the boxes.
inline QStringList openingSteps(int port, bool withLineReads = true)
{
    QStringList steps{QStringLiteral("CommPort=%1").arg(port), "Settings=9600,N,8,1", "RThreshold=1",
                      "PortOpen=true", "Output=AT\\r"};
    if (withLineReads)
        steps += QStringList{"DSRHolding", "CTSHolding", "CDHolding"};
    return steps;
}

// The warning's text for a port error.
inline QString warningText(CommError::Number number, const QString &detail = {})
{
    return QStringLiteral("Nieznany błąd nr %1 ").arg(int(number)) + CommError::describe(number)
        + (detail.isEmpty() ? QString() : u'\n' + detail);
}
