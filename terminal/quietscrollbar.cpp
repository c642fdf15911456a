// SPDX-License-Identifier: MIT
#include "quietscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

QuietScrollBar::QuietScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
}

void QuietScrollBar::setState(int maximum, int pageStep, int singleStep, int value)
{
    // The range and the value change one after the other; in between the
    // handle would stand where it is never shown.
    m_settingState = true;
    if (minimum() != 0 || this->maximum() != maximum)
        setRange(0, maximum);
    setPageStep(pageStep);
    setSingleStep(singleStep);
    setValue(value);
    m_settingState = false;
    const Look now = look();
    if (!m_painted || m_painted->atMinimum != now.atMinimum || m_painted->atMaximum != now.atMaximum)
        update();
    else if (m_painted->handle != now.handle) // the groove under it is the same all along
        update(m_painted->handle.united(now.handle).adjusted(-1, -1, 1, 1));
}

QuietScrollBar::Look QuietScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            value() == minimum(), value() == maximum()};
}

void QuietScrollBar::sliderChange(SliderChange change)
{
    if (!m_settingState)
        QScrollBar::sliderChange(change);
}

void QuietScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = look();
    QScrollBar::paintEvent(event);
}
