#include "commerror.h"
#include "commtesting.h"
#include "modalwatcher.h"
#include "pseudoterminal.h"
#include "runningterminal.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

#ifndef MODEMTERM_FLOOD_MIB
#define MODEMTERM_FLOOD_MIB 1024
#endif

namespace {

// The warning box's first line for a port error, as the window words it.
QString warningLine(CommError::Number number)
{
    return QStringLiteral("Nieznany błąd nr %1 ").arg(int(number)) + CommError::describe(number);
}

// A device on its own thread sending numbered lines of 78 printable characters
// and CR LF as fast as the terminal takes them. Every line differs, so a lost,
// doubled or reordered line shows.
class Flood
{
public:
    static constexpr qsizetype LineBytes = 80;
    static constexpr qint64 Endless = -1;

    // As the transcript shows line `n`: without its line break.
    static QString shownLine(qint64 n)
    {
        char bytes[LineBytes];
        fillLine(bytes, n);
        return QString::fromLatin1(bytes, LineBytes - 2);
    }

    Flood(int masterFd, qint64 lines) : m_fd(masterFd), m_lines(lines), m_thread([this] { run(); }) {}
    ~Flood() { stop(); }
    Q_DISABLE_COPY_MOVE(Flood)

    // Stops writing, mid-line if it so happens, and returns once the writer has.
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool finished() const { return m_finished; }
    bool failed() const { return m_failed; }
    qint64 bytesWritten() const { return m_written; }

private:
    static void fillLine(char *out, qint64 n)
    {
        for (int i = 9; i >= 0; --i, n /= 10)
            out[i] = char('0' + n % 10);
        out[10] = ' ';
        // Lines differ beyond the number too.
        const qint64 shift = out[9] - '0' + 10 * (out[8] - '0');
        for (int i = 11; i < LineBytes - 2; ++i)
            out[i] = char('!' + (shift * 7 + i) % 94);
        out[LineBytes - 2] = '\r';
        out[LineBytes - 1] = '\n';
    }

    void run()
    {
        constexpr qint64 linesPerBlock = 13'107; // just under 1 MiB
        std::vector<char> block(size_t(linesPerBlock * LineBytes));
        for (qint64 first = 0; !m_stop && (m_lines == Endless || first < m_lines);
             first += linesPerBlock) {
            const qint64 count = m_lines == Endless ? linesPerBlock : std::min(linesPerBlock, m_lines - first);
            for (qint64 k = 0; k < count; ++k)
                fillLine(block.data() + k * LineBytes, first + k);
            if (!writeAll(block.data(), size_t(count * LineBytes))) {
                m_failed = !m_stop;
                break;
            }
        }
        m_finished = true;
    }

    bool writeAll(const char *data, size_t size)
    {
        size_t done = 0;
        while (done < size) {
            if (m_stop)
                return false;
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n > 0) {
                done += size_t(n);
                m_written += n;
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            } else {
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 20);
            }
        }
        return true;
    }

    const int m_fd;
    const qint64 m_lines;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_failed{false};
    std::atomic<qint64> m_written{0};
    std::thread m_thread;
};

// The number of whole flood lines `text` holds from line 0 on, or -1 if any of
// it is not the flood (the last piece may be a line still arriving).
qint64 floodPrefixLines(const QString &text)
{
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i] != Flood::shownLine(i))
            return -1;
    }
    if (!Flood::shownLine(lines.size() - 1).startsWith(lines.back()))
        return -1;
    return lines.size() - 1;
}

// A running terminal with port 2 bound to `device`.
struct Terminal : RunningTerminal
{
    explicit Terminal(const QString &device)
        : RunningTerminal(boundTo(device))
    {
        start();
    }

    static PortRouter *boundTo(const QString &device)
    {
        auto *router = new PortRouter;
        router->bindPort(2, device);
        return router;
    }
};

qint64 floodBytes()
{
    bool ok = false;
    const qint64 mib = qEnvironmentVariableIntValue("MODEMTERM_FLOOD_MIB", &ok);
    return (ok && mib > 0 ? mib : qint64(MODEMTERM_FLOOD_MIB)) * 1024 * 1024;
}

} // namespace

