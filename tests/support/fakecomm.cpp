#include "fakecomm.h"

FakeComm::FakeComm(QObject *parent)
    : CommControl(parent)
{
}

void FakeComm::failOn(Operation op, const CommError &error, int times)
{
    m_failures.insert(op, Failure{error, times});
}

void FakeComm::setLines(bool cd, bool cts, bool dsr)
{
    m_cd = cd;
    m_cts = cts;
    m_dsr = dsr;
}

void FakeComm::queueInput(const QByteArray &bytes)
{
    m_input.append(bytes);
}

void FakeComm::receive(const QByteArray &bytes)
{
    queueInput(bytes);
    raiseComm(comEvReceive);
}

void FakeComm::fail(const CommError &error)
{
    m_open = false;
    Q_EMIT PortFailed(error);
}

QString FakeComm::escaped(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes) {
        const uchar b = uchar(c);
        if (b == '\r')
            out += QStringLiteral("\\r");
        else if (b == '\n')
            out += QStringLiteral("\\n");
        else if (b == '\t')
            out += QStringLiteral("\\t");
        else if (b >= 0x20 && b < 0x7f && b != '\\')
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
    }
    return out;
}

void FakeComm::record(Operation op, const QString &entry) const
{
    m_log.append(entry);
    auto it = m_failures.find(op);
    if (it == m_failures.end())
        return;
    const CommError error = it->error;
    if (it->remaining > 0 && --it->remaining == 0)
        m_failures.erase(it);
    throw error;
}

void FakeComm::setCommPort(int port)
{
    record(SetCommPort, QStringLiteral("CommPort=%1").arg(port));
    CommControl::setCommPort(port);
}

void FakeComm::setSettings(const QString &settings)
{
    record(SetSettings, QStringLiteral("Settings=") + settings);
    CommControl::setSettings(settings);
}

void FakeComm::setRThreshold(int threshold)
{
    record(SetRThreshold, QStringLiteral("RThreshold=%1").arg(threshold));
    CommControl::setRThreshold(threshold);
}

void FakeComm::setPortOpen(bool open)
{
    record(open ? OpenPort : ClosePort, open ? QStringLiteral("PortOpen=true")
                                             : QStringLiteral("PortOpen=false"));
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

bool FakeComm::CDHolding() const
{
    record(ReadCD, QStringLiteral("CDHolding"));
    return m_open && m_cd;
}

bool FakeComm::CTSHolding() const
{
    record(ReadCTS, QStringLiteral("CTSHolding"));
    return m_open && m_cts;
}

bool FakeComm::DSRHolding() const
{
    record(ReadDSR, QStringLiteral("DSRHolding"));
    return m_open && m_dsr;
}

void FakeComm::setDTREnable(bool on)
{
    record(SetDTR, on ? QStringLiteral("DTREnable=true") : QStringLiteral("DTREnable=false"));
    CommControl::setDTREnable(on);
}

void FakeComm::setRTSEnable(bool on)
{
    record(SetRTS, on ? QStringLiteral("RTSEnable=true") : QStringLiteral("RTSEnable=false"));
    CommControl::setRTSEnable(on);
}
