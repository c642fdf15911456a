// SPDX-License-Identifier: MIT
#include "reconnector.h"

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
    if (m_deviceExists() && m_reopen())
        return;
    m_poll.start();
}
