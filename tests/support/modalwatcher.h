// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>
#include <QTimer>

#include <functional>

// Records and closes (with its first button) every message box that comes up
// while a test runs; any other modal window goes to the handler, or is rejected.
class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ModalWatcher(QObject *parent = nullptr);

    // Each box's text, and how it looked: "title, icon, buttons", and
    // ", over the window" when it had a visible parent.
    QStringList texts;
    QStringList looks;
    qsizetype count() const { return texts.size(); }
    // Called, once each, for modal windows that are not message boxes.
    void setDialogHandler(std::function<void(QWidget *)> handler) { m_handler = std::move(handler); }

private:
    void poll();

    QTimer m_timer;
    std::function<void(QWidget *)> m_handler;
};
