// SPDX-License-Identifier: MIT
// The command side of HayesModem: typing a command line and carrying it out.

#include "hayesmodem.h"

#include "hayesmodemfarend.h"

#include <QTimer>

namespace {

constexpr int OffHookMs = 500;       // picking up and hearing the dial tone
constexpr int ToneDigitMs = 100;
constexpr int PulseGapMs = 700;      // between the pulse trains of two digits
constexpr int PulseMs = 100;
constexpr int WaitForToneMs = 1000;  // W
constexpr int FlashMs = 500;         // ! and @
constexpr int RingBackMs = 2000;     // the far end's phone ringing before it answers
constexpr int BusyToneMs = 1500;
constexpr int NobodyAnswersMs = 6000; // a telephone without a modem: voice, then nothing

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The number following a command letter; `fallback` when there is none.
// Values above 999 are clamped so no number of digits can overflow.
int readNumber(const QByteArray &line, qsizetype &pos, int fallback)
{
    if (pos >= line.size() || !isDigit(line[pos]))
        return fallback;
    int n = 0;
    while (pos < line.size() && isDigit(line[pos])) {
        n = std::min(n * 10 + (line[pos] - '0'), 1000);
        ++pos;
    }
    return n;
}

QByteArray threeDigits(int n)
{
    return QByteArray::number(n).rightJustified(3, '0');
}

} // namespace

void HayesModem::commandByte(char c)
{
    if (m_profile.echo)
        emitRaw(QByteArray(1, c));

    if (uchar(c) == m_profile.s[3]) {
        const QByteArray line = std::exchange(m_lineBuffer, QByteArray());
        const bool tooLong = std::exchange(m_lineTooLong, false) || line.size() > 2 + MaxCommandLength;
        // Anything but a command line passes without a word, as on real modems.
        if (line.size() < 2 || upper(line[1]) != 'T')
            return;
        if (tooLong) {
            emitResult(Error);
            return;
        }
        m_lastLine = line.mid(2);
        executeLine(m_lastLine);
        return;
    }
    if (uchar(c) == m_profile.s[5]) {
        m_lineBuffer.chop(1);
        return;
    }

    if (m_lineBuffer.isEmpty()) {
        if (upper(c) == 'A')
            m_lineBuffer = QByteArray(1, c);
        return;
    }
    if (m_lineBuffer.size() == 1 && c == '/') {
        m_lineBuffer.clear();
        executeLine(m_lastLine);
        return;
    }
    // Spaces and control characters never belong to a command.
    if (c == ' ' || uchar(c) < 0x20 || uchar(c) == 0x7f)
        return;
    // One character past the limit is kept so that a backspace brings the
    // line back within it; beyond that the buffer has overflowed for good.
    if (m_lineBuffer.size() < 2 + MaxCommandLength + 1)
        m_lineBuffer += c;
    else
        m_lineTooLong = true;
}

void HayesModem::executeLine(const QByteArray &commands)
{
    ResultCode final = Ok;
    bool answered = false;
    qsizetype pos = 0;
    while (pos < commands.size()) {
        if (!executeCommand(commands, pos, final, answered)) {
            emitResult(Error);
            return;
        }
        if (answered)
            return; // the command gives its own result, now or when the call settles
    }
    emitResult(final);
}

