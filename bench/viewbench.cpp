// SPDX-License-Identifier: MIT
// The transcript view alone: a flood appended chunk by chunk the way the
// window appends received text, with the event loop (and so the repaints)
// running between chunks. Prints MB/s, repaints and peak memory.
#include "terminalview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTextStream>

#include <cstdio>
#include <ctime>

namespace {

long peakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// One chunk of received text: printable characters, a line break every 80
// (or none at all for the endless line).
QString makeChunk(qsizetype size, bool endless, qsizetype &column)
{
    QString s;
    s.reserve(size);
    for (qsizetype i = 0; i < size; ++i) {
        if (!endless && column == 80) {
            s += u'\n';
            column = 0;
            continue;
        }
        s += QChar(char16_t(u' ' + (i * 7 + column) % 95));
        ++column;
    }
    return s;
}

int paints = 0;

// CPU time of this thread: what a step cost, whatever else the machine ran.
qint64 threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

class PaintCounter : public QObject
{
protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const qsizetype megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 200;
    const bool endless = argc > 2 && QByteArray(argv[2]) == "endless";
    const qsizetype chunkSize = 4096;

    TerminalView view;
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSizeF(8.25);
    view.setFont(font);
    view.resize(619, 545);
    view.show();
    PaintCounter counter;
    view.viewport()->installEventFilter(&counter);
    QApplication::processEvents();

    // A handful of distinct chunks, so the loop measures the view, not the generator.
    std::vector<QString> chunks;
    qsizetype column = 0;
    for (int i = 0; i < 16; ++i)
        chunks.push_back(makeChunk(chunkSize, endless, column));

    const qsizetype total = megabytes * 1024 * 1024;
    QElapsedTimer timer;
    timer.start();
    qsizetype done = 0;
    qint64 worstAppend = 0; // ns, one chunk appended and the caret moved to the end
    qint64 worstEvents = 0; // ns, one pass of the event loop (a repaint, when one is due)
    for (size_t i = 0; done < total; ++i) {
        qint64 t = threadCpuNs();
        view.appendText(chunks[i % chunks.size()]);
        view.setCaretPosition(view.textLength());
        worstAppend = std::max(worstAppend, threadCpuNs() - t);
        done += chunkSize;
        t = threadCpuNs();
        QApplication::processEvents();
        worstEvents = std::max(worstEvents, threadCpuNs() - t);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%s: %lld MB in %.2f s = %.1f MB/s, %d repaints (%.0f/s), %lld chars kept in %lld lines, "
                "peak RSS %.1f MB; slowest append %.2f ms, slowest event pass %.2f ms (CPU time)\n",
                endless ? "endless line" : "text flood", (long long)megabytes, seconds,
                megabytes / seconds, paints, paints / seconds, (long long)view.textLength(),
                (long long)view.lineCount(), peakRssKb() / 1024.0, worstAppend / 1e6, worstEvents / 1e6);

    // Jumping about the longest line: each jump costs a search and one
    // checkpoint's worth of characters, wherever it lands.
    QScrollBar *h = view.horizontalScrollBar();
    if (h->maximum() > 0) {
        timer.start();
        const int jumps = 200;
        for (int i = 0; i < jumps; ++i) {
            h->setValue(int((qint64(h->maximum()) * ((i * 7919) % jumps)) / jumps));
            view.viewport()->repaint();
        }
        std::printf("  %d horizontal jumps across a line %.0f px wide: %.3f ms each, repaint included\n", jumps,
                    view.transcript().maxLineWidth(), timer.nsecsElapsed() / 1e6 / jumps);
    }
    return 0;
}
