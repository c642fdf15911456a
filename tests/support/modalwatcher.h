// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaEnum>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <functional>

// Records and closes (with its first button) every message box that comes up
// while a test runs; any other modal window goes to the handler, or is rejected.
class ModalWatcher : public QObject
{
public:
    ModalWatcher() { startTimer(10); }

    // Each box's text as read, and how it looked: "icon, buttons", and
    // ", over the window" when it had a visible parent, ", text wider than
    // the box" when its text did not fit.
    QStringList texts;
    QStringList looks;
    qsizetype count() const { return texts.size(); }
    // Called, once each, for modal windows that are not message boxes.
    void setDialogHandler(std::function<void(QWidget *)> handler) { m_handler = std::move(handler); }

private:
    // Looks every 10 ms.
    void timerEvent(QTimerEvent *) override
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            texts += box->text().remove(QChar(0x200B)); // the places a long word may break are not read
            looks += QString(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(box->icon()))
                + (box->standardButtons() == QMessageBox::Ok ? ", OK" : ", other buttons")
                + (box->parentWidget() && box->parentWidget()->isVisible() ? ", over the window" : "")
                + (textFits(box) ? "" : ", text wider than the box");
            box->buttons().first()->click(); // a box shown has a button
            return;
        }
        if (modal->property("modalWatcherSeen").toBool())
            return; // the handler is still working with it (or with a window it opened over it)
        modal->setProperty("modalWatcherSeen", true);
        // Outside this event: Qt does not fire a timer from within its own
        // timer event, and the handler may bring up boxes.
        QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(modal)] {
            if (target)
                m_handler(target);
        });
    }

    // Whether the box's text, wrapped as it is drawn, stays inside the box, and the box on the screen.
    static bool textFits(QMessageBox *box)
    {
        const auto *label = box->findChild<QLabel *>("qt_msgbox_label");
        const QRect text = label->fontMetrics().boundingRect(label->rect(), Qt::TextWordWrap, label->text());
        return text.width() <= label->width() && box->width() <= box->screen()->availableGeometry().width();
    }

    std::function<void(QWidget *)> m_handler = &QWidget::close; // until a test sets its own
};
