// SPDX-License-Identifier: MIT
#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QObject>
#include <QPointer>

#include <array>

class HayesModemFarEnd;
class HayesModemPacer;
class QTimer;

// A Hayes-style modem: bytes from the terminal in, bytes to the terminal out,
// plus the modem lines. Commands run synchronously inside receive(); with
// pacing off their answers are ready in takeOutput() when receive() returns.
// Calls, rings and the escape guard time run on timers of the event loop,
// shortened for tests by setTimeScale(). The modem is powered while it exists.
class HayesModem : public QObject
{
    Q_OBJECT

public:
    enum ResultCode : int {
        Ok = 0,
        Connect = 1,
        Ring = 2,
        NoCarrier = 3,
        Error = 4,
        NoDialtone = 6,
        Busy = 7,
        NoAnswer = 8,
    };

    enum class State {
        Command,       // taking commands, no carrier
        Dialling,      // a dial is under way; any byte aborts it
        Answering,     // off hook, training with the caller; any byte aborts it
        Data,          // carrier up, bytes pass to and from the far end
        OnlineCommand, // carrier up, taking commands after an escape
    };

    static constexpr int RegisterCount = 13; // S0 to S12
    // Longest command line after "AT", spaces not counted.
    static constexpr int MaxCommandLength = 40;

    explicit HayesModem(QObject *parent = nullptr);
    ~HayesModem() override;

    // Bytes the terminal sent.
    void receive(QByteArrayView bytes);
    // Bytes for the terminal, taken out. outputReady() says when some wait.
    QByteArray takeOutput();
    qsizetype outputAvailable() const;
    // Forgets output not yet taken, on the wire included (a port being opened).
    void discardOutput();
    // The modem as after ATZ, for a new user: no call, ringing or promised
    // call-back, the stored profile, no half-typed line, nothing to say, and
    // the line at 9600,N,8,1 until the terminal sets it.
    void reset();

    // The terminal's outputs.
    void setDtr(bool on);
    bool dtr() const { return m_dtr; }
    void setRts(bool on);
    bool rts() const { return m_rts; }
    // The modem's outputs.
    bool dsr() const { return m_dsr; }
    bool cts() const { return m_cts; }
    bool cd() const { return m_cd; }

    // The line between terminal and modem: pacing speed and the speed CONNECT reports.
    void setLineSettings(const LineSettings &settings);
    const LineSettings &lineSettings() const { return m_line; }
    // On by default. Off: output is released as it is produced, synchronously.
    void setPacing(bool on);
    bool pacing() const;
    // Multiplies every delay (dialling, rings, guard time); 0 makes each one
    // fire on the next turn of the event loop. Pacing is not affected.
    void setTimeScale(double scale);

    // An incoming call starts ringing (ignored unless idle in command mode).
    void ring();

    State state() const { return m_state; }
    bool carrier() const { return m_state == State::Data || m_state == State::OnlineCommand; }
    bool isRinging() const { return m_ringing; }
    // True once the guard time has passed since the last byte in data mode:
    // the moment an escape sequence may begin.
    bool escapeGuardPassed() const { return m_guardPassed; }
    int sRegister(int n) const { return m_profile.s.at(size_t(n)); }

Q_SIGNALS:
    // Bytes wait in takeOutput().
    void outputReady();
    void dsrChanged(bool on);
    void ctsChanged(bool on);
    void cdChanged(bool on);

private:
    // Modems agreeing on a carrier, after dialling or answering (ms at time scale 1).
    static constexpr int TrainingMs = 1500;

    // The settings Z, &F and &W move around.
    struct Profile
    {
        bool echo = true;
        bool quiet = false;
        bool verbose = true;
        int speakerVolume = 2;  // L
        int speakerMode = 1;    // M
        int resultSet = 4;      // X
        int carrierDetect = 1;  // &C
        int dtrMode = 2;        // &D
        bool pulse = false;     // T or P
        std::array<int, RegisterCount> s{0, 0, 43, 13, 10, 8, 2, 50, 2, 6, 14, 95, 50};
    };

    // Command line input and execution (hayesmodemcommands.cpp).
    void commandByte(char c);
    void executeLine(const QByteArray &commands);
    bool executeCommand(const QByteArray &line, qsizetype &pos, ResultCode &final, bool &deferred);
    bool executeAmpersand(const QByteArray &line, qsizetype &pos);
    bool executeRegister(const QByteArray &line, qsizetype &pos);
    bool startDial(QByteArrayView dialString);
    QList<QByteArray> identification(int n) const;
    QList<QByteArray> configurationListing() const;
    static QList<QByteArray> profileListing(const Profile &profile);

    // Calls, data mode and the lines (hayesmodem.cpp).
    void dataByte(char c);
    void emitResult(ResultCode code);
    void emitInfo(const QList<QByteArray> &lines);
    void emitRaw(const QByteArray &bytes);
    void finishCall(ResultCode result);
    void connectCall(HayesModemFarEnd *farEnd);
    void hangUp();
    void enterData();
    void answer();
    void ringOnce();
    void stopRinging();
    void resetProfile(const Profile &profile);
    void updateLines();
    void enterOnlineCommand();
    void dtrDropped();
    int delay(int ms) const;
    void schedule(QTimer *timer, int ms);
    QByteArray connectText() const;

    HayesModemPacer *m_pacer;
    LineSettings m_line;
    double m_timeScale = 1.0;

    Profile m_profile;
    Profile m_stored;
    State m_state = State::Command;

    QByteArray m_lineBuffer;   // the command line being typed, "AT" included
    bool m_lineTooLong = false;
    QByteArray m_lastLine;     // for A/

    bool m_dtr = false;
    bool m_rts = false;
    bool m_dsr = false;
    bool m_cts = false;
    bool m_cd = false;

    QTimer *m_callTimer;       // dial progress, answering, training
    ResultCode m_callOutcome = NoCarrier;
    HayesModemFarEnd *(*m_pendingFarEnd)(QObject *) = nullptr;
    QPointer<HayesModemFarEnd> m_farEnd;

    QTimer *m_ringTimer;       // cadence of an incoming call
    bool m_ringing = false;
    int m_ringsLeft = 0;
    QTimer *m_callBackTimer;   // a service that promised to call back
    bool m_callBackPending = false;

    QTimer *m_guardTimer;      // silence before an escape
    QTimer *m_escapeTimer;     // silence after it
    bool m_guardPassed = false;
    int m_plusCount = 0;
};
