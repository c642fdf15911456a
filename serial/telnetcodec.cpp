// SPDX-License-Identifier: MIT
#include "telnetcodec.h"

#include <cstring>
#include <utility>

namespace {

constexpr quint8 Iac = 255;
constexpr quint8 Sb = 250;
constexpr quint8 Se = 240;

constexpr quint8 Binary = 0;
constexpr quint8 SuppressGoAhead = 3;
constexpr quint8 ComPortOption = 44;

void putCommand(QByteArray &out, quint8 verb, quint8 option)
{
    out.append(char(Iac)).append(char(verb)).append(char(option));
}

quint8 parityCode(LineSettings::Parity parity)
{
    switch (parity) {
    case LineSettings::Parity::Odd:
        return 2;
    case LineSettings::Parity::Even:
        return 3;
    case LineSettings::Parity::Mark:
        return 4;
    case LineSettings::Parity::Space:
        return 5;
    case LineSettings::Parity::None:
        break;
    }
    return 1;
}

quint8 stopCode(LineSettings::StopBits stop)
{
    switch (stop) {
    case LineSettings::StopBits::Two:
        return 2;
    case LineSettings::StopBits::OneAndHalf:
        return 3;
    case LineSettings::StopBits::One:
        break;
    }
    return 1;
}

QByteArray bigEndian(quint32 value)
{
    const char bytes[] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    return QByteArray(bytes, 4);
}

} // namespace

TelnetCodec::TelnetCodec(Role role)
    : m_role(role)
{
    // Both ends pass bytes unchanged and without go-ahead; the client offers
    // COM-PORT and the server takes it.
    for (quint8 option : {Binary, SuppressGoAhead}) {
        m_local[option].supported = true;
        m_remote[option].supported = true;
    }
    (role == Role::Client ? m_local : m_remote)[ComPortOption].supported = true;
}

QByteArray TelnetCodec::start()
{
    QByteArray out;
    for (quint8 option : {Binary, SuppressGoAhead}) {
        request(Will, option, out);
        request(Do, option, out);
    }
    if (m_role == Role::Client)
        request(Will, ComPortOption, out);
    return out;
}

void TelnetCodec::request(quint8 verb, quint8 option, QByteArray &out)
{
    Option &o = (verb == Will ? m_local : m_remote)[option];
    if (o.enabled || o.requested)
        return;
    o.requested = true;
    putCommand(out, verb, option);
}

void TelnetCodec::decode(QByteArrayView in, QByteArray &data, QByteArray &reply)
{
    const char *p = in.data();
    const char *const end = p + in.size();
    while (p < end) {
        if (m_state == State::Data) {
            // The bulk of a flood: copy the run up to the next IAC at once.
            const auto *iac = static_cast<const char *>(std::memchr(p, char(Iac), size_t(end - p)));
            const char *runEnd = iac ? iac : end;
            data.append(p, runEnd - p);
            p = runEnd;
            if (iac) {
                m_state = State::Iac;
                ++p;
            }
            continue;
        }
        const quint8 c = quint8(*p++);
        switch (m_state) {
        case State::Data:
            break;
        case State::Iac:
            m_state = State::Data;
            if (c == Iac) {
                data.append(char(Iac));
            } else if (c >= Will && c <= Dont) {
                m_verb = c;
                m_state = State::Option;
            } else if (c == Sb) {
                m_state = State::SubOption;
            } // anything else (NOP, GA, DM, a stray SE...) carries nothing for us
            break;
        case State::Option:
            m_state = State::Data;
            negotiate(m_verb, c, reply, data.size());
            break;
        case State::SubOption:
            m_subOption = c;
            m_sub.clear();
            m_subOverflow = false;
            m_state = State::SubData;
            break;
        case State::SubData:
            if (c == Iac) {
                m_state = State::SubIac;
            } else if (m_sub.size() < MaxSubnegotiation) {
                m_sub.append(char(c));
            } else {
                m_subOverflow = true;
            }
            break;
        case State::SubIac:
            if (c == Iac) {
                m_state = State::SubData;
                if (m_sub.size() < MaxSubnegotiation)
                    m_sub.append(char(Iac));
                else
                    m_subOverflow = true;
            } else if (c == Se) {
                m_state = State::Data;
                finishSubnegotiation(data.size());
            } else {
                // A command inside a subnegotiation: the peer gave up on it.
                // Drop it and take the byte as the command it announces.
                m_state = State::Iac;
                --p;
            }
            break;
        }
    }
}

void TelnetCodec::finishSubnegotiation(qsizetype at)
{
    if (m_subOption != ComPortOption || m_subOverflow || m_sub.isEmpty())
        return;
    // Only what the agreed option allows: a server speaks as a server.
    quint8 code = quint8(m_sub.at(0));
    if (m_role == Role::Client) {
        if (code < ServerOffset)
            return;
        code -= ServerOffset;
    } else if (code >= ServerOffset) {
        return;
    }
    m_events.append({Event::Kind::Command, code, m_sub.mid(1), at});
}

