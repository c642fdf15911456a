// SPDX-License-Identifier: MIT
// modemterm at the speeds modems really run, on a visible window (an X
// server, Xvfb, started by run.sh), against GTKTerm on the same streams in
// the same run, and against cat for the cost of a flood:
//
// - CPU per second of a stream paced at 9600 and 115200 baud (bytes / 10 per
//   second, written to the pseudo-terminal's master every 10 ms), of 80-column
//   lines and of random bytes;
// - wake-ups per second while idle, on a device with modem lines and without;
// - a modem-line change until its box is repainted;
// - CPU per MB of a flood (lines, one endless line, random bytes) and the
//   peak resident memory after it, against cat reading the same kind of
//   pseudo-terminal;
// - a typed key until it is painted, idle and during a 115200 stream.
//
// CPU is read from /proc/PID/task/*/schedstat (nanoseconds on a CPU, all
// threads), wake-ups from the voluntary and non-voluntary context switches in
// /proc/PID/task/*/status: each time a thread wakes and sleeps again counts
// one. Both are read from outside; nothing is attached to the programs.
// Modem lines on a pseudo-terminal come from the shim (modemlineshim.so,
// preloaded), which GTKTerm needs to run on one at all.
//
//   ratebench --modemterm PATH --shim PATH --display :N [--xserver PID]
//             [--reps N] [--seconds N] [--flood-mb N] [--work-dir DIR]
#include "benchlog.h"
#include "benchprocess.h"
#include "floodlink.h"
#include "floodtext.h"
#include "modemlines.h"
#include "procstat.h"
#include "samples.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <thread>
#include <unistd.h>

namespace {

struct Options
{
    std::string modemterm, shim, display, workDir = "/tmp";
    pid_t xserver = -1;
    int reps = 3;
    int seconds = 10;
    long long floodMb = 1024;
};

enum class Source { Lines, Endless, Random };

// Endless bytes of one kind, handed out in pieces.
class Stream
{
public:
    explicit Stream(Source kind)
    {
        if (kind == Source::Random) {
            std::mt19937 random(7);
            m_data.resize(4 << 20);
            for (char &c : m_data)
                c = char(random());
        } else {
            m_data = FloodText(kind == Source::Endless).lines(0, 4 * 12800);
        }
    }
    QByteArray next(qsizetype n)
    {
        QByteArray out;
        while (out.size() < n) {
            const qsizetype k = std::min(n - out.size(), m_data.size() - m_at);
            out += m_data.mid(m_at, k);
            m_at = (m_at + k) % m_data.size();
        }
        return out;
    }
    const QByteArray &data() const { return m_data; }

private:
    QByteArray m_data;
    qsizetype m_at = 0;
};

class Bench
{
public:
    explicit Bench(Options o) : m_opt(std::move(o)) {}
    void round();

    Samples cpu[2][2][2];  // [program][baud 9600, 115200][lines, random], ms/s
    Samples xcpu[2][2][2]; // the X server's, during the same streams
    Samples idle[2][2];    // [program][no lines, lines], wake-ups/s
    Samples lineShown, keyIdle, keyStream;
    Samples floodCpu[3], catCpu[3], ratio[3], rss[3]; // [lines, endless, random]

private:
    struct Program
    {
        pid_t pid = -1;
        ProbeLog log;
    };
    enum { Modemterm, Gtkterm };
    std::map<std::string, std::string> env(bool lines, const std::string &log = {}) const;
    void start(Program &p, int which, Pty &pty, bool lines, int baud);
    void pace(Pty &pty, Stream &source, int baud, Ns duration, const std::atomic<bool> *until = nullptr);
    void streams(int which);
    void idleWakeups(int which);
    void lineChanges();
    void keys();
    void flood(Source kind);

