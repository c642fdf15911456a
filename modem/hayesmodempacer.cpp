// SPDX-License-Identifier: MIT
#include "hayesmodempacer.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

HayesModemPacer::HayesModemPacer(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &HayesModemPacer::tick);
}

void HayesModemPacer::setEnabled(bool on)
{
    m_enabled = on;
    if (!on)
        releaseAll();
}

void HayesModemPacer::setCharactersPerSecond(double rate)
{
    m_rate = std::max(rate, 1.0);
    // A new speed starts a new burst so the credit is not counted at the old one.
    m_burst.restart();
    m_sentInBurst = 0;
    if (m_timer->isActive())
        m_timer->start(std::clamp(int(1000.0 / m_rate), 1, 100));
}

void HayesModemPacer::push(const QByteArray &bytes)
{
    const qsizetype room = m_enabled ? Capacity - m_wire.size() : bytes.size();
    if (bytes.isEmpty() || room <= 0)
        return;
    m_wire += QByteArrayView(bytes).first(std::min(room, bytes.size()));
    if (!m_enabled) {
        releaseAll();
        return;
    }
    if (!m_timer->isActive()) {
        m_burst.start();
        m_sentInBurst = 0;
        m_timer->start(std::clamp(int(1000.0 / m_rate), 1, 100));
    }
}

QByteArray HayesModemPacer::take()
{
    return std::exchange(m_released, QByteArray());
}

void HayesModemPacer::clear()
{
    m_wire.clear();
    m_released.clear();
    m_timer->stop();
}

void HayesModemPacer::tick()
{
    const qint64 due = qint64(std::floor(double(m_burst.nsecsElapsed()) * m_rate / 1e9));
    qsizetype count = std::min<qsizetype>(due - m_sentInBurst, m_wire.size());
    if (count <= 0)
        return;
    const qsizetype lineEnd = QByteArrayView(m_wire).first(count).indexOf('\n');
    if (lineEnd >= 0)
        count = lineEnd + 1;
    m_released += m_wire.first(count);
    m_wire.remove(0, count);
    m_sentInBurst += count;
    if (m_wire.isEmpty())
        m_timer->stop();
    Q_EMIT released();
}

void HayesModemPacer::releaseAll()
{
    m_timer->stop();
    if (m_wire.isEmpty())
        return;
    m_released += std::exchange(m_wire, QByteArray());
    Q_EMIT released();
}
