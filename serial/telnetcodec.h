// SPDX-License-Identifier: MIT
#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>

// Telnet as a serial line travels over TCP (RFC 854, 856, 858 and the
// COM-PORT option of RFC 2217), without any I/O: bytes from the peer go in,
// data bytes, answers for the peer and COM-PORT events come out. The same
// codec serves both ends; the role decides who offers COM-PORT and how the
// commands are numbered on the wire (the server's are 100 higher).
//
// Decoding never loses a data byte nor passes one that was protocol: IAC IAC
// is one 0xFF, and commands or subnegotiations split across reads are put
// together again from the state kept between calls.
class TelnetCodec
{
public:
    enum class Role { Client, Server };

    // COM-PORT commands as the client numbers them.
    enum Command : quint8 {
        Signature = 0,
        SetBaudRate = 1,
        SetDataSize = 2,
        SetParity = 3,
        SetStopSize = 4,
        SetControl = 5,
        NotifyLineState = 6,
        NotifyModemState = 7,
        FlowControlSuspend = 8,
        FlowControlResume = 9,
        SetLineStateMask = 10,
        SetModemStateMask = 11,
        PurgeData = 12,
    };
    static constexpr quint8 ServerOffset = 100;

    // The bits of NOTIFY-MODEMSTATE.
    enum ModemState : quint8 {
        DeltaCts = 0x01,
        DeltaDsr = 0x02,
        DeltaCd = 0x08,
        Cts = 0x10,
        Dsr = 0x20,
        Ri = 0x40,
        Cd = 0x80,
    };

    // Values of SET-CONTROL: outbound flow control, and the output lines.
    enum Control : quint8 {
        NoFlowControl = 1,
        XonXoffFlowControl = 2,
        HardwareFlowControl = 3,
        DtrOn = 8,
        DtrOff = 9,
        RtsOn = 11,
        RtsOff = 12,
    };

    // Whether the peer agreed to COM-PORT: until it answers, and for good if it refuses.
    enum class ComPort { Pending, Agreed, Refused };

    struct Event
    {
        enum class Kind { ComPortAgreed, ComPortRefused, Command };
        Kind kind;
        quint8 command = 0; // as the client numbers it, whichever end sent it
        QByteArray value;   // unescaped
        // Where it came in the stream: the size the data had reached.
        qsizetype at = 0;
    };

    explicit TelnetCodec(Role role);

    // What this end says first: the options it offers and asks for.
    QByteArray start();

    // Takes bytes from the peer: data goes to `data`, what must be answered to
    // `reply`, and COM-PORT happenings wait in takeEvents().
    void decode(QByteArrayView in, QByteArray &data, QByteArray &reply);
    QList<Event> takeEvents();

    ComPort comPort() const { return m_comPort; }

    // Data for the wire: every 0xFF doubled.
    static void encodeData(QByteArrayView data, QByteArray &out);
    // One COM-PORT subnegotiation, numbered for this end's role.
    QByteArray command(Command command, QByteArrayView value) const;
    QByteArray command(Command command, quint8 value) const;
    // SET-BAUDRATE, SET-DATASIZE, SET-PARITY and SET-STOPSIZE for `settings`.
    QByteArray lineSettingsCommands(const LineSettings &settings) const;
    // Applies one received SET-* command to `settings`; false if it names no
    // setting or a value outside the protocol (a request for the current
    // value, 0, changes nothing and is not an error).
    static bool applySetting(const Event &event, LineSettings &settings);
    // The value a server reports back for a SET-* command it applied.
    static QByteArray settingValue(Command command, const LineSettings &settings);

private:
    enum class State { Data, Iac, Option, SubOption, SubData, SubIac };
    enum Verb : quint8 { Will = 251, Wont = 252, Do = 253, Dont = 254 };
    static constexpr int OptionCount = 256;
    static constexpr qsizetype MaxSubnegotiation = 64;

    struct Option
    {
        bool supported = false;
        bool enabled = false;
        bool requested = false; // asked for, answer awaited
    };

    void negotiate(quint8 verb, quint8 option, QByteArray &reply, qsizetype at);
    void request(quint8 verb, quint8 option, QByteArray &out);
    void finishSubnegotiation(qsizetype at);
    void comPortChanged(qsizetype at);

    Role m_role;
    State m_state = State::Data;
    quint8 m_verb = 0;
    bool m_subOverflow = false;
    quint8 m_subOption = 0;
    QByteArray m_sub;
    std::array<Option, OptionCount> m_local{};  // what this end does (WILL/WONT)
    std::array<Option, OptionCount> m_remote{}; // what the peer does (DO/DONT)
    ComPort m_comPort = ComPort::Pending;
    QList<Event> m_events;
};
