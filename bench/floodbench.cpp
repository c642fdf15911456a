// The whole-program benchmark: modemterm, off screen, reading a
// pseudo-terminal, against cat reading the same kind of pseudo-terminal.
//
// The benchmark plays the device on the master side of a fresh pseudo-terminal
// for every program it starts. Inside the program, the opt-in probe
// (MODEMTERM_BENCH_LOG) logs repaints, clock ticks and indicator repaints with
// CLOCK_MONOTONIC times, and types a line or clicks the DTR box on a signal;
// the benchmark reads that log and the bytes the program writes to the port.
// The same flood also comes over loopback TCP, with RFC 2217 and plain.
//
//   floodbench --modemterm PATH [--reps N] [--flood-mb N]
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "netflood.h"

namespace {

using Ns = long long;
constexpr Ns ms = 1'000'000;
constexpr Ns sec = 1'000'000'000;

Ns now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Ns(ts.tv_sec) * sec + ts.tv_nsec;
}

void sleepMs(int n)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(n));
}

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "floodbench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// ---- pseudo-terminal --------------------------------------------------------

struct Pty
{
    int master = -1;
    int keeper = -1; // the slave held open: the pair outlives the program's close, and FIONREAD works
    std::string slave;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            fail("posix_openpt");
        slave = ptsname(master);
        keeper = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (keeper < 0)
            fail("open " + slave);
        termios t{};
        tcgetattr(keeper, &t);
        cfmakeraw(&t);
        tcsetattr(keeper, TCSANOW, &t);
    }
    ~Pty()
    {
        close(keeper);
        close(master);
    }
    // Bytes the reading side has not taken yet.
    int pending() const
    {
        int n = 0;
        ioctl(keeper, FIONREAD, &n);
        return n;
    }
    void writeAll(const char *data, size_t size) const
    {
        while (size > 0) {
            const ssize_t n = write(master, data, size);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                fail("write to the pseudo-terminal");
            }
            data += n;
            size -= size_t(n);
        }
    }
};

// What the program writes to the port, with arrival times.
class PortReader
{
public:
    explicit PortReader(int fd)
        : m_fd(fd), m_thread([this] { run(); })
    {
    }
    ~PortReader()
    {
        m_stop = true;
        m_thread.join();
    }
    // The arrival time of the first `needle` at or after `from`; `from` moves past it.
    std::optional<Ns> waitFor(const std::string &needle, size_t &from, Ns timeout)
    {
        const Ns deadline = now() + timeout;
        std::unique_lock lock(m_mutex);
        while (true) {
            const size_t at = m_data.find(needle, from);
            if (at != std::string::npos) {
                const size_t end = at + needle.size();
                from = end;
                for (const auto &[offset, time] : m_arrivals) {
                    if (offset >= end)
                        return time;
                }
            }
            if (now() >= deadline)
                return std::nullopt;
            m_cv.wait_for(lock, std::chrono::milliseconds(5));
        }
    }
    size_t size()
    {
        std::lock_guard lock(m_mutex);
        return m_data.size();
    }

private:
    void run()
    {
        char buf[4096];
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n <= 0)
                continue;
            const Ns t = now();
            std::lock_guard lock(m_mutex);
            m_data.append(buf, size_t(n));
            m_arrivals.emplace_back(m_data.size(), t);
            m_cv.notify_all();
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::string m_data;
    std::vector<std::pair<size_t, Ns>> m_arrivals;
    std::thread m_thread;
};

// ---- the program's probe log --------------------------------------------------

struct ProbeLog
{
    std::string path;
    size_t offset = 0;
    std::string partial;
    bool started = false;
    std::vector<std::pair<Ns, long long>> paints; // time, characters appended so far
    std::vector<Ns> ticks;
    struct Box
    {
        std::string name;
        Ns time;
        std::string colour;
    };
    std::vector<Box> boxes;

