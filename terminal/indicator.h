// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QWidget>

// One modem line shown as a small coloured box: red while the line is active,
// green while it is not, the window's own background until first painted. It
// takes the focus (so keys typed there never reach the text area) and reports
// clicks. Screen readers get the state as the accessible description.
class Indicator : public QWidget
{
    Q_OBJECT

public:
    static QColor activeColour() { return QColor(255, 0, 0); }
    static QColor inactiveColour() { return QColor(0, 255, 0); }

    explicit Indicator(QWidget *parent = nullptr);

    void paintState(bool active);
    // Back to the window's background: no line to show.
    void unpaint();
    bool isPainted() const { return m_painted; }
    // Invalid until first painted.
    QColor colour() const { return m_colour; }

    QSize sizeHint() const override;

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QColor m_colour;
    bool m_painted = false;
    bool m_pressed = false;
};
