// SPDX-License-Identifier: MIT
#include "hayesmodem.h"

#include "hayesmodemfarend.h"
#include "hayesmodempacer.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// How long the stages of a call take at time scale 1, in milliseconds.
constexpr int RingCadenceMs = 6000;
constexpr int CallBackMs = 3000;  // from the service's hang-up to the first RING
constexpr int RingsBeforeCallerGivesUp = 10;
constexpr int GuardUnitMs = 20;   // S12 counts fiftieths of a second

double bitsPerCharacter(const LineSettings &s)
{
    const double stop = s.stopBits == LineSettings::StopBits::One          ? 1.0
                        : s.stopBits == LineSettings::StopBits::OneAndHalf ? 1.5
                                                                           : 2.0;
    return 1.0 + s.dataBits + (s.parity == LineSettings::Parity::None ? 0.0 : 1.0) + stop;
}

QTimer *singleShotTimer(QObject *parent)
{
    auto *timer = new QTimer(parent);
    timer->setSingleShot(true);
    return timer;
}

} // namespace

HayesModem::HayesModem(QObject *parent)
    : QObject(parent)
    , m_pacer(new HayesModemPacer(this))
    , m_callTimer(singleShotTimer(this))
    , m_ringTimer(singleShotTimer(this))
    , m_callBackTimer(singleShotTimer(this))
    , m_guardTimer(singleShotTimer(this))
    , m_escapeTimer(singleShotTimer(this))
{
    m_guardTimer->setTimerType(Qt::PreciseTimer);
    m_escapeTimer->setTimerType(Qt::PreciseTimer);
    connect(m_pacer, &HayesModemPacer::released, this, &HayesModem::outputReady);

    connect(m_callTimer, &QTimer::timeout, this, [this] {
        if (m_state != State::Dialling && m_state != State::Answering)
            return;
        if (m_callOutcome == Connect && m_pendingFarEnd)
            connectCall(m_pendingFarEnd(this));
        else
            finishCall(m_callOutcome == Connect ? NoCarrier : m_callOutcome);
    });
    connect(m_callBackTimer, &QTimer::timeout, this, &HayesModem::ring);
    connect(m_ringTimer, &QTimer::timeout, this, [this] {
        if (m_ringsLeft > 0) {
            ringOnce();
        } else {
            // The caller gave up.
            stopRinging();
        }
    });
    connect(m_guardTimer, &QTimer::timeout, this, [this] { m_guardPassed = true; });
    connect(m_escapeTimer, &QTimer::timeout, this, [this] {
        if (m_state == State::Data && m_plusCount == 3)
            enterOnlineCommand();
    });

    setLineSettings(m_line);
}

HayesModem::~HayesModem() = default;

void HayesModem::receive(QByteArrayView bytes)
{
    for (const char c : bytes) {
        switch (m_state) {
        case State::Command:
        case State::OnlineCommand:
            commandByte(c);
            break;
        case State::Dialling:
        case State::Answering:
            // Any key abandons the call; a line feed trailing the command's
            // carriage return is not a key.
            if (c != '\n')
                finishCall(NoCarrier);
            break;
        case State::Data:
            dataByte(c);
            break;
        }
    }
}

QByteArray HayesModem::takeOutput()
{
    QByteArray out = m_pacer->take();
    if (m_farEnd && !out.isEmpty())
        m_farEnd->lineFreed();
    return out;
}

qsizetype HayesModem::outputAvailable() const
{
    return m_pacer->available();
}

void HayesModem::discardOutput()
{
    m_pacer->clear();
    if (m_farEnd)
        m_farEnd->lineFreed();
}

void HayesModem::reset()
{
    m_callBackPending = false;
    m_callBackTimer->stop();
    hangUp();
    resetProfile(m_stored);
    m_lineBuffer.clear();
    m_lineTooLong = false;
    setLineSettings(LineSettings());
    discardOutput();
}

void HayesModem::setDtr(bool on)
{
    if (on == m_dtr)
        return;
    m_dtr = on;
    updateLines();
    if (!on)
        dtrDropped();
}