    void poll()
    {
        std::ifstream f(path, std::ios::binary);
        if (!f)
            return;
        f.seekg(std::streamoff(offset));
        std::string chunk((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        offset += chunk.size();
        partial += chunk;
        size_t nl;
        while ((nl = partial.find('\n')) != std::string::npos) {
            std::istringstream line(partial.substr(0, nl));
            partial.erase(0, nl + 1);
            std::string kind;
            line >> kind;
            if (kind == "start") {
                started = true;
            } else if (kind == "paint") {
                Ns t;
                long long chars;
                line >> t >> chars;
                paints.emplace_back(t, chars);
            } else if (kind == "tick") {
                Ns t;
                line >> t;
                ticks.push_back(t);
            } else if (kind == "box") {
                Box b;
                line >> b.name >> b.time >> b.colour;
                boxes.push_back(b);
            }
        }
    }
    // The first repaint at or after `after` that shows `chars` appended characters.
    std::optional<Ns> waitForPaint(long long chars, Ns after, Ns timeout)
    {
        const Ns deadline = now() + timeout;
        while (true) {
            poll();
            for (auto it = paints.rbegin(); it != paints.rend() && it->second >= chars; ++it) {
                if (std::next(it) == paints.rend() || std::next(it)->second < chars)
                    return std::max(it->first, after);
            }
            if (now() > deadline)
                return std::nullopt;
            sleepMs(1);
        }
    }
};

// ---- programs -----------------------------------------------------------------

pid_t spawn(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
            const std::string &output)
{
    const pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        for (const auto &[k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
        sleepMs(10);
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
}

double peakRssMb(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(f, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return NAN;
}

// Characters the program shows for these bytes: CR LF, CR and LF are each
// one line break, every other byte one character.
long long decodedLength(const std::string &bytes, bool &afterCR)
{
    long long n = 0;
    for (const char c : bytes) {
        if (c == '\n' && afterCR) {
            afterCR = false;
            continue;
        }
        afterCR = c == '\r';
        ++n;
    }
    return n;
}

// One flood's worth of repeating bytes: printable text with CR LF after every
// 80 characters, or printable text without any line break.
std::string floodPattern(bool endless)
{
    std::string s;
    const int lines = 12800;
    for (int l = 0; l < lines; ++l) {
        for (int i = 0; i < 80; ++i)
            s += char(' ' + (l * 31 + i * 7) % 95);
        if (!endless)
            s += "\r\n";
        else
            s += char('a' + l % 26), s += char('A' + l % 26);
    }
    return s;
}

// ---- figures -------------------------------------------------------------------

struct Samples
{
    std::vector<double> v;
    int failures = 0;
    void add(double x) { v.push_back(x); }
    void addOptional(std::optional<double> x)
    {
        if (x)
            v.push_back(*x);
        else
            ++failures;
    }
    double median() const
    {
        if (v.empty())
            return NAN;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    double percentile(double p) const
    {
        if (v.empty())
            return NAN;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[std::min(s.size() - 1, size_t(p / 100.0 * double(s.size())))];
    }
    double min() const { return v.empty() ? NAN : *std::min_element(v.begin(), v.end()); }
    double max() const { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }
};

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
    double logCompleteness = NAN; // bytes in the session log / bytes it should hold
};

// Where the flood comes from: a pseudo-terminal, or a network port.
enum class Link { Pty, Rfc2217, RawTcp };

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
    // With `logged`, the program keeps a timestamped session log (--log
    // --timestamps); its latency samples are then left out.
    FloodResult programFlood(bool endless, Link link = Link::Pty, bool logged = false);
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
    void start(Running &r, const std::vector<std::string> &portArgs);
    // Starts the program on `pty` and records the time from exec to "AT\r".
    void startOnPty(Running &r, const Pty &pty, PortReader &port, const std::vector<std::string> &extra = {});
    void sendAndShow(Running &r, Pty &pty, int count, Samples &into);

    Options m_opt;
    int m_runs = 0;

public:
    Samples catText, catEndless, text, endless, ratioText, ratioEndless, endlessToText;
    Samples typedText, typedEndless, tickText, tickEndless, rssText, rssEndless;
    Samples shown, lagText, lagEndless, lineChange, execToAt, endless50;
    Samples rfc2217, rawTcp, ratioRfc2217, typedRfc2217, unused;
    Samples textLogged, loggedToText, rssLogged, logComplete;
};

void Bench::start(Running &r, const std::vector<std::string> &portArgs)
{
    r.log.path = m_opt.workDir + "/floodbench-probe-" + std::to_string(getpid()) + "-" + std::to_string(m_runs++) + ".log";
    unlink(r.log.path.c_str());
    std::vector<std::string> argv{m_opt.modemterm};
    argv.insert(argv.end(), portArgs.begin(), portArgs.end());
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
void Bench::sendAndShow(Running &r, Pty &pty, int count, Samples &into)
{
    for (int i = 0; i < count; ++i) {
        sleepMs(100);
        char line[32];
        std::snprintf(line, sizeof line, "marker %04d\r\n", i);
        const std::string bytes = line;
        r.expectedChars += decodedLength(bytes, r.afterCR);
        const Ns t0 = now();
        pty.writeAll(bytes.data(), bytes.size());
        const auto t1 = r.log.waitForPaint(r.expectedChars, t0, 2 * sec);
        into.addOptional(t1 ? std::optional<double>(double(*t1 - t0) / ms) : std::nullopt);
    }
}

double Bench::catFlood(bool endless)
{
    Pty pty;
    const pid_t pid = spawn({"cat", pty.slave}, {}, "/dev/null");
    sleepMs(200);
    const std::string pattern = floodPattern(endless);
    const long long reps = std::max(1LL, m_opt.floodMb * 1'000'000 / (long long)pattern.size());
    const Ns t0 = now();
    for (long long i = 0; i < reps; ++i)
        pty.writeAll(pattern.data(), pattern.size());
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
    return double(reps * pattern.size()) / 1e6 / (double(t1 - t0) / sec);
}

FloodResult Bench::programFlood(bool endless, Link link, bool logged)
{
    Pty pty;
    std::unique_ptr<NetFlood> net;
    std::optional<PortReader> port;
    Running r;
    const std::string logPath = m_opt.workDir + "/floodbench-session-" + std::to_string(getpid()) + ".log";
    unlink(logPath.c_str());
    if (link == Link::Pty) {
        port.emplace(pty.master);
        startOnPty(r, pty, *port,
                   logged ? std::vector<std::string>{"--log", logPath, "--timestamps"} : std::vector<std::string>{});
        sleepMs(300);
        sendAndShow(r, pty, 10, logged ? unused : shown);
    } else {
        net = std::make_unique<NetFlood>(link == Link::Rfc2217 ? NetFlood::Kind::Rfc2217 : NetFlood::Kind::RawTcp);
        start(r, {"--port", net->url()});
        if (!net->accept(5000)) {
            std::fprintf(stderr, "floodbench: modemterm did not connect to %s\n", net->url().c_str());
            std::exit(1);
        }
        port.emplace(net->fd());
        size_t from = 0;
        port->waitFor("AT\r", from, 5 * sec);
        sleepMs(300);
    }

    const std::string pattern = floodPattern(endless);
    const long long reps = std::max(1LL, m_opt.floodMb * 1'000'000 / (long long)pattern.size());
    bool afterCR = r.afterCR;
    const long long perPattern = decodedLength(pattern, afterCR);

    // A user types "ATI" and Enter every 200 ms while the flood runs; each
    // line is timed from the keys to its arrival at the port.
    std::atomic<bool> flooding{true};
    Samples &typed = logged || link == Link::RawTcp ? unused
                     : link == Link::Rfc2217         ? typedRfc2217
                     : endless                       ? typedEndless
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
    std::vector<Ns> written; // when each repetition of the pattern was in the kernel's hands
    written.reserve(size_t(reps));
    const Ns t0 = now();
    for (long long i = 0; i < reps; ++i) {
        if (net)
            net->writeAll(pattern.data(), pattern.size());
        else
            pty.writeAll(pattern.data(), pattern.size());
        written.push_back(now());
    }
    r.expectedChars += perPattern * reps;
    const auto t1 = r.log.waitForPaint(r.expectedChars, t0, 120 * sec);
    flooding = false;
    typist.join();

    FloodResult result;
    if (!t1) {
        std::fprintf(stderr, "floodbench: the flood never showed completely\n");
    } else {
        result.mbPerSecond = double(reps * pattern.size()) / 1e6 / (double(*t1 - t0) / sec);
        // Each megabyte's way from the port to the screen: the first repaint
        // that shows all of it, after the last of it was written.
        Samples &lag = logged || link != Link::Pty ? unused : endless ? lagEndless : lagText;
        const long long first50 = std::min(reps, (50'000'000LL + (long long)pattern.size() - 1) / (long long)pattern.size());
        size_t p = 0;
        for (long long k = 0; k < reps; ++k) {
            const long long chars = base + perPattern * (k + 1);
            while (p < r.log.paints.size() && r.log.paints[p].second < chars)
                ++p;
            if (p == r.log.paints.size())
                break;
            lag.add(double(std::max(0LL, r.log.paints[p].first - written[size_t(k)])) / ms);
            if (k + 1 == first50)
                result.first50MbPerSecond = double(first50 * (long long)pattern.size()) / 1e6
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
    result.peakMb = peakRssMb(r.pid);
    stop(r.pid);
    unlink(r.log.path.c_str());
    if (logged) {
        // After the header, every shown character and, per line, a
        // "yyyy-MM-dd HH:mm:ss.zzz " stamp; all of it ASCII here.
        std::ifstream f(logPath, std::ios::binary);
        std::string header;
        std::getline(f, header);
        long long lines = 0, bytes = 0;
        char buf[1 << 16];
        while (f.read(buf, sizeof buf) || f.gcount() > 0) {
            bytes += f.gcount();
            lines += std::count(buf, buf + f.gcount(), '\n');
        }
        result.logCompleteness = double(bytes) / double(r.expectedChars + 24 * lines);
        unlink(logPath.c_str());
    }
    return result;
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

void Bench::startOnPty(Running &r, const Pty &pty, PortReader &port, const std::vector<std::string> &extra)
{
    std::vector<std::string> args{"--port", pty.slave};
    args.insert(args.end(), extra.begin(), extra.end());
    start(r, args);
    size_t from = 0;
    const auto at = port.waitFor("AT\r", from, 5 * sec);
    execToAt.addOptional(at ? std::optional<double>(double(*at - r.execTime) / ms) : std::nullopt);
}

void Bench::startups()
{
    for (int i = 0; i < 5; ++i) {
        Pty pty;
        PortReader port(pty.master);
        Running r;
        startOnPty(r, pty, port);
        stop(r.pid);
        unlink(r.log.path.c_str());
    }
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
        std::fprintf(stderr, " %.1f MB/s (cat %.1f); logged...", t.mbPerSecond, ct);
        const FloodResult l = programFlood(false, Link::Pty, true);
        textLogged.add(l.mbPerSecond);
        loggedToText.add(l.mbPerSecond / t.mbPerSecond);
        rssLogged.add(l.peakMb);
        logComplete.add(l.logCompleteness);
        std::fprintf(stderr, " %.1f MB/s; endless line...", l.mbPerSecond);
        const double ce = catFlood(true);
        catEndless.add(ce);
        const FloodResult e = programFlood(true);
        endless.add(e.mbPerSecond);
        endless50.add(e.first50MbPerSecond);
        ratioEndless.add(e.mbPerSecond / ce);
        endlessToText.add(e.mbPerSecond / t.mbPerSecond);
        rssEndless.add(e.peakMb);
        tickEndless.add(e.worstTickLateMs);
        std::fprintf(stderr, " %.1f MB/s (cat %.1f); over the network...", e.mbPerSecond, ce);
        const FloodResult n = programFlood(false, Link::Rfc2217);
        const FloodResult raw = programFlood(false, Link::RawTcp);
        rfc2217.add(n.mbPerSecond);
        rawTcp.add(raw.mbPerSecond);
        ratioRfc2217.add(n.mbPerSecond / raw.mbPerSecond);
        std::fprintf(stderr, " RFC 2217 %.1f MB/s, raw TCP %.1f MB/s\n", n.mbPerSecond, raw.mbPerSecond);
    }
    std::fprintf(stderr, "line changes on the simulated modem, start-ups...\n");
    lineChanges();
    startups();
}

std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string a, b, c;
    f >> a >> b >> c;
    return a + " " + b + " " + c;
}

void row(const char *name, const Samples &s, const char *unit, const char *target, int decimals = 1)
{
    char fig[128];
    std::snprintf(fig, sizeof fig, "%.*f  %.*f  %.*f", decimals, s.median(), decimals, s.min(), decimals, s.max());
    std::string n = std::to_string(s.v.size());
    if (s.failures)
        n += " (" + std::to_string(s.failures) + " lost)";
    if (s.v.size() >= 100) {
        char p99[32];
        std::snprintf(p99, sizeof p99, ", p99 %.*f", decimals, s.percentile(99));
        n += p99;
    }
    std::printf("%-46s %-24s %-6s %-18s %s\n", name, fig, unit, n.c_str(), target);
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
    return 0;
}
