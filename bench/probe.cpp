// SPDX-License-Identifier: MIT
// The benchmark's probe, built into benchterm (modemterm's own start-up and
// libraries) and into nothing that is installed. It attaches from outside once
// the application exists: it finds the window's widgets by object name and
// watches them through event filters.
//
// With MODEMTERM_BENCH_LOG naming a file it appends one line per event, each
// with CLOCK_MONOTONIC nanoseconds:
//   start <ns>                   the application exists
//   paint <ns> <chars> <typed>   the transcript was repainted, showing <chars>
//                                received characters (typed ones not counted)
//                                and after <typed> keys the probe typed
//   tick <ns>                    the window's clock (Timer1) ticked
//   box <name> <ns> <colour>     a line box is being repainted
//   text <ns>                    the transcript was written to <file>.text
//   cancel <ns>                  "Przerwij" was clicked
//   send <ns>                    the file in <file>.send was chosen to be sent
// SIGUSR1 types "ATI" and Enter into the transcript (or the text in <file>.type
// if there is one), SIGWINCH one "x", and SIGUSR2 clicks the DTR box, as a user
// would; SIGURG writes the transcript out; SIGPWR clicks "Przerwij" in the
// transfer's progress window. While <file>.send exists, a file chooser that
// opens is given that file and accepted. (SIGTERM, SIGHUP and SIGINT stay
// modemterm's own: it ends as "Wyjdź" does.)
#include "indicator.h"
#include "terminalview.h"
#include "unixsignals.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Starts the timer when a file chooser is shown.
struct ChooserShown : QObject
{
    QTimer *timer = nullptr;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QFileDialog *>(watched))
            timer->start(50);
        return false;
    }
};

class Probe : public QObject
{
public:
    explicit Probe(const QByteArray &logPath, QObject *parent)
        : QObject(parent), m_logPath(logPath)
    {
        m_log = ::open(logPath.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        log("start");
        if (auto *signals = UnixSignals::catchSignals({SIGUSR1, SIGUSR2, SIGURG, SIGWINCH, SIGPWR}, this))
            connect(signals, &UnixSignals::received, this, &Probe::onSignal);
        // The window is built after the application: look for it once events run.
        QTimer::singleShot(0, this, &Probe::attach);
        // A file chooser is looked at only while one is shown: the probe must
        // not wake an idle program.
        connect(&m_chooser, &QTimer::timeout, this, &Probe::answerChooser);
        qApp->installEventFilter(&m_chooserShown);
        m_chooserShown.timer = &m_chooser;
    }
    ~Probe() override
    {
        if (m_log >= 0)
            ::close(m_log);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress && watched == m_view) {
            ++m_typed; // each of the probe's keys adds one character to the transcript
        } else if (event->type() == QEvent::Paint && m_view && watched == m_view->viewport()) {
            if (m_inPaint)
                return false;
            // Paint first, then log: the figure is when the text is on screen.
            m_inPaint = true;
            QCoreApplication::sendEvent(watched, event);
            m_inPaint = false;
            const Transcript &t = m_view->transcript();
            log("paint", QByteArray::number(t.droppedChars() + t.size() - m_typed) + ' ' + QByteArray::number(m_typed));
            return true;
        } else if (auto *box = qobject_cast<Indicator *>(watched); box && event->type() == QEvent::Paint) {
            const QColor colour = box->colour();
            log("box " + box->objectName().toLatin1(), colour.isValid() ? colour.name().toLatin1() : "none");
        }
        return false;
    }

private:
    static QWidget *widget(const char *name)
    {
        for (QWidget *w : QApplication::allWidgets()) {
            if (w->objectName() == QLatin1String(name))
                return w;
        }
        return nullptr;
    }