void HayesModem::setRts(bool on)
{
    if (on == m_rts)
        return;
    m_rts = on;
    updateLines();
}

void HayesModem::setLineSettings(const LineSettings &settings)
{
    m_line = settings;
    m_pacer->setCharactersPerSecond(settings.baudRate / bitsPerCharacter(settings));
}

void HayesModem::setPacing(bool on)
{
    m_pacer->setEnabled(on);
}

bool HayesModem::pacing() const
{
    return m_pacer->isEnabled();
}

void HayesModem::setTimeScale(double scale)
{
    m_timeScale = std::isfinite(scale) && scale > 0.0 ? scale : 0.0;
}

void HayesModem::ring()
{
    if (m_state != State::Command || isRinging())
        return;
    m_ringing = true;
    m_ringsLeft = RingsBeforeCallerGivesUp;
    ringOnce();
}

void HayesModem::ringOnce()
{
    --m_ringsLeft;
    int &rings = m_profile.s[1];
    rings = std::min(rings + 1, 255);
    emitResult(Ring);
    const int autoAnswer = m_profile.s[0];
    if (autoAnswer > 0 && rings >= autoAnswer) {
        answer();
        return;
    }
    schedule(m_ringTimer, RingCadenceMs);
}

void HayesModem::stopRinging()
{
    m_ringing = false;
    m_ringsLeft = 0;
    m_profile.s[1] = 0;
    m_ringTimer->stop();
}

void HayesModem::answer()
{
    const bool caller = isRinging();
    stopRinging();
    m_state = State::Answering;
    m_callOutcome = caller ? Connect : NoCarrier;
    m_pendingFarEnd = caller ? &HayesModemDirectory::createCaller : nullptr;
    schedule(m_callTimer, TrainingMs);
}

void HayesModem::connectCall(HayesModemFarEnd *farEnd)
{
    m_callTimer->stop();
    m_pendingFarEnd = nullptr;
    m_farEnd = farEnd;
    // Room only while in data mode: what comes in online command mode is lost anyway.
    farEnd->setLineRoom([this] {
        return m_state == State::Data ? std::max<qsizetype>(HayesModemPacer::Capacity - m_pacer->backlog(), 0) : 0;
    });
    connect(farEnd, &HayesModemFarEnd::send, this, [this](const QByteArray &bytes) {
        // Whatever arrives while the user is in online command mode is lost.
        if (m_state == State::Data)
            emitRaw(bytes);
    });
    connect(farEnd, &HayesModemFarEnd::callBack, this, [this] { m_callBackPending = true; });
    connect(farEnd, &HayesModemFarEnd::hangUp, this, [this] {
        if (!carrier())
            return;
        hangUp();
        emitResult(NoCarrier);
    });
    emitResult(Connect);
    enterData();
    updateLines();
    farEnd->start();
}

void HayesModem::finishCall(ResultCode result)
{
    m_callTimer->stop();
    m_pendingFarEnd = nullptr;
    m_state = State::Command;
    emitResult(result);
}

void HayesModem::hangUp()
{
    m_callTimer->stop();
    m_guardTimer->stop();
    m_escapeTimer->stop();
    m_pendingFarEnd = nullptr;
    m_plusCount = 0;
    if (HayesModemFarEnd *farEnd = m_farEnd) {
        m_farEnd = nullptr;
        farEnd->disconnect(this);
        // It may be the sender whose signal brought us here.
        farEnd->deleteLater();
    }
    m_state = State::Command;
    stopRinging();
    updateLines();
    if (std::exchange(m_callBackPending, false))
        schedule(m_callBackTimer, CallBackMs);
}

void HayesModem::enterData()
{
    m_state = State::Data;
    if (m_farEnd)
        m_farEnd->lineFreed(); // back from commands: the far end may talk again
    m_plusCount = 0;
    m_escapeTimer->stop();
    const int guard = m_profile.s[12];
    m_guardPassed = guard == 0;
    if (guard > 0)
        schedule(m_guardTimer, guard * GuardUnitMs);
}

