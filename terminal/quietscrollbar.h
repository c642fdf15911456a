// SPDX-License-Identifier: MIT
#pragma once

#include <QScrollBar>

#include <optional>

// A scroll bar that repaints only when what it shows changes.
//
// QAbstractSlider repaints the whole bar on every change of its range or
// value. The transcript grows by a line many times a second while data
// arrives, and with a few thousand lines the handle no longer moves by a
// pixel: the bar would be drawn again, unchanged, at the pace of the text.
class QuietScrollBar : public QScrollBar
{
public:
    explicit QuietScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

    // Sets the range [0, maximum], the steps and the value together, and
    // repaints once if the bar then looks different.
    void setState(int maximum, int pageStep, int singleStep, int value);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // What the style draws from the range and the value: where the handle
    // is, and whether the arrows at either end can still move it.
    struct Look
    {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look look() const;

    std::optional<Look> m_painted;
    bool m_settingState = false;
};
