#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPointer>

ModalWatcher::ModalWatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start();
}

QStringList ModalWatcher::texts() const
{
    QStringList out;
    for (const Box &box : m_boxes)
        out.append(box.text);
    return out;
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        const QWidget *parent = box->parentWidget();
        m_boxes.append(Box{box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                           parent && parent->isVisible()});
        const QList<QAbstractButton *> buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->click();
        else
            box->reject();
        return;
    }
    if (modal->property("modalWatcherSeen").toBool())
        return; // the handler is still working with it
    modal->setProperty("modalWatcherSeen", true);
    ++m_dialogs;
    // Outside this slot: Qt does not fire a timer from within its own slot, and
    // the handler may bring up boxes.
    QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(modal)] {
        if (!target)
            return;
        if (m_handler)
            m_handler(target);
        else if (auto *dialog = qobject_cast<QDialog *>(target.data()))
            dialog->reject();
    });
}
