#include "fakecomm.h"

#include <utility>

namespace {

// Bytes as in C source: printable ASCII as is, \r \n \t, others \xNN.
QString escaped(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes) {
        const uchar b = uchar(c);
        if (b == '\r' || b == '\n' || b == '\t')
            out += QLatin1String(b == '\r' ? "\\r" : b == '\n' ? "\\n" : "\\t");
        else if (b >= 0x20 && b < 0x7f && b != '\\')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

void FakeComm::record(Operation op, const QString &entry) const
{
    m_log.append(entry);
    if (m_failures.contains(op))
        throw m_failures.take(op);
}

void FakeComm::setPortOpen(bool open)
{
    record(open ? OpenPort : ClosePort, onOff("PortOpen", open));
    if (open && m_open)
        throw CommError(CommError::PortAlreadyOpen);
    m_open = open;
}

void FakeComm::setOutput(const QByteArray &bytes)
{
    record(SetOutput, QStringLiteral("Output=") + escaped(bytes));
    if (!m_open)
        throw CommError(CommError::PortNotOpen);
    m_writes.append(bytes);
}

QByteArray FakeComm::Input()
{
    record(TakeInput, QStringLiteral("Input"));
    if (!m_open)
        throw CommError(CommError::PortNotOpen);
    return std::exchange(m_input, {});
}