void HayesModem::dataByte(char c)
{
    const int escape = m_profile.s[2];
    const int guard = m_profile.s[12];
    const bool escapeChar = escape <= 127 && uchar(c) == escape;

    if (m_plusCount == 3) {
        // Data inside the guard time after the escape: it was data after all.
        m_escapeTimer->stop();
        m_plusCount = 0;
    }
    if (escapeChar && (m_plusCount > 0 || m_guardPassed))
        ++m_plusCount;
    else
        m_plusCount = 0;

    m_guardPassed = guard == 0;
    if (guard > 0)
        schedule(m_guardTimer, guard * GuardUnitMs);

    // The escape characters travel as data; only the silence after them decides.
    if (m_farEnd)
        m_farEnd->receive(QByteArrayView(&c, 1));

    if (m_plusCount == 3 && m_state == State::Data) {
        if (guard > 0)
            schedule(m_escapeTimer, guard * GuardUnitMs);
        else
            enterOnlineCommand();
    }
}

// Back to commands with the call kept, as after a guarded "+++".
void HayesModem::enterOnlineCommand()
{
    m_escapeTimer->stop();
    m_plusCount = 0;
    m_state = State::OnlineCommand;
    emitResult(Ok);
}

void HayesModem::dtrDropped()
{
    switch (m_profile.dtrMode) {
    case 0:
        return;
    case 1:
        if (m_state == State::Data)
            enterOnlineCommand();
        return;
    default:
        break;
    }
    if (m_state == State::Dialling || m_state == State::Answering) {
        finishCall(NoCarrier);
    } else if (carrier()) {
        hangUp();
        emitResult(NoCarrier);
    }
    if (m_profile.dtrMode == 3)
        resetProfile(m_stored);
}

void HayesModem::resetProfile(const Profile &profile)
{
    m_profile = profile;
    updateLines();
}

void HayesModem::updateLines()
{
    const bool dsr = m_dtr;
    const bool cts = m_rts;
    const bool cd = m_profile.carrierDetect == 0 || carrier();
    if (dsr != m_dsr) {
        m_dsr = dsr;
        Q_EMIT dsrChanged(dsr);
    }
    if (cts != m_cts) {
        m_cts = cts;
        Q_EMIT ctsChanged(cts);
    }
    if (cd != m_cd) {
        m_cd = cd;
        Q_EMIT cdChanged(cd);
    }
}

QByteArray HayesModem::connectText() const
{
    return "CONNECT " + QByteArray::number(m_line.baudRate);
}

void HayesModem::emitResult(ResultCode code)
{
    if (m_profile.quiet)
        return;
    const QByteArray s3(1, char(m_profile.s[3]));
    const QByteArray s4(1, char(m_profile.s[4]));
    if (!m_profile.verbose) {
        emitRaw(QByteArray::number(int(code)) + s3);
        return;
    }
    QByteArray text;
    switch (code) {
    case Ok: text = "OK"; break;
    case Connect: text = connectText(); break;
    case Ring: text = "RING"; break;
    case NoCarrier: text = "NO CARRIER"; break;
    case Error: text = "ERROR"; break;
    case NoDialtone: text = "NO DIALTONE"; break;
    case Busy: text = "BUSY"; break;
    case NoAnswer: text = "NO ANSWER"; break;
    }
    emitRaw(s3 + s4 + text + s3 + s4);
}

void HayesModem::emitInfo(const QList<QByteArray> &lines)
{
    const QByteArray eol = QByteArray(1, char(m_profile.s[3])) + char(m_profile.s[4]);
    QByteArray text = lines.join(eol) + eol;
    if (m_profile.verbose)
        text.prepend(eol);
    emitRaw(text);
}

void HayesModem::emitRaw(const QByteArray &bytes)
{
    m_pacer->push(bytes);
}

int HayesModem::delay(int ms) const
{
    return int(std::lround(ms * m_timeScale));
}

void HayesModem::schedule(QTimer *timer, int ms)
{
    timer->start(delay(ms));
}
