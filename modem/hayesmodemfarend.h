// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>

#include <functional>

// What answers at the other end of a call: a small service that talks over
// the carrier once the modems have connected.
class HayesModemFarEnd : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // The carrier is up; the service may greet.
    virtual void start() = 0;
    // Bytes the local user sent over the line.
    virtual void receive(QByteArrayView bytes) = 0;
    // Room was made on the line (the modem's buffer drained some).
    virtual void lineFreed() {}

    // How many bytes the modem's buffer towards the user still takes without
    // dropping any; set by the modem when the call connects.
    void setLineRoom(std::function<qsizetype()> room) { m_lineRoom = std::move(room); }
    qsizetype lineRoom() const { return m_lineRoom ? m_lineRoom() : 0; }

Q_SIGNALS:
    void send(const QByteArray &bytes);
    // The service puts the phone down; the carrier drops.
    void hangUp();
    // The service will call the local modem once the line is free.
    void callBack();

private:
    std::function<qsizetype()> m_lineRoom;
};

// The telephone directory of the simulated network. Every number not listed
// is a telephone without a modem: it answers, but no carrier ever comes.
namespace HayesModemDirectory {

inline constexpr char EchoNumber[] = "123";     // greets, echoes every line, hangs up on BYE
inline constexpr char BusyNumber[] = "555";     // BUSY
inline constexpr char NoAnswerNumber[] = "777"; // rings until S7 runs out: NO ANSWER
inline constexpr char CallbackNumber[] = "999"; // hangs up, then calls back (RING)
inline constexpr char DeadLineNumber[] = "000"; // NO DIALTONE
inline constexpr char FileNumber[] = "700";     // sends and receives files by ZMODEM (lrzsz)

enum class Outcome { Answer, Busy, NoAnswer, NoDialtone, NoCarrier };

struct Entry
{
    Outcome outcome;
    // The service answering an Answer call; null otherwise.
    HayesModemFarEnd *(*create)(QObject *parent);
};

// `digits` holds only the dialled digits, modifiers stripped.
Entry lookUp(QByteArrayView digits);

// The service that calls in when the line rings.
HayesModemFarEnd *createCaller(QObject *parent);

// One line per number, for the modem's own listing.
QList<QByteArray> listing();

} // namespace HayesModemDirectory
