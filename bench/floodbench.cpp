// SPDX-License-Identifier: MIT
// The whole-program benchmark: benchterm (modemterm with the probe attached,
// see probe.cpp), off screen, reading a pseudo-terminal, against cat reading
// the same kind of pseudo-terminal. The text flood also runs with a
// timestamped session log, and over loopback TCP with RFC 2217 and plain.
//
// The benchmark plays the device on the master side of a fresh pseudo-terminal
// for every program it starts. The probe logs repaints, clock ticks and
// indicator repaints with CLOCK_MONOTONIC times, types a line or clicks the DTR
// box on a signal, and writes the transcript out on another; the benchmark
// reads that log and the bytes the program writes to the port.
//
//   floodbench --modemterm PATH [--reps N] [--flood-mb N]
#include "benchlog.h"
#include "benchprocess.h"
#include "floodlink.h"
#include "floodtext.h"
#include "portreader.h"
#include "samples.h"
#include "sessionlogcheck.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// How many characters at the end of `text` are the flood up to line `last`,
// whole and in order; the first line may have lost its start (to the
// transcript's limits). It arrived whole when that is all of the text, or all
// of the flood.
qsizetype floodTailLength(const FloodText &flood, QStringView text, qint64 last)
{
    qsizetype matched = 0;
    for (qint64 n = last; n >= 0 && matched < text.size(); --n) {
        const QString line = flood.shown(n);
        const qsizetype length = std::min(line.size(), text.size() - matched);
        if (text.sliced(text.size() - matched - length, length) != QStringView(line).last(length))
            break;
        matched += length;
    }
    return matched;
}

// One repetition of a flood: about a megabyte of lines.
constexpr long long FloodLinesPerBlock = 12800;

struct Options
{
    std::string modemterm;
    int reps = 3;
    long long floodMb = 1000;
    std::string workDir = "/tmp";
};

struct FloodResult
{
    double mbPerSecond = NAN;
    double first50MbPerSecond = NAN;
    double peakMb = NAN;
    double worstTickLateMs = NAN;
    int ticks = 0;
    bool whole = false; // the transcript ends with the flood, whole and in order
    LoggedFlood log;    // with `logged`
};

class Bench
{
public:
    explicit Bench(Options o)
        : m_opt(std::move(o))
    {
    }

    void run();

private:
    double catFlood(bool endless);
    // With `logged` the program keeps a timestamped session log (--log
    // --timestamps). Only the plain floods on a pseudo-terminal add to the
    // latency figures; the others only to their own rows.
    FloodResult programFlood(bool endless, FloodLink::Kind kind = FloodLink::Kind::Pty, bool logged = false);
    long long floodBlocks() const;
    void lineChanges();
    void startups();

    struct Running
    {
        pid_t pid = -1;
        ProbeLog log;
        Ns execTime = 0;
        long long expectedChars = 0;
        bool afterCR = false;
    };
    void start(Running &r, const std::vector<std::string> &args);
    // Starts the program on `link`'s port with `extra` arguments and waits for
    // its "AT\r"; on a pseudo-terminal it records the time from exec to that.
    void startOn(Running &r, FloodLink &link, std::optional<PortReader> &port,
                 const std::vector<std::string> &extra = {});
    void sendAndShow(Running &r, FloodLink &link, int count, Samples &into);
    bool arrivedWhole(Running &r, const FloodText &flood, long long lines);

    Options m_opt;
    int m_runs = 0;

public:
    Samples catText, catEndless, text, endless, ratioText, ratioEndless, endlessToText;
    Samples typedText, typedEndless, tickText, tickEndless, rssText, rssEndless;
    Samples shown, lagText, lagEndless, lineChange, execToAt, endless50;
    Samples textLogged, loggedToText, rssLogged, logComplete;
    Samples rfc2217, rawTcp, ratioRfc2217, typedRfc2217;
    int notWhole = 0; // floods whose text did not arrive whole, on screen or in the log
};

