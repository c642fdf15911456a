#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QTimer>

#include <functional>

// Records and closes (with its first button) every message box that comes up
// while a test runs; any other modal window goes to the handler, or is rejected.
class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        bool hadVisibleParent;
    };

    explicit ModalWatcher(QObject *parent = nullptr);

    QList<Box> boxes() const { return m_boxes; }
    qsizetype count() const { return m_boxes.size(); }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }

    // Called, once each, for modal windows that are not message boxes.
    void setDialogHandler(std::function<void(QWidget *)> handler) { m_handler = std::move(handler); }
    int dialogsSeen() const { return m_dialogs; }

private:
    void poll();

    QTimer m_timer;
    QList<Box> m_boxes;
    std::function<void(QWidget *)> m_handler;
    int m_dialogs = 0;
};