    Options m_opt;
    int m_runs = 0;
};

// GTKTerm's settings as it writes them at its first start, written first so
// that it starts without asking anything.
void writeGtktermSettings(const std::string &home)
{
    std::filesystem::create_directories(home + "/.config");
    std::FILE *f = std::fopen((home + "/.config/.gtktermrc").c_str(), "w");
    if (!f)
        fail("GTKTerm's settings");
    std::fputs("[default]\nport\t= /dev/ttyS0\nspeed\t= 115200\nbits\t= 8\nstopbits\t= 1\nparity\t= none\n"
               "flow\t= none\nwait_delay\t= 0\nwait_char\t= -1\nrs485_rts_time_before_tx\t= 30\n"
               "rs485_rts_time_after_tx\t= 30\necho\t= False\ncrlfauto\t= False\ntimestamp\t= False\n"
               "font\t= \"Monospace 12\"\nterm_block_cursor\t= True\nterm_rows\t= 80\nterm_columns\t= 25\n"
               "term_scrollback\t= 10000\nterm_visual_bell\t= True\n",
               f);
    std::fclose(f);
}

std::map<std::string, std::string> Bench::env(bool lines, const std::string &log) const
{
    std::map<std::string, std::string> e{{"DISPLAY", m_opt.display}, {"QT_QPA_PLATFORM", "xcb"}, {"NO_AT_BRIDGE", "1"},
                                         {"HOME", m_opt.workDir}, {"MODEMTERM_LINESHIM_DIR", m_opt.workDir}};
    if (lines)
        e["LD_PRELOAD"] = m_opt.shim;
    if (!log.empty())
        e["MODEMTERM_BENCH_LOG"] = log;
    return e;
}

void Bench::start(Program &p, int which, Pty &pty, bool lines, int baud)
{
    const std::string out = m_opt.workDir + "/ratebench-program.out";
    if (which == Gtkterm) {
        p.pid = spawn({"gtkterm", "-p", pty.slave(), "-s", std::to_string(baud)}, env(lines), out);
        // Up once it holds the device, and has drawn its window.
        const Ns deadline = now() + 10 * sec;
        for (bool holds = false; !holds && now() < deadline; sleepMs(20)) {
            const std::string fds = "/proc/" + std::to_string(p.pid) + "/fd";
            std::error_code ec;
            for (const auto &e : std::filesystem::directory_iterator(fds, ec))
                holds = holds || std::filesystem::read_symlink(e.path(), ec).string() == pty.slave();
        }
        sleepMs(1500);
        return;
    }
    p.log.path = m_opt.workDir + "/ratebench-probe-" + std::to_string(getpid()) + "-" + std::to_string(m_runs++)
                 + ".log";
    unlink(p.log.path.c_str());
    p.pid = spawn({m_opt.modemterm, "--port", pty.slave()}, env(lines, p.log.path), out);
    if (!p.log.waitForPaint(0, 0, 10 * sec)) {
        std::fprintf(stderr, "ratebench: modemterm did not show its window (see %s)\n", out.c_str());
        std::exit(1);
    }
    sleepMs(1000);
    p.log.poll();
}

void stopProgram(pid_t pid, const std::string &log)
{
    stop(pid);
    if (!log.empty())
        unlink(log.c_str());
}

// Writes `source` at baud / 10 bytes a second, a piece every 10 ms, for
// `duration` or while `*until` holds.
void Bench::pace(Pty &pty, Stream &source, int baud, Ns duration, const std::atomic<bool> *until)
{
    const double perNs = baud / 10.0 / double(sec);
    const Ns t0 = now();
    long long written = 0;
    while (until ? until->load() : now() - t0 < duration) {
        const long long due = (long long)(double(now() - t0) * perNs);
        if (due > written) {
            pty.writeAll(source.next(due - written));
            written = due;
        }
        sleepMs(10);
    }
}

void Bench::streams(int which)
{
    for (const int b : {0, 1}) {
        const int baud = b ? 115200 : 9600;
        for (const int kind : {0, 1}) {
            Pty pty;
            ModemLines lines(m_opt.workDir, pty.terminalFd());
            lines.set(TIOCM_CTS | TIOCM_DSR, true);
            Program p;
            start(p, which, pty, true, baud);
            Stream source(kind ? Source::Random : Source::Lines);
            pace(pty, source, baud, 1 * sec); // past the first screenful
            const long long c0 = ProcStat::cpuNs(p.pid);
            const long long x0 = m_opt.xserver > 0 ? ProcStat::cpuNs(m_opt.xserver) : 0;
            const Ns t0 = now();
            pace(pty, source, baud, Ns(m_opt.seconds) * sec);
            const double seconds = double(now() - t0) / sec;
            cpu[which][b][kind].add(double(ProcStat::cpuNs(p.pid) - c0) / ms / seconds);
            if (m_opt.xserver > 0)
                xcpu[which][b][kind].add(double(ProcStat::cpuNs(m_opt.xserver) - x0) / ms / seconds);
            stopProgram(p.pid, p.log.path);
        }
    }
}

void Bench::idleWakeups(int which)
{
    for (const bool withLines : {false, true}) {
        Pty pty;
        std::unique_ptr<ModemLines> lines;
        if (withLines) {
            lines = std::make_unique<ModemLines>(m_opt.workDir, pty.terminalFd());
            lines->set(TIOCM_CTS | TIOCM_DSR, true);
        }
        Program p;
        // GTKTerm cannot run on a device without modem lines: with none, its row stays empty.
        if (which == Gtkterm && !withLines)
            continue;
        start(p, which, pty, withLines, 9600);
        sleepMs(1000);
        const long long w0 = ProcStat::contextSwitches(p.pid);
        const Ns t0 = now();
        sleepMs(m_opt.seconds * 1000);
        idle[which][withLines].add(double(ProcStat::contextSwitches(p.pid) - w0) / (double(now() - t0) / sec));
        stopProgram(p.pid, p.log.path);
    }
}

// CTS switched on the device until the CTS box is repainted in the new colour.
void Bench::lineChanges()
{
    Pty pty;
    ModemLines lines(m_opt.workDir, pty.terminalFd());
    Program p;
    start(p, Modemterm, pty, true, 9600);
    for (int i = 0; i < 10; ++i) {
        p.log.poll();
        const size_t seen = p.log.boxes.size();
        const Ns t0 = now();
        lines.set(TIOCM_CTS, i % 2 == 0);
        std::optional<double> latency;
        for (const Ns deadline = now() + 2 * sec; !latency && now() < deadline; sleepMs(1)) {
            p.log.poll();
            for (size_t k = seen; k < p.log.boxes.size() && !latency; ++k) {
                if (p.log.boxes[k].name == "PicCTS")
                    latency = double(p.log.boxes[k].time - t0) / ms;
            }
        }
        lineShown.addOptional(latency);
        sleepMs(150);
    }
    stopProgram(p.pid, p.log.path);
}

// One key ("x") at a time, as a user types, until it is painted.
void Bench::keys()
{
    for (const bool streaming : {false, true}) {
        Pty pty;
        ModemLines lines(m_opt.workDir, pty.terminalFd());
        Program p;
        start(p, Modemterm, pty, true, 115200);
        std::atomic<bool> running{streaming};
        Stream source(Source::Lines);
        std::thread stream([&] {
            if (streaming)
                pace(pty, source, 115200, 0, &running);
        });
        sleepMs(500);
        for (int k = 1; k <= 20; ++k) {
            const Ns t0 = now();
            kill(p.pid, SIGWINCH);
            const auto t1 = p.log.waitForTypedPaint(k, t0, 2 * sec);
            (streaming ? keyStream : keyIdle)
                .addOptional(t1 ? std::optional<double>(double(*t1 - t0) / ms) : std::nullopt);
            sleepMs(120);
        }
        running = false;
        stream.join();
        stopProgram(p.pid, p.log.path);
    }
}

void Bench::flood(Source kind)
{
    Stream source(kind);
    const long long blocks = std::max(1LL, m_opt.floodMb * 1'000'000 / source.data().size());
    const double mb = double(blocks * source.data().size()) / 1e6;
    const int k = int(kind);
    {
        Pty pty;
        const pid_t cat = spawn({"cat", pty.slave()}, {}, "/dev/null");
        sleepMs(300);
        const long long c0 = ProcStat::cpuNs(cat);
        for (long long i = 0; i < blocks; ++i)
            pty.writeAll(source.data());
        for (int quiet = 0; quiet < 3; usleep(2000))
            quiet = pty.pending() == 0 ? quiet + 1 : 0;
        catCpu[k].add(double(ProcStat::cpuNs(cat) - c0) / ms / mb);
        stop(cat);
    }
    Pty pty;
    Program p;
    start(p, Modemterm, pty, false, 9600);
    bool afterCR = false;
    const long long perBlock = shownChars(std::string_view(source.data().constData(), size_t(source.data().size())), afterCR);
    long long expected = p.log.paints.empty() ? 0 : p.log.paints.back().second;
    const long long c0 = ProcStat::cpuNs(p.pid);
    const Ns t0 = now();
    for (long long i = 0; i < blocks; ++i)
        pty.writeAll(source.data());
    expected += perBlock * blocks;
    if (p.log.waitForPaint(expected, t0, 600 * sec)) {
        floodCpu[k].add(double(ProcStat::cpuNs(p.pid) - c0) / ms / mb);
        ratio[k].add(floodCpu[k].v.back() / catCpu[k].v.back());
    } else {
        std::fprintf(stderr, "ratebench: the flood never showed completely\n");
    }
    rss[k].add(peakRssMb(p.pid));
    stopProgram(p.pid, p.log.path);
}

void Bench::round()
{
    std::fprintf(stderr, " streams...");
    streams(Modemterm);
    streams(Gtkterm);
    std::fprintf(stderr, " idle...");
    idleWakeups(Modemterm);
    idleWakeups(Gtkterm);
    std::fprintf(stderr, " line changes, keys...");
    lineChanges();
    keys();
    std::fprintf(stderr, " floods...");
    flood(Source::Lines);
    flood(Source::Endless);
    flood(Source::Random);
    std::fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "ratebench: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--modemterm")
            o.modemterm = value();
        else if (a == "--shim")
            o.shim = value();
        else if (a == "--display")
            o.display = value();
        else if (a == "--xserver")
            o.xserver = std::atoi(value().c_str());
        else if (a == "--reps")
            o.reps = std::max(1, std::atoi(value().c_str()));
        else if (a == "--seconds")
            o.seconds = std::max(1, std::atoi(value().c_str()));
        else if (a == "--flood-mb")
            o.floodMb = std::max(1LL, std::atoll(value().c_str()));
        else if (a == "--work-dir")
            o.workDir = value();
        else {
            std::fprintf(stderr, "usage: ratebench --modemterm PATH --shim PATH --display :N [--xserver PID] "
                                 "[--reps N] [--seconds N] [--flood-mb N] [--work-dir DIR]\n");
            return 2;
        }
    }
    if (o.modemterm.empty() || o.shim.empty() || o.display.empty()) {
        std::fprintf(stderr, "ratebench: --modemterm, --shim and --display are required\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string loadBefore = loadAverage();
    writeGtktermSettings(o.workDir);
    Bench bench(o);
    for (int r = 1; r <= o.reps; ++r) {
        std::fprintf(stderr, "round %d of %d:", r, o.reps);
        bench.round();
    }

    std::printf("\nmodemterm and GTKTerm on a visible window (Xvfb), pseudo-terminals with modem lines (shim); "
                "%d rounds, streams of %d s, floods of %lld MB\n", o.reps, o.seconds, o.floodMb);
    std::printf("load average before: %s, after: %s\n\n", loadBefore.c_str(), loadAverage().c_str());
    std::printf("%-46s %-24s %-6s %-18s %s\n", "measurement", "median  min  max", "unit", "samples", "target");
    const char *kinds[] = {"80-column lines", "random bytes"};
    for (const int b : {0, 1}) {
        for (const int kind : {0, 1}) {
            const std::string name = std::string("CPU at ") + (b ? "115200" : "9600") + ", " + kinds[kind];
            const double peer = bench.cpu[1][b][kind].median();
            char target[64];
            std::snprintf(target, sizeof target, "<= %s and < GTKTerm's (%.1f)", b ? "20" : "3", peer);
            row((name + ": modemterm").c_str(), bench.cpu[0][b][kind], "ms/s", target);
            row("   GTKTerm", bench.cpu[1][b][kind], "ms/s", "");
            if (o.xserver > 0) {
                row("   the X server, for modemterm", bench.xcpu[0][b][kind], "ms/s", "");
                row("   the X server, for GTKTerm", bench.xcpu[1][b][kind], "ms/s", "");
            }
        }
    }
    row("idle wake-ups, no modem lines: modemterm", bench.idle[0][0], "/s", "<= 3 (clock 2 + 1)");
    row("idle wake-ups, modem lines: modemterm", bench.idle[0][1], "/s", "<= 3 (clock 2 + 1)");
    row("   GTKTerm, modem lines", bench.idle[1][1], "/s", "");
    row("modem line change shown (shim)", bench.lineShown, "ms", "<= 20");
    const char *floods[] = {"lines", "one endless line", "random bytes"};
    for (int k = 0; k < 3; ++k) {
        row((std::string("flood CPU, ") + floods[k] + ": modemterm").c_str(), bench.floodCpu[k], "ms/MB", "");
        row("   cat", bench.catCpu[k], "ms/MB", "");
        row("   ratio to cat", bench.ratio[k], "", "<= 3", 2);
        row("   peak RSS after it", bench.rss[k], "MB", "<= 50");
    }
    row("typed key painted, idle", bench.keyIdle, "ms", "median <= 16");
    row("typed key painted, during 115200 lines", bench.keyStream, "ms", "median <= 33");
    return 0;
}