void TelnetCodec::negotiate(quint8 verb, quint8 option, QByteArray &reply, qsizetype at)
{
    // DO/DONT ask about this end's side of the option, WILL/WONT tell the peer's.
    const bool aboutUs = verb == Do || verb == Dont;
    const bool enable = verb == Do || verb == Will;
    Option &o = (aboutUs ? m_local : m_remote)[option];
    const quint8 yes = aboutUs ? Will : Do;
    const quint8 no = aboutUs ? Wont : Dont;

    if (enable) {
        if (!o.supported) {
            putCommand(reply, no, option);
        } else if (!o.enabled) {
            o.enabled = true;
            if (!o.requested)
                putCommand(reply, yes, option);
        }
    } else if (o.enabled || o.requested) {
        // Never answer a refusal with another: only leaving an enabled option
        // is acknowledged, which ends any loop.
        if (o.enabled && !o.requested)
            putCommand(reply, no, option);
        o.enabled = false;
    }
    o.requested = false;
    if (&o == &(m_role == Role::Client ? m_local : m_remote)[ComPortOption])
        comPortChanged(at);
}

void TelnetCodec::comPortChanged(qsizetype at)
{
    const Option &o = (m_role == Role::Client ? m_local : m_remote)[ComPortOption];
    const ComPort now = o.enabled ? ComPort::Agreed : o.requested ? ComPort::Pending : ComPort::Refused;
    if (now == m_comPort || now == ComPort::Pending)
        return;
    m_comPort = now;
    m_events.append({now == ComPort::Agreed ? Event::Kind::ComPortAgreed : Event::Kind::ComPortRefused,
                     0, {}, at});
}

QList<TelnetCodec::Event> TelnetCodec::takeEvents()
{
    return std::exchange(m_events, {});
}

void TelnetCodec::encodeData(QByteArrayView data, QByteArray &out)
{
    const char *p = data.data();
    const char *const end = p + data.size();
    while (p < end) {
        const auto *iac = static_cast<const char *>(std::memchr(p, char(Iac), size_t(end - p)));
        if (!iac) {
            out.append(p, end - p);
            return;
        }
        out.append(p, iac - p + 1).append(char(Iac));
        p = iac + 1;
    }
}

QByteArray TelnetCodec::command(Command command, QByteArrayView value) const
{
    QByteArray out;
    out.append(char(Iac)).append(char(Sb)).append(char(ComPortOption));
    out.append(char(m_role == Role::Server ? command + ServerOffset : command));
    encodeData(value, out);
    out.append(char(Iac)).append(char(Se));
    return out;
}

QByteArray TelnetCodec::command(Command command, quint8 value) const
{
    const char byte = char(value);
    return this->command(command, QByteArrayView(&byte, 1));
}

QByteArray TelnetCodec::lineSettingsCommands(const LineSettings &s) const
{
    return command(SetBaudRate, bigEndian(quint32(s.baudRate))) + command(SetDataSize, quint8(s.dataBits))
           + command(SetParity, parityCode(s.parity)) + command(SetStopSize, stopCode(s.stopBits));
}

QByteArray TelnetCodec::settingValue(Command command, const LineSettings &s)
{
    switch (command) {
    case SetBaudRate:
        return bigEndian(quint32(s.baudRate));
    case SetDataSize:
        return QByteArray(1, char(s.dataBits));
    case SetParity:
        return QByteArray(1, char(parityCode(s.parity)));
    case SetStopSize:
        return QByteArray(1, char(stopCode(s.stopBits)));
    default:
        return {};
    }
}

bool TelnetCodec::applySetting(const Event &event, LineSettings &s)
{
    if (event.kind != Event::Kind::Command)
        return false;
    const QByteArray &v = event.value;
    if (event.command == SetBaudRate) {
        if (v.size() != 4)
            return false;
        const quint32 baud = quint32(quint8(v[0])) << 24 | quint32(quint8(v[1])) << 16
                             | quint32(quint8(v[2])) << 8 | quint8(v[3]);
        if (baud == 0)
            return true;
        if (baud < 50 || baud > 4000000)
            return false;
        s.baudRate = qint32(baud);
        return true;
    }
    if (v.size() != 1 || event.command < SetDataSize || event.command > SetStopSize)
        return false;
    const quint8 code = quint8(v[0]);
    if (code == 0)
        return true;
    switch (event.command) {
    case SetDataSize:
        if (code < 5 || code > 8)
            return false;
        s.dataBits = code;
        return true;
    case SetParity: {
        static constexpr LineSettings::Parity parities[] = {
            LineSettings::Parity::None, LineSettings::Parity::Odd, LineSettings::Parity::Even,
            LineSettings::Parity::Mark, LineSettings::Parity::Space};
        if (code > 5)
            return false;
        s.parity = parities[code - 1];
        return true;
    }
    default: { // SetStopSize
        static constexpr LineSettings::StopBits stops[] = {
            LineSettings::StopBits::One, LineSettings::StopBits::Two, LineSettings::StopBits::OneAndHalf};
        if (code > 3)
            return false;
        s.stopBits = stops[code - 1];
        return true;
    }
    }
}