void Bench::start(Running &r, const std::vector<std::string> &args)
{
    r.log.path = m_opt.workDir + "/floodbench-probe-" + std::to_string(getpid()) + "-" + std::to_string(m_runs++) + ".log";
    unlink(r.log.path.c_str());
    std::vector<std::string> argv{m_opt.modemterm};
    argv.insert(argv.end(), args.begin(), args.end());
    r.execTime = now();
    r.pid = spawn(argv, {{"QT_QPA_PLATFORM", "offscreen"}, {"MODEMTERM_BENCH_LOG", r.log.path}},
                  m_opt.workDir + "/floodbench-modemterm.out");
    const Ns deadline = now() + 10 * sec;
    while (!r.log.started && now() < deadline) {
        r.log.poll();
        sleepMs(2);
    }
    if (!r.log.started) {
        std::fprintf(stderr, "floodbench: modemterm did not start (see %s/floodbench-modemterm.out)\n",
                     m_opt.workDir.c_str());
        std::exit(1);
    }
}

// Short lines sent to an idle program: time until each is painted.
void Bench::sendAndShow(Running &r, FloodLink &link, int count, Samples &into)
{
    for (int i = 0; i < count; ++i) {
        sleepMs(100);
        char line[32];
        std::snprintf(line, sizeof line, "marker %04d\r\n", i);
        const std::string bytes = line;
        r.expectedChars += shownChars(bytes, r.afterCR);
        const Ns t0 = now();
        link.writeAll(QByteArray::fromStdString(bytes));
        const auto t1 = r.log.waitForPaint(r.expectedChars, t0, 2 * sec);
        into.addOptional(t1 ? std::optional<double>(double(*t1 - t0) / ms) : std::nullopt);
    }
}

long long Bench::floodBlocks() const
{
    return std::max(1LL, m_opt.floodMb * 1'000'000 / (FloodLinesPerBlock * FloodText::LineBytes));
}

double Bench::catFlood(bool endless)
{
    Pty pty;
    const pid_t pid = spawn({"cat", pty.slave()}, {}, "/dev/null");
    sleepMs(200);
    const FloodText flood(endless);
    const long long reps = floodBlocks();
    const Ns t0 = now();
    for (long long i = 0; i < reps; ++i)
        pty.writeAll(flood.lines(i * FloodLinesPerBlock, FloodLinesPerBlock));
    int quiet = 0;
    Ns t1 = now();
    while (quiet < 3) {
        if (pty.pending() == 0) {
            if (quiet++ == 0)
                t1 = now();
        } else {
            quiet = 0;
        }
        usleep(500);
    }
    stop(pid);
    return double(reps * FloodLinesPerBlock * FloodText::LineBytes) / 1e6 / (double(t1 - t0) / sec);
}

