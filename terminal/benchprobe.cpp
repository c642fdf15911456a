#include "benchprobe.h"

#include "indicator.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#ifdef Q_OS_LINUX

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace BenchProbe {
namespace {

int logFd = -1;
int signalPipe[2] = {-1, -1};
QPointer<QWidget> typingTarget;

qint64 now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

void log(const QByteArray &line)
{
    const QByteArray text = line + '\n';
    if (::write(logFd, text.constData(), size_t(text.size())) < 0)
        return; // a lost log line only shows as a missing figure
}

void onSignal(int number)
{
    const char byte = char(number);
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1); // a full pipe already wakes the loop
    errno = saved;
}

QWidget *findWidget(const char *name)
{
    for (QWidget *w : QApplication::allWidgets()) {
        if (w->objectName() == QLatin1String(name))
            return w;
    }
    return nullptr;
}

void typeLine()
{
    QWidget *target = typingTarget;
    if (!target)
        return;
    log("type " + QByteArray::number(now()));
    const struct { Qt::Key key; const char *text; } keys[] = {
        {Qt::Key_A, "A"}, {Qt::Key_T, "T"}, {Qt::Key_I, "I"}, {Qt::Key_Return, "\r"}};
    for (const auto &k : keys) {
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, k.key, Qt::NoModifier, QString::fromLatin1(k.text)));
        QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, k.key, Qt::NoModifier, QString::fromLatin1(k.text)));
    }
}

void clickDtr()
{
    QWidget *box = findWidget("PicDTR");
    if (!box)
        return;
    log("click " + QByteArray::number(now()));
    const QPointF local(box->width() / 2.0, box->height() / 2.0);
    const QPointF global = box->mapToGlobal(local);
    QCoreApplication::postEvent(box, new QMouseEvent(QEvent::MouseButtonPress, local, local, global, Qt::LeftButton,
                                                     Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(box, new QMouseEvent(QEvent::MouseButtonRelease, local, local, global, Qt::LeftButton,
                                                     Qt::NoButton, Qt::NoModifier));
}

// Logs repaints of the indicator boxes.
class BoxWatcher : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            auto *box = qobject_cast<Indicator *>(watched);
            const QColor colour = box ? box->colour() : QColor();
            log("box " + watched->objectName().toLatin1() + ' ' + QByteArray::number(now()) + ' '
                + (colour.isValid() ? colour.name().toLatin1() : QByteArray("none")));
        }
        return false;
    }
};

// Once the window exists: its clock timer and indicator boxes.
void attachToWindow(QObject *owner)
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        for (QTimer *timer : top->findChildren<QTimer *>()) {
            if (timer->interval() == 500)
                QObject::connect(timer, &QTimer::timeout, owner, [] { log("tick " + QByteArray::number(now())); });
        }
    }
    auto *watcher = new BoxWatcher(owner);
    for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"}) {
        if (QWidget *box = findWidget(name))
            box->installEventFilter(watcher);
    }
}

} // namespace

void watch(QWidget *view)
{
    if (typingTarget || logFd >= 0) {
        return;
    }
    const QByteArray path = qgetenv("MODEMTERM_BENCH_LOG");
    if (path.isEmpty())
        return;
    logFd = ::open(path.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFd < 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    typingTarget = view;
    log("start " + QByteArray::number(now()));

    auto *owner = new QObject(qApp);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte = 0;
        while (::read(signalPipe[0], &byte, 1) == 1) {
            if (byte == SIGUSR1)
                typeLine();
            else if (byte == SIGUSR2)
                clickDtr();
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
    sigaction(SIGUSR2, &action, nullptr);
    QTimer::singleShot(0, owner, [owner] { attachToWindow(owner); });
}

void painted(qint64 appendedChars)
{
    if (logFd < 0)
        return;
    log("paint " + QByteArray::number(now()) + ' ' + QByteArray::number(appendedChars));
}

} // namespace BenchProbe

#else // the benchmark runs on Linux only

namespace BenchProbe {
void watch(QWidget *) {}
void painted(qint64) {}
} // namespace BenchProbe

#endif