    void attach()
    {
        m_view = qobject_cast<TerminalView *>(widget("Text1"));
        if (!m_view) {
            QTimer::singleShot(10, this, &Probe::attach);
            return;
        }
        m_view->installEventFilter(this);
        m_view->viewport()->installEventFilter(this);
        for (const char *name : {"PicCD", "PicCTS", "PicDSR", "PicRTS", "PicDTR"}) {
            if (QWidget *box = widget(name))
                box->installEventFilter(this);
        }
        if (auto *clock = m_view->window()->findChild<QTimer *>(QStringLiteral("Timer1")))
            connect(clock, &QTimer::timeout, this, [this] { log("tick"); });
    }

    void onSignal(int number)
    {
        if (number == SIGUSR1 && m_view)
            typeLine();
        else if (number == SIGWINCH && m_view)
            type(Qt::Key_X, QStringLiteral("x"));
        else if (number == SIGUSR2)
            clickDtr();
        else if (number == SIGURG && m_view)
            writeTranscript();
        else if (number == SIGPWR)
            clickCancel();
    }

    void typeLine()
    {
        QFile typed(QString::fromLocal8Bit(m_logPath + ".type"));
        const QByteArray line = typed.open(QIODevice::ReadOnly) ? typed.readAll() : QByteArray("ATI\r");
        for (const char c : line)
            type(c == '\r' ? Qt::Key_Return : Qt::Key(QChar(c).toUpper().unicode()), QChar::fromLatin1(c));
    }

    void type(Qt::Key key, const QString &text)
    {
        QCoreApplication::postEvent(m_view, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
        QCoreApplication::postEvent(m_view, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
    }

    void clickCancel()
    {
        for (QWidget *w : QApplication::allWidgets()) {
            auto *button = qobject_cast<QAbstractButton *>(w);
            if (button && button->isVisible() && button->text().remove(u'&') == QLatin1String("Przerwij")) {
                log("cancel");
                click(button);
                return;
            }
        }
    }

    void answerChooser()
    {
        const QList<QWidget *> shown = QApplication::topLevelWidgets();
        if (std::none_of(shown.begin(), shown.end(), [](QWidget *w) { return qobject_cast<QFileDialog *>(w) && w->isVisible(); }))
            m_chooser.stop();
        QFile send(QString::fromLocal8Bit(m_logPath + ".send"));
        if (!send.exists())
            return;
        for (QWidget *w : shown) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog || !dialog->isVisible() || !send.open(QIODevice::ReadOnly))
                continue;
            const QString path = QString::fromLocal8Bit(send.readAll().trimmed());
            send.close();
            send.remove();
            // Typed as a user would: selectFile() leaves a focused name field alone.
            if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(path);
            log("send");
            QMetaObject::invokeMethod(dialog, &QDialog::accept); // protected in QFileDialog
            return;
        }
    }

    void clickDtr()
    {
        if (QWidget *box = widget("PicDTR"))
            click(box);
    }

    static void click(QWidget *box)
    {
        const QPointF local(box->width() / 2.0, box->height() / 2.0);
        const QPointF global = box->mapToGlobal(local);
        for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            const auto buttons = type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton;
            QCoreApplication::postEvent(box, new QMouseEvent(type, local, local, global, Qt::LeftButton, buttons,
                                                             Qt::NoModifier));
        }
    }

    void writeTranscript()
    {
        QFile out(QString::fromLocal8Bit(m_logPath + ".text"));
        if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            out.write(m_view->text().toUtf8());
        out.close();
        log("text");
    }

    void log(const QByteArray &what, const QByteArray &after = {})
    {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        const qint64 ns = qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
        const QByteArray line = what + ' ' + QByteArray::number(ns) + (after.isEmpty() ? "" : " " + after) + '\n';
        if (m_log >= 0 && ::write(m_log, line.constData(), size_t(line.size())) < 0)
            return; // a lost line only shows as a missing figure
    }

    QByteArray m_logPath;
    int m_log = -1;
    QPointer<TerminalView> m_view;
    qint64 m_typed = 0;
    bool m_inPaint = false;
    QTimer m_chooser;
    ChooserShown m_chooserShown;
};

void startProbe()
{
    const QByteArray path = qgetenv("MODEMTERM_BENCH_LOG");
    if (!path.isEmpty())
        new Probe(path, QCoreApplication::instance());
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startProbe)