FloodResult Bench::programFlood(bool endless, FloodLink::Kind kind, bool logged)
{
    const bool pty = kind == FloodLink::Kind::Pty;
    const bool plain = pty && !logged;
    Samples ignored; // figures of a variant that has no row for them
    FloodLink link(kind);
    std::optional<PortReader> port;
    Running r;
    const std::string logPath = m_opt.workDir + "/floodbench-session-" + std::to_string(getpid()) + ".log";
    if (logged)
        unlink(logPath.c_str());
    startOn(r, link, port, logged ? std::vector<std::string>{"--log", logPath, "--timestamps"}
                                  : std::vector<std::string>{});
    sleepMs(300);
    if (pty)
        sendAndShow(r, link, 10, plain ? shown : ignored);

    const FloodText flood(endless);
    const long long reps = floodBlocks();
    const long long blockBytes = FloodLinesPerBlock * FloodText::LineBytes;
    const long long perBlock = FloodLinesPerBlock * flood.shown(0).size();

    // A user types "ATI" and Enter every 200 ms while the flood runs; each
    // line is timed from the keys to its arrival at the port.
    std::atomic<bool> flooding{true};
    Samples &typed = kind == FloodLink::Kind::Rfc2217 ? typedRfc2217
                     : !plain                         ? ignored
                     : endless                        ? typedEndless
                                                      : typedText;
    std::thread typist([&] {
        size_t seen = port->size();
        while (flooding) {
            sleepMs(200);
            if (!flooding)
                break;
            const Ns t0 = now();
            kill(r.pid, SIGUSR1);
            const auto t1 = port->waitFor("ATI\r", seen, 3 * sec);
            typed.addOptional(t1 ? std::optional<double>(double(*t1 - t0) / ms) : std::nullopt);
        }
    });

    const long long base = r.expectedChars;
    std::vector<Ns> written; // when each block was in the kernel's hands
    written.reserve(size_t(reps));
    const Ns t0 = now();
    for (long long i = 0; i < reps; ++i) {
        link.writeAll(flood.lines(i * FloodLinesPerBlock, FloodLinesPerBlock));
        written.push_back(now());
    }
    r.expectedChars += perBlock * reps;
    const auto t1 = r.log.waitForPaint(r.expectedChars, t0, 120 * sec);
    flooding = false;
    typist.join();

    FloodResult result;
    result.peakMb = peakRssMb(r.pid); // before the transcript is written out, which costs memory
    if (!t1) {
        std::fprintf(stderr, "floodbench: the flood never showed completely\n");
    } else {
        result.whole = arrivedWhole(r, flood, reps * FloodLinesPerBlock);
        result.mbPerSecond = double(reps * blockBytes) / 1e6 / (double(*t1 - t0) / sec);
        // Each megabyte's way from the port to the screen: the first repaint
        // that shows all of it, after the last of it was written.
        Samples &lag = !plain ? ignored : endless ? lagEndless : lagText;
        const long long first50 = std::min(reps, (50'000'000LL + blockBytes - 1) / blockBytes);
        size_t p = 0;
        for (long long k = 0; k < reps; ++k) {
            const long long chars = base + perBlock * (k + 1);
            while (p < r.log.paints.size() && r.log.paints[p].second < chars)
                ++p;
            if (p == r.log.paints.size())
                break;
            lag.add(double(std::max(0LL, r.log.paints[p].first - written[size_t(k)])) / ms);
            if (k + 1 == first50)
                result.first50MbPerSecond = double(first50 * blockBytes) / 1e6
                    / (double(r.log.paints[p].first - t0) / sec);
        }
        // Clock ticks are due every 500 ms; a gap beyond that is lateness.
        Ns worst = 0;
        int count = 0;
        for (size_t i = 1; i < r.log.ticks.size(); ++i) {
            if (r.log.ticks[i] < t0 || r.log.ticks[i - 1] > *t1)
                continue;
            worst = std::max(worst, r.log.ticks[i] - r.log.ticks[i - 1] - 500 * ms);
            ++count;
        }
        result.worstTickLateMs = double(worst) / ms;
        result.ticks = count;
    }
    stop(r.pid); // as a logout would: the session log is written out
    unlink(r.log.path.c_str());
    if (logged) {
        result.log = readSessionLog(logPath, r.expectedChars, flood, reps * FloodLinesPerBlock);
        unlink(logPath.c_str());
    }
    return result;
}

// Whether the transcript ends with the flood, whole and in order: all of it,
// or as much as the transcript keeps. The typed lines are taken out first.
bool Bench::arrivedWhole(Running &r, const FloodText &flood, long long lines)
{
    const std::optional<std::string> utf8 = r.log.transcript(r.pid, 30 * sec);
    unlink((r.log.path + ".text").c_str());
    if (!utf8)
        return false;
    QString text = QString::fromStdString(*utf8);
    text.remove(QStringLiteral("ATI\n"));
    const qsizetype tail = floodTailLength(flood, text, lines - 1);
    return tail == text.size() || tail == lines * flood.shown(0).size();
}

// On the simulated modem, DSR follows DTR: a click on the DTR box until the
// DSR box shows the change.
void Bench::lineChanges()
{
    Running r;
    start(r, {"--port", "sim"});
    sleepMs(1000);
    for (int i = 0; i < 10; ++i) {
        r.log.poll();
        std::string before;
        for (const auto &b : r.log.boxes) {
            if (b.name == "PicDSR")
                before = b.colour;
        }
        const size_t seen = r.log.boxes.size();
        const Ns t0 = now();
        kill(r.pid, SIGUSR2);
        std::optional<double> latency;
        for (const Ns deadline = now() + 2 * sec; !latency && now() < deadline; sleepMs(1)) {
            r.log.poll();
            for (size_t k = seen; k < r.log.boxes.size(); ++k) {
                const auto &b = r.log.boxes[k];
                if (b.name == "PicDSR" && b.colour != before && b.time >= t0) {
                    latency = double(b.time - t0) / ms;
                    break;
                }
            }
        }
        lineChange.addOptional(latency);
        sleepMs(150);
    }
    stop(r.pid);
    unlink(r.log.path.c_str());
}

