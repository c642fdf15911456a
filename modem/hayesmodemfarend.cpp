// SPDX-License-Identifier: MIT
#include "hayesmodemfarend.h"

#ifdef Q_OS_UNIX
#include "fileservice.h"
#endif

#include <QList>

namespace {

// Sends back every line it gets; a line reading BYE ends the call.
class EchoService : public HayesModemFarEnd
{
public:
    EchoService(QByteArray greeting, QObject *parent)
        : HayesModemFarEnd(parent)
        , m_greeting(std::move(greeting))
    {
    }

    void start() override { Q_EMIT send(m_greeting); }

    void receive(QByteArrayView bytes) override
    {
        for (const char c : bytes) {
            if (c == '\n')
                continue;
            if (c != '\r') {
                m_line += c;
                // A line nobody ends still comes back, in pieces of a sane size.
                if (m_line.size() < MaxLine)
                    continue;
            }
            const QByteArray line = std::exchange(m_line, QByteArray());
            Q_EMIT send(line + "\r\n");
            if (line.trimmed().compare("BYE", Qt::CaseInsensitive) == 0) {
                Q_EMIT send("Goodbye.\r\n");
                Q_EMIT hangUp();
                return;
            }
        }
    }

private:
    static constexpr qsizetype MaxLine = 256;
    QByteArray m_greeting;
    QByteArray m_line;
};

// Answers, promises to call back and puts the phone down.
class CallbackService : public HayesModemFarEnd
{
public:
    using HayesModemFarEnd::HayesModemFarEnd;

    void start() override
    {
        Q_EMIT send("Callback service: hang on, we will call you back.\r\n");
        Q_EMIT callBack();
        Q_EMIT hangUp();
    }

    void receive(QByteArrayView) override {}
};

HayesModemFarEnd *createEcho(QObject *parent)
{
    return new EchoService("Welcome to the echo service. Every line you send comes back; "
                           "send BYE to hang up.\r\n",
                           parent);
}

HayesModemFarEnd *createCallback(QObject *parent)
{
    return new CallbackService(parent);
}

#ifdef Q_OS_UNIX
HayesModemFarEnd *createFileService(QObject *parent)
{
    return new FileService(parent);
}
#endif

} // namespace

namespace HayesModemDirectory {

Entry lookUp(QByteArrayView digits)
{
    if (digits == EchoNumber)
        return {Outcome::Answer, &createEcho};
    if (digits == CallbackNumber)
        return {Outcome::Answer, &createCallback};
#ifdef Q_OS_UNIX
    if (digits == FileNumber)
        return {Outcome::Answer, &createFileService};
#endif
    if (digits == BusyNumber)
        return {Outcome::Busy, nullptr};
    if (digits == NoAnswerNumber)
        return {Outcome::NoAnswer, nullptr};
    if (digits == DeadLineNumber)
        return {Outcome::NoDialtone, nullptr};
    return {Outcome::NoCarrier, nullptr};
}

HayesModemFarEnd *createCaller(QObject *parent)
{
    return new EchoService("Hello, this is the echo service calling you back. Every line you "
                           "send comes back; send BYE to hang up.\r\n",
                           parent);
}

QList<QByteArray> listing()
{
    return {
        QByteArray(EchoNumber) + "  echo service (CONNECT, echoes lines, BYE hangs up)",
        QByteArray(BusyNumber) + "  BUSY",
        QByteArray(NoAnswerNumber) + "  NO ANSWER after S7 seconds",
        QByteArray(CallbackNumber) + "  calls you back: RING, answer with ATA",
        QByteArray(DeadLineNumber) + "  NO DIALTONE",
        QByteArray(FileNumber) + "  file service (DOWNLOAD or UPLOAD by ZMODEM, needs lrzsz)",
    };
}

} // namespace HayesModemDirectory
