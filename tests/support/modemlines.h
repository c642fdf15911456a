// SPDX-License-Identifier: MIT
#pragma once

// Modem lines for a pseudo-terminal, which has none: a test or the benchmark
// plays them through ModemLines, and the shim (modemlineshim.cpp, linked into
// a test or preloaded into a program) answers the program's TIOCMGET,
// TIOCMBIS/BIC, TIOCMIWAIT and TIOCGICOUNT on that pseudo-terminal from
// them. The state lives in a small file, <MODEMTERM_LINESHIM_DIR>/dev-<st_rdev>,
// mapped by both sides; waiters sleep on a futex in it. Pseudo-terminals
// without such a file keep the kernel's answers.

#include <atomic>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <linux/futex.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

struct ModemLineState
{
    std::atomic<uint32_t> sequence; // bumped at every change; the futex word
    std::atomic<uint32_t> lines;    // TIOCM_ bits, inputs and outputs
    std::atomic<uint32_t> gone;     // the device vanished: every call fails with EIO
    std::atomic<uint32_t> refuse;   // 1: TIOCMIWAIT fails with EINVAL; 2: TIOCGICOUNT with ENOTTY too
    std::atomic<uint32_t> waiting;  // TIOCMIWAIT calls asleep now
    std::atomic<uint32_t> reads;    // TIOCMGET calls answered
    std::atomic<uint32_t> cts, dsr, dcd; // transitions

    // The state's file for the device open at `fd`; no file has the state
    // of anything but a played pseudo-terminal.
    static std::string file(const char *dir, int fd)
    {
        struct stat st{};
        return ::fstat(fd, &st) == 0 ? std::string(dir) + "/dev-" + std::to_string(st.st_rdev) : std::string();
    }
    static ModemLineState *map(const std::string &file, bool create)
    {
        const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_TRUNC : 0), 0600);
        void *p = MAP_FAILED;
        if (!create || ::ftruncate(fd, sizeof(ModemLineState)) == 0)
            p = ::mmap(nullptr, sizeof(ModemLineState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        return p == MAP_FAILED ? nullptr : static_cast<ModemLineState *>(p);
    }
};

// The device's side: sets the inputs of one pseudo-terminal's lines.
class ModemLines
{
public:
    // `ptsFd`: the terminal side of the pseudo-terminal.
    ModemLines(const std::string &dir, int ptsFd)
        : m_file(ModemLineState::file(dir.c_str(), ptsFd))
        , m_state(ModemLineState::map(m_file, true))
    {
    }
    ~ModemLines()
    {
        ::munmap(m_state, sizeof(ModemLineState));
        ::unlink(m_file.c_str());
    }

    ModemLineState &state() { return *m_state; }

    // Sets the inputs among TIOCM_CTS, TIOCM_DSR and TIOCM_CAR to `on`.
    void set(uint32_t inputs, bool on)
    {
        const uint32_t before = m_state->lines;
        m_state->lines = on ? before | inputs : before & ~inputs;
        count(before ^ m_state->lines);
    }
    // The inputs go on and off again at once, faster than anyone can look.
    void pulse(uint32_t inputs)
    {
        count(inputs);
        count(inputs);
    }
    void vanish()
    {
        m_state->gone = 1;
        count(0);
    }

private:
    // Counts a transition of the lines `moved`, and wakes the waiters.
    void count(uint32_t moved)
    {
        m_state->cts += (moved & TIOCM_CTS) != 0;
        m_state->dsr += (moved & TIOCM_DSR) != 0;
        m_state->dcd += (moved & TIOCM_CAR) != 0;
        m_state->sequence.fetch_add(1);
        ::syscall(SYS_futex, &m_state->sequence, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
    }

    std::string m_file;
    ModemLineState *m_state;
};