bool HayesModem::executeCommand(const QByteArray &line, qsizetype &pos, ResultCode &final, bool &answered)
{
    const char command = upper(line[pos++]);
    switch (command) {
    case 'A':
        if (m_state != State::Command)
            return false;
        answer();
        answered = true;
        return true;
    case 'D': {
        if (m_state != State::Command)
            return false;
        const QByteArray dialString = line.mid(pos);
        pos = line.size();
        if (!startDial(dialString))
            return false;
        answered = m_state == State::Dialling;
        return true;
    }
    case 'E': {
        const int n = readNumber(line, pos, 0);
        if (n > 1)
            return false;
        m_profile.echo = n == 1;
        return true;
    }
    case 'H': {
        const int n = readNumber(line, pos, 0);
        if (n > 1)
            return false;
        if (n == 0) {
            if (carrier())
                final = NoCarrier;
            hangUp();
        }
        return true;
    }
    case 'I': {
        const int n = readNumber(line, pos, 0);
        if (n > 3)
            return false;
        emitInfo(identification(n));
        return true;
    }
    case 'L':
    case 'M':
    case 'X': {
        // Speaker and result-set choices: kept for the listing, nothing else.
        const int n = readNumber(line, pos, 0);
        if (n > (command == 'X' ? 4 : 3))
            return false;
        if (command == 'L')
            m_profile.speakerVolume = n;
        else if (command == 'M')
            m_profile.speakerMode = n;
        else
            m_profile.resultSet = n;
        return true;
    }
    case 'O': {
        const int n = readNumber(line, pos, 0);
        if (n > 1)
            return false;
        answered = true;
        if (m_state != State::OnlineCommand) {
            emitResult(NoCarrier);
            return true;
        }
        emitResult(Connect);
        enterData();
        return true;
    }
    case 'Q':
    case 'V': {
        const int n = readNumber(line, pos, 0);
        if (n > 1)
            return false;
        if (command == 'Q')
            m_profile.quiet = n == 1;
        else
            m_profile.verbose = n == 1;
        return true;
    }
    case 'Z': {
        const int n = readNumber(line, pos, 0);
        if (n > 1)
            return false;
        if (carrier() || m_state != State::Command)
            hangUp();
        resetProfile(m_stored);
        return true;
    }
    case 'S':
        return executeRegister(line, pos);
    case '&':
        return executeAmpersand(line, pos);
    default:
        return false;
    }
}

bool HayesModem::executeAmpersand(const QByteArray &line, qsizetype &pos)
{
    if (pos >= line.size())
        return false;
    const char command = upper(line[pos++]);
    const int n = readNumber(line, pos, 0);
    switch (command) {
    case 'C':
        if (n > 1)
            return false;
        m_profile.carrierDetect = n;
        updateLines();
        return true;
    case 'D':
        if (n > 3)
            return false;
        m_profile.dtrMode = n;
        return true;
    case 'F':
        if (n != 0)
            return false;
        resetProfile(Profile{});
        return true;
    case 'V':
        if (n != 0)
            return false;
        emitInfo(configurationListing());
        return true;
    case 'W':
        if (n != 0)
            return false;
        m_stored = m_profile;
        return true;
    default:
        return false;
    }
}

bool HayesModem::executeRegister(const QByteArray &line, qsizetype &pos)
{
    const int n = readNumber(line, pos, -1);
    if (n < 0 || n >= RegisterCount || pos >= line.size())
        return false;
    const char op = line[pos++];
    if (op == '?') {
        emitInfo({threeDigits(m_profile.s[size_t(n)])});
        return true;
    }
    if (op != '=')
        return false;
    const int value = readNumber(line, pos, 0);
    // Characters that frame and edit lines must be 7-bit.
    const int limit = (n == 3 || n == 4 || n == 5) ? 127 : 255;
    if (value > limit)
        return false;
    m_profile.s[size_t(n)] = value;
    return true;
}

