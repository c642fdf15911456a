// SPDX-License-Identifier: MIT
#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

ModalWatcher::ModalWatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start(10);
}

void ModalWatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        const char *icon = box->icon() == QMessageBox::Warning ? "warning"
            : box->icon() == QMessageBox::Information          ? "information" : "another icon";
        const bool over = box->parentWidget() && box->parentWidget()->isVisible();
        texts += box->text();
        looks += box->windowTitle() + u", "_qs + QLatin1String(icon)
            + (box->standardButtons() == QMessageBox::Ok ? u", OK"_qs : u", other buttons"_qs)
            + (over ? u", over the window"_qs : QString());
        box->buttons().isEmpty() ? box->reject() : box->buttons().first()->click();
        return;
    }
    if (modal->property("modalWatcherSeen").toBool())
        return; // the handler is still working with it
    modal->setProperty("modalWatcherSeen", true);
    // Outside this slot: Qt does not fire a timer from within its own slot, and
    // the handler may bring up boxes.
    QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(modal)] {
        if (target && m_handler)
            m_handler(target);
        else if (target)
            target->close();
    });
}