void Bench::startOn(Running &r, FloodLink &link, std::optional<PortReader> &port,
                    const std::vector<std::string> &extra)
{
    // A pseudo-terminal is read from before the start, so that the greeting's
    // arrival is timed; a network port once the program has connected.
    const bool pty = link.kind() == FloodLink::Kind::Pty;
    if (pty)
        port.emplace(link.fd());
    std::vector<std::string> args{"--port", link.port()};
    args.insert(args.end(), extra.begin(), extra.end());
    start(r, args);
    if (!link.connect(5000)) {
        std::fprintf(stderr, "floodbench: modemterm did not connect to %s\n", link.port().c_str());
        std::exit(1);
    }
    if (!pty)
        port.emplace(link.fd());
    size_t from = 0;
    const auto at = port->waitFor("AT\r", from, 5 * sec);
    if (pty)
        execToAt.addOptional(at ? std::optional<double>(double(*at - r.execTime) / ms) : std::nullopt);
}

void Bench::startups()
{
    for (int i = 0; i < 5; ++i) {
        FloodLink link(FloodLink::Kind::Pty);
        std::optional<PortReader> port;
        Running r;
        startOn(r, link, port);
        stop(r.pid);
        unlink(r.log.path.c_str());
    }
}

const char *wholeness(bool whole)
{
    return whole ? "whole" : "NOT WHOLE";
}

