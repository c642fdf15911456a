// SPDX-License-Identifier: MIT
#include "ptymodem.h"

#include "commerror.h"
#include "hayesmodem.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <termios.h>
#include <unistd.h>

namespace {

// Output kept for a terminal side nobody reads; beyond this it is dropped,
// as bytes sent down a cable nobody listens to are.
constexpr qsizetype MaxPending = 64 * 1024;
// Output is taken from the modem while less than this waits for the terminal side.
constexpr qsizetype TakeBelow = 4096;

qint32 baudOf(speed_t speed)
{
    static constexpr struct { speed_t code; qint32 baud; } speeds[] = {
        {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200},
        {B300, 300}, {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400},
        {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800},
        {B921600, 921600},
    };
    for (const auto &s : speeds) {
        if (s.code == speed)
            return s.baud;
    }
    return 0;
}

CommError systemError(const char *what)
{
    return CommError(CommError::UnknownFailure,
                     QStringLiteral("%1: %2").arg(QLatin1StringView(what),
                                                  QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

PtyModem::PtyModem(QObject *parent)
    : QObject(parent)
    , m_modem(new HayesModem(this))
{
    m_modem->setDtr(true);
    m_modem->setRts(true);
    connect(m_modem, &HayesModem::outputReady, this, &PtyModem::takeFromModem);
}

PtyModem::~PtyModem() = default;

void PtyModem::open()
{
    if (!m_pty.open())
        throw systemError("openpty");
    m_master = m_pty.masterFd();
    m_slaveKeeper = m_pty.terminalFd();
    m_path = m_pty.path();

    m_readable = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readable, &QSocketNotifier::activated, this, &PtyModem::readFromTerminal);
    m_writable = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &PtyModem::writeToTerminal);
    followLineSettings();
}

void PtyModem::readFromTerminal()
{
    // A few reads a turn: a terminal that never stops sending must not keep
    // the event loop (and a request to quit) waiting.
    char buf[4096];
    for (int reads = 0; reads < 16; ++reads) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            // The program may have changed the speed since it last wrote.
            followLineSettings();
            m_modem->receive(QByteArrayView(buf, n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EIO) {
            // Only if our own keeper was lost; nothing can be read until a
            // program opens the terminal side again, so stop listening to
            // avoid a notifier firing without end.
            m_readable->setEnabled(false);
        }
        return;
    }
}

void PtyModem::takeFromModem()
{
    // While the terminal side is behind, output stays in the modem, where a
    // far end that minds the line (the file service) sees it and waits.
    if (m_pending.size() >= TakeBelow && m_modem->outputAvailable() <= MaxPending)
        return;
    m_pending += m_modem->takeOutput();
    if (m_pending.size() > MaxPending)
        m_pending.remove(0, m_pending.size() - MaxPending);
    writeToTerminal();
}

void PtyModem::writeToTerminal()
{
    while (!m_pending.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // full (EAGAIN) or failing: try again when writable
    }
    if (m_writable)
        m_writable->setEnabled(!m_pending.isEmpty());
    if (m_pending.size() < TakeBelow && m_modem->outputAvailable() > 0)
        QMetaObject::invokeMethod(this, &PtyModem::takeFromModem, Qt::QueuedConnection);
}

void PtyModem::followLineSettings()
{
    termios tio{};
    if (::tcgetattr(m_slaveKeeper, &tio) != 0)
        return;
    LineSettings s = m_modem->lineSettings();
    if (const qint32 baud = baudOf(::cfgetospeed(&tio)))
        s.baudRate = baud;
    switch (tio.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
    }
    s.parity = !(tio.c_cflag & PARENB) ? LineSettings::Parity::None
               : (tio.c_cflag & PARODD) ? LineSettings::Parity::Odd
                                        : LineSettings::Parity::Even;
    s.stopBits = (tio.c_cflag & CSTOPB) ? LineSettings::StopBits::Two : LineSettings::StopBits::One;
    if (!(s == m_modem->lineSettings()))
        m_modem->setLineSettings(s);
}