bool HayesModem::startDial(QByteArrayView dialString)
{
    QByteArray digits;
    bool pulse = m_profile.pulse;
    bool stayInCommand = false;
    int ms = OffHookMs;
    for (const char raw : dialString) {
        const char c = upper(raw);
        if (isDigit(c) || c == '*' || c == '#' || (c >= 'A' && c <= 'D')) {
            digits += c;
            const int pulses = c == '0' ? 10 : isDigit(c) ? c - '0' : 1;
            ms += pulse ? pulses * PulseMs + PulseGapMs : ToneDigitMs;
        } else if (c == 'T' || c == 'P') {
            pulse = c == 'P';
        } else if (c == 'W') {
            ms += WaitForToneMs;
        } else if (c == ',') {
            ms += m_profile.s[8] * 1000;
        } else if (c == '!' || c == '@') {
            ms += FlashMs;
        } else if (c == ';') {
            stayInCommand = true;
            break;
        } else if (c != '-' && c != '(' && c != ')' && c != '.' && c != 'R') {
            return false;
        }
    }
    m_profile.pulse = pulse;
    // A voice call: the number is dialled and the modem stays at the user's disposal.
    if (stayInCommand)
        return true;

    const HayesModemDirectory::Entry entry = HayesModemDirectory::lookUp(digits);
    const int carrierWait = m_profile.s[7] * 1000;
    int total = carrierWait;
    ResultCode outcome = NoCarrier;
    switch (entry.outcome) {
    case HayesModemDirectory::Outcome::Answer:
        total = ms + RingBackMs + TrainingMs;
        outcome = Connect;
        break;
    case HayesModemDirectory::Outcome::Busy:
        total = ms + BusyToneMs;
        outcome = Busy;
        break;
    case HayesModemDirectory::Outcome::NoAnswer:
        outcome = NoAnswer;
        break;
    case HayesModemDirectory::Outcome::NoDialtone:
        total = m_profile.s[6] * 1000;
        outcome = NoDialtone;
        break;
    case HayesModemDirectory::Outcome::NoCarrier:
        total = ms + NobodyAnswersMs;
        break;
    }
    // Nothing may take longer than the modem waits for a carrier.
    if (total > carrierWait && outcome != NoDialtone) {
        total = carrierWait;
        outcome = outcome == NoAnswer ? NoAnswer : NoCarrier;
    }
    m_state = State::Dialling;
    m_callOutcome = outcome;
    m_pendingFarEnd = outcome == Connect ? entry.create : nullptr;
    schedule(m_callTimer, total);
    return true;
}

QList<QByteArray> HayesModem::identification(int n) const
{
    switch (n) {
    case 0:
        return {"MODEMTERM SIMULATED MODEM"};
    case 1:
        return {"241"};
    case 2:
        return {"ROM OK"};
    default:
        return {"Modemterm Hayes-compatible simulated modem, firmware " MODEMTERM_VERSION};
    }
}

QList<QByteArray> HayesModem::profileListing(const Profile &p)
{
    const auto flag = [](const char *name, int value) { return name + QByteArray::number(value); };
    QList<QByteArray> lines;
    lines << QList<QByteArray>{flag("E", p.echo), flag("L", p.speakerVolume),
                               flag("M", p.speakerMode), flag("Q", p.quiet),
                               QByteArray(p.pulse ? "P" : "T"), flag("V", p.verbose),
                               flag("X", p.resultSet), flag("&C", p.carrierDetect),
                               flag("&D", p.dtrMode)}
                 .join(' ');
    QByteArray row;
    for (int i = 0; i < RegisterCount; ++i) {
        row += "S" + QByteArray::number(i).rightJustified(2, '0') + ":" + threeDigits(p.s[size_t(i)]);
        if (i == 6 || i == RegisterCount - 1) {
            lines << row;
            row.clear();
        } else {
            row += ' ';
        }
    }
    return lines;
}

QList<QByteArray> HayesModem::configurationListing() const
{
    QList<QByteArray> lines{"ACTIVE PROFILE:"};
    lines << profileListing(m_profile) << QByteArray() << "STORED PROFILE 0:"
          << profileListing(m_stored) << QByteArray();
    lines << "LINE: " + m_line.toString().toLatin1() + "   CARRIER: "
                 + (carrier() ? connectText().mid(8) : QByteArray("NONE"));
    lines << QByteArray() << "DIRECTORY:";
    lines << HayesModemDirectory::listing();
    return lines;
}