void Bench::run()
{
    for (int rep = 1; rep <= m_opt.reps; ++rep) {
        std::fprintf(stderr, "round %d of %d: text flood...", rep, m_opt.reps);
        const double ct = catFlood(false);
        catText.add(ct);
        const FloodResult t = programFlood(false);
        text.add(t.mbPerSecond);
        ratioText.add(t.mbPerSecond / ct);
        rssText.add(t.peakMb);
        tickText.add(t.worstTickLateMs);
        notWhole += !t.whole;
        std::fprintf(stderr, " %.1f MB/s (cat %.1f), %s; logged...", t.mbPerSecond, ct, wholeness(t.whole));
        const FloodResult l = programFlood(false, FloodLink::Kind::Pty, true);
        textLogged.add(l.mbPerSecond);
        loggedToText.add(l.mbPerSecond / t.mbPerSecond);
        rssLogged.add(l.peakMb);
        logComplete.add(l.log.completeness);
        notWhole += !l.whole + !l.log.whole;
        std::fprintf(stderr, " %.1f MB/s, %s, log %s; endless line...", l.mbPerSecond, wholeness(l.whole),
                     wholeness(l.log.whole));
        const double ce = catFlood(true);
        catEndless.add(ce);
        const FloodResult e = programFlood(true);
        endless.add(e.mbPerSecond);
        endless50.add(e.first50MbPerSecond);
        ratioEndless.add(e.mbPerSecond / ce);
        endlessToText.add(e.mbPerSecond / t.mbPerSecond);
        rssEndless.add(e.peakMb);
        tickEndless.add(e.worstTickLateMs);
        notWhole += !e.whole;
        std::fprintf(stderr, " %.1f MB/s (cat %.1f), %s; over the network...", e.mbPerSecond, ce,
                     wholeness(e.whole));
        const FloodResult n = programFlood(false, FloodLink::Kind::Rfc2217);
        const FloodResult raw = programFlood(false, FloodLink::Kind::RawTcp);
        rfc2217.add(n.mbPerSecond);
        rawTcp.add(raw.mbPerSecond);
        ratioRfc2217.add(n.mbPerSecond / raw.mbPerSecond);
        notWhole += !n.whole + !raw.whole;
        std::fprintf(stderr, " RFC 2217 %.1f MB/s, %s; raw TCP %.1f MB/s, %s\n", n.mbPerSecond, wholeness(n.whole),
                     raw.mbPerSecond, wholeness(raw.whole));
    }
    std::fprintf(stderr, "line changes on the simulated modem, start-ups...\n");
    lineChanges();
    startups();
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "floodbench: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--modemterm")
            o.modemterm = value();
        else if (a == "--reps")
            o.reps = std::max(1, std::atoi(value().c_str()));
        else if (a == "--flood-mb")
            o.floodMb = std::max(1LL, std::atoll(value().c_str()));
        else if (a == "--work-dir")
            o.workDir = value();
        else {
            std::fprintf(stderr, "usage: floodbench --modemterm PATH [--reps N] [--flood-mb N] [--work-dir DIR]\n");
            return 2;
        }
    }
    if (o.modemterm.empty()) {
        std::fprintf(stderr, "floodbench: --modemterm PATH is required\n");
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const std::string loadBefore = loadAverage();
    const long long floodMb = o.floodMb;
    const int reps = o.reps;
    Bench bench(o);
    bench.run();

    std::printf("\nmodemterm, off screen, reading a pseudo-terminal; %d rounds, floods of %lld MB\n", reps, floodMb);
    std::printf("load average before: %s, after: %s\n\n", loadBefore.c_str(), loadAverage().c_str());
    std::printf("%-46s %-24s %-6s %-18s %s\n", "measurement", "median  min  max", "unit", "samples", "target");
    row("1. text flood (CR LF every 80)", bench.text, "MB/s", ">= 30");
    row("   cat, same flood", bench.catText, "MB/s", "");
    row("   ratio to cat", bench.ratioText, "", ">= 0.15", 3);
    row("   text flood with --log --timestamps", bench.textLogged, "MB/s", "");
    row("   its ratio to the text flood", bench.loggedToText, "", ">= 0.80", 3);
    row("   its log, bytes / bytes it should hold", bench.logComplete, "", "1.000", 3);
    row("   peak RSS after it", bench.rssLogged, "MB", "<= 150");
    row("2. endless line", bench.endless, "MB/s", "");
    row("   its first 50 MB", bench.endless50, "MB/s", "");
    row("   cat, same flood", bench.catEndless, "MB/s", "");
    row("   ratio to cat", bench.ratioEndless, "", "", 3);
    row("   ratio to the text flood", bench.endlessToText, "", ">= 0.80", 3);
    row("3. typed line to port, during text flood", bench.typedText, "ms", "median <= 20, max <= 50");
    row("   typed line to port, during endless line", bench.typedEndless, "ms", "median <= 20, max <= 50");
    row("   worst clock tick lateness, text flood", bench.tickText, "ms", "<= 100");
    row("   worst clock tick lateness, endless line", bench.tickEndless, "ms", "<= 100");
    row("4. peak RSS after the text flood", bench.rssText, "MB", "<= 150");
    row("   peak RSS after the endless line", bench.rssEndless, "MB", "<= 150");
    row("5. received text on screen, idle", bench.shown, "ms", "<= 20");
    row("   each MB on screen, during the text flood", bench.lagText, "ms", "<= 20");
    row("   each MB on screen, during the endless line", bench.lagEndless, "ms", "<= 20");
    row("6. modem line change shown (sim)", bench.lineChange, "ms", "<= 20");
    row("7. exec to \"AT\\r\" at the port", bench.execToAt, "ms", "<= 150");
    row("8. text flood over RFC 2217 (loopback)", bench.rfc2217, "MB/s", ">= 20");
    row("   same flood over raw TCP", bench.rawTcp, "MB/s", "");
    row("   ratio RFC 2217 to raw TCP", bench.ratioRfc2217, "", ">= 0.5", 3);
    row("   typed line to port, during RFC 2217 flood", bench.typedRfc2217, "ms", "median <= 20, max <= 50");
    if (bench.notWhole) {
        std::fprintf(stderr, "floodbench: %d floods did not arrive whole on screen or in the log\n", bench.notWhole);
        return 1;
    }
    return 0;
}
