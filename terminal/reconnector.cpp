// SPDX-License-Identifier: MIT
#include "reconnector.h"

#include "commerror.h"

Reconnector::Reconnector(Probe deviceExists, Reopen reopen, QObject *parent)
    : QObject(parent)
    , m_deviceExists(std::move(deviceExists))
    , m_reopen(std::move(reopen))
{
    m_poll.setInterval(PollMs);
    m_settle.setInterval(SettleMs);
    m_settle.setSingleShot(true);
    connect(&m_poll, &QTimer::timeout, this, &Reconnector::poll);
    connect(&m_settle, &QTimer::timeout, this, &Reconnector::settled);
}

void Reconnector::watch()
{
    if (!isWatching())
        m_poll.start();
}

void Reconnector::stop()
{
    m_poll.stop();
    m_settle.stop();
}

void Reconnector::poll()
{
    if (!m_deviceExists())
        return;
    m_poll.stop();
    m_settle.start();
}

void Reconnector::settled()
{
    // Gone again while settling (a loose plug): keep waiting.
    if (m_deviceExists()) {
        m_reopening = true;
        const bool open = m_reopen();
        m_reopening = false;
        if (open)
            return;
    }
    m_poll.start();
}

void Reconnector::portChosen()
{
    stop();
    m_absenceTold = false;
}

bool Reconnector::tells(int number, bool warningOnScreen)
{
    if (m_reopening)
        return false;
    const bool lost = number == CommError::DeviceLost;
    if (!lost && number != CommError::PortNotFound)
        return true;
    const bool worked = lost && m_sinceOpened.isValid() && m_sinceOpened.elapsed() >= WorkingSessionMs;
    const bool toldBefore = (m_absenceTold && !worked) || warningOnScreen;
    m_absenceTold = true;
    watch();
    return !toldBefore;
}
