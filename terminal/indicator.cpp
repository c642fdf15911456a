// SPDX-License-Identifier: MIT
#include "indicator.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

Indicator::Indicator(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
}

void Indicator::paintState(bool active)
{
    const QColor colour = active ? activeColour() : inactiveColour();
    const QString description = active ? QStringLiteral("aktywna") : QStringLiteral("nieaktywna");
    if (m_painted && colour == m_colour)
        return;
    m_colour = colour;
    m_painted = true;
    setAccessibleDescription(description);
    update();
}

void Indicator::unpaint()
{
    if (!m_painted)
        return;
    m_painted = false;
    m_colour = QColor();
    setAccessibleDescription(QString());
    update();
}

QSize Indicator::sizeHint() const
{
    return {25, 17};
}

void Indicator::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect box = rect();
    painter.fillRect(box, m_painted ? m_colour : palette().color(QPalette::Window));
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = box.adjusted(1, 1, -1, -1);
        focus.backgroundColor = m_painted ? m_colour : palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void Indicator::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

// A click is a press and a release of the left button inside the box.
void Indicator::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton
                       && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        Q_EMIT clicked();
}