// Faults seen from the whole terminal window, on real pseudo-terminals through
// Qt Serial Port.
class tst_WindowFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondTerminalFindsThePortInUse()
    {
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        ModalWatcher boxes;
        Terminal first(pty.slavePath());
        QCOMPARE(pty.read(3), QByteArray("AT\r"));
        QCOMPARE(boxes.count(), 0);

        auto second = std::make_unique<Terminal>(pty.slavePath());
        QCOMPARE(boxes.count(), 1);
        const ModalWatcher::Box box = boxes.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Ostrzeżenie"));
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        const QStringList lines = box.text.split(u'\n');
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], warningLine(CommError::PortInUse));
        QVERIFY2(lines[1].startsWith(pty.slavePath() + QLatin1String(": ")), qPrintable(lines[1]));
        QVERIFY(pty.readAvailable().isEmpty()); // the second greeted nobody

        // What the second terminal is typed goes nowhere, and says so.
        second->typeLine(QStringLiteral("ATH"));
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(boxes.boxes().last().text.section(u'\n', 0, 0), warningLine(CommError::PortNotOpen));
        second->window->close();
        second.reset();
        QCOMPARE(boxes.count(), 2);

        // The first terminal still has the device, both ways.
        QVERIFY(pty.write("RING\r\n"));
        QTRY_COMPARE(first.text1()->text(), QStringLiteral("RING\n"));
        first.typeLine(QStringLiteral("ATA"));
        QCOMPARE(pty.read(4), QByteArray("ATA\r"));
        QVERIFY(pty.readAvailable().isEmpty());

        // Still in use: the second terminal's leaving freed nothing of the first's.
        PortRouter third;
        third.bindPort(2, pty.slavePath());
        third.setCommPort(2);
        QCOMPARE(thrownNumber([&] { third.setPortOpen(true); }), int(CommError::PortInUse));
        QCOMPARE(boxes.count(), 2);
    }

    void farEndVanishingMidFlood()
    {
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        ModalWatcher boxes;
        Terminal t(pty.slavePath());
        QCOMPARE(pty.read(3), QByteArray("AT\r"));
        QTimer *clock = t.clock();
        QVERIFY(clock);

        {
            Flood flood(pty.masterFd(), Flood::Endless);
            // Well inside the transcript's limits, so all of it stays to be checked.
            QTRY_VERIFY_WITH_TIMEOUT(t.text1()->textLength() >= 2'000'000 || flood.finished(), 60000);
            QVERIFY(!flood.failed());
            flood.stop();
            // Lines the kernel still holds go with the device.
            pty.closeMaster();
        }
        const qsizetype shownBeforeHangUp = t.text1()->textLength();

        QTRY_COMPARE(boxes.count(), 1);
        const QStringList lines = boxes.boxes().first().text.split(u'\n');
        QCOMPARE(lines.value(0), warningLine(CommError::DeviceLost));
        QVERIFY2(lines.value(1).startsWith(pty.slavePath() + QLatin1String(": ")),
                 qPrintable(lines.value(1)));

        // The window runs on: its clock ticks, and nothing more is reported.
        QSignalSpy ticks(clock, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 2, 5000);
        QCOMPARE(boxes.count(), 1);

        const QString received = t.text1()->text();
        QVERIFY(received.size() >= shownBeforeHangUp);
        const qint64 whole = floodPrefixLines(received);
        QVERIFY2(whole >= 0, "the transcript is not the flood's lines in order");
        QVERIFY(whole >= 2'000'000 / Flood::LineBytes);

        t.typeLine(QStringLiteral("ATI"));
        QCOMPARE(boxes.count(), 2);
        QCOMPARE(boxes.boxes().last().text.section(u'\n', 0, 0), warningLine(CommError::PortNotOpen));
        // The typing shows after what was received, which is all still there.
        QVERIFY(t.text1()->text().startsWith(received));

        t.window->close();
        QCOMPARE(boxes.count(), 2);
    }

    void typingWorksAfterAHugeFlood()
    {
        PseudoTerminal pty;
        QVERIFY(pty.isValid());
        ModalWatcher boxes;
        Terminal t(pty.slavePath());
        QCOMPARE(pty.read(3), QByteArray("AT\r"));

        const qint64 lineCount = floodBytes() / Flood::LineBytes;
        QElapsedTimer elapsed;
        elapsed.start();
        {
            Flood flood(pty.masterFd(), lineCount);
            // The test's own time limit less what the other cases take.
            QTRY_VERIFY_WITH_TIMEOUT(flood.finished(), 270'000);
            QVERIFY(!flood.failed());
            QCOMPARE(flood.bytesWritten(), lineCount * Flood::LineBytes);
        }
        const QString lastLine = Flood::shownLine(lineCount - 1) + u'\n';
        QTRY_VERIFY_WITH_TIMEOUT(t.text1()->text().endsWith(lastLine), 10000);
        qInfo("%lld MiB of text shown in %.1f s", floodBytes() / (1024 * 1024),
              double(elapsed.elapsed()) / 1000);
        QCOMPARE(boxes.count(), 0);

        // The flood's last lines, whole and in order (the first may have lost its
        // start), within the transcript's limits.
        const QString kept = t.text1()->text();
        QCOMPARE(t.text1()->textLength(), kept.size());
        QVERIFY(kept.size() <= 16'000'000);
        QVERIFY(kept.count(u'\n') <= 100'000);
        const QStringList lines = kept.split(u'\n');
        QCOMPARE(lines.back(), QString());
        const qint64 firstKept = lineCount - (lines.size() - 1);
        QVERIFY(firstKept >= 0);
        QVERIFY2(Flood::shownLine(firstKept).endsWith(lines.front()),
                 "the flood's last lines are not kept in order");
        for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
            if (lines[i] != Flood::shownLine(firstKept + i))
                QFAIL(qPrintable(QStringLiteral("kept line %1 is \"%2\"").arg(i).arg(lines[i])));
        }

        t.typeLine(QStringLiteral("ATI"));
        QCOMPARE(pty.read(4), QByteArray("ATI\r"));
        QTRY_VERIFY(t.text1()->text().endsWith(lastLine + QStringLiteral("ATI\n")));
        QCOMPARE(boxes.count(), 0);
        t.window->close();
    }
};

QTEST_MAIN(tst_WindowFaults)
#include "tst_windowfaults.moc"
