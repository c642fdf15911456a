// SPDX-License-Identifier: MIT
#include "commandline.h"
#include "oknoterma.h"
#include "portlist.h"
#include "portnaming.h"
#include "polishqt.h"
#include "portrouter.h"
#include "sessionlog.h"
#include "transferglue.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <memory>
#include <optional>

#ifdef Q_OS_UNIX
#include "unixsignals.h"

#include <csignal>
#include <cstdlib>
#endif

namespace {

// An argument as text. A file name may hold bytes the system's encoding
// cannot read (and text could not give back); a device reached by such a
// name is taken by its real path instead. Empty when neither can be read.
std::optional<QString> argumentText(const QByteArray &bytes)
{
    const auto readable = [](const QByteArray &b) -> std::optional<QString> {
        QString text = QString::fromLocal8Bit(b);
        return text.toLocal8Bit() == b ? std::optional(text) : std::nullopt;
    };
    if (auto text = readable(bytes))
        return text;
#ifdef Q_OS_UNIX
    const qsizetype equals = bytes.startsWith('-') ? bytes.indexOf('=') : -1;
    if (char *real = ::realpath(bytes.mid(equals + 1).constData(), nullptr)) {
        const std::optional<QString> path = readable(QByteArray(real));
        std::free(real);
        const std::optional<QString> option = readable(bytes.left(equals + 1));
        if (path && option)
            return *option + *path;
    }
#endif
    return std::nullopt;
}

} // namespace

int main(int argc, char *argv[])
{
    // Read before the application exists, so --help and --version need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const std::optional<QString> text = argumentText(QByteArray(argv[i]));
        if (!text) {
            std::fprintf(stderr,
                         "modemterm: argumentu „%s” nie da się odczytać jako tekstu (bajty spoza "
                         "kodowania systemu); wskaż urządzenie inną nazwą, np. dowiązaniem "
                         "symbolicznym\nSpróbuj „modemterm --help”.\n",
                         QString::fromLocal8Bit(argv[i]).toLocal8Bit().constData());
            return 2;
        }
        arguments.append(*text);
    }
    const CommandLine commandLine = CommandLine::parse(arguments);
    switch (commandLine.action) {
    case CommandLine::Action::ShowHelp:
    case CommandLine::Action::ShowVersion:
        std::fputs(commandLine.message.toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::ListPorts:
        std::fputs(PortList::format(PortList::present()).toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Fail:
        std::fputs(commandLine.message.toLocal8Bit().constData(), stderr);
        return 2;
    case CommandLine::Action::Run:
        break;
    }

    auto router = std::make_unique<PortRouter>();
    commandLine.configure(*router);
    // A log that cannot be opened is refused before anything shows.
    std::unique_ptr<SessionLog> log;
    if (!commandLine.log.isEmpty() || !commandLine.rawLog.isEmpty()) {
        const int port = PortNaming::StartupPort;
        const QString source = QStringLiteral("port COM %1 (%2)").arg(port).arg(router->deviceName(port));
        QString error;
        log = SessionLog::open({commandLine.log, commandLine.rawLog, commandLine.timestamps}, source, &error);
        if (!log) {
            std::fputs(QStringLiteral("modemterm: %1\n").arg(error).toLocal8Bit().constData(), stderr);
            return 2;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("modemterm"));
    QApplication::setApplicationVersion(QStringLiteral(MODEMTERM_VERSION));
    PolishQt::install(app);

    PortRouter *ports = router.release();
    OknoTerma window(ports);
    if (log)
        window.setSessionLog(std::move(log));
    if (commandLine.transfers) {
        const QString downloads = commandLine.downloadDir.isEmpty()
                                      ? QStandardPaths::writableLocation(QStandardPaths::DownloadLocation)
                                      : commandLine.downloadDir;
        new TransferGlue(&window, ports, downloads);
    }
    if (commandLine.reconnect)
        window.enableReconnect([ports](int port) { return ports->deviceExists(port); });
    std::optional<int> endRequested;
    QObject::connect(&window, &OknoTerma::programEndRequested, &app, [&endRequested](int exitCode) {
        endRequested = exitCode;
        QCoreApplication::exit(exitCode);
    });
#ifdef Q_OS_UNIX
    // A logout or kill ends the program as "Wyjdź" does: port closed, its lock
    // file gone, status 0.
    if (auto *signals = UnixSignals::catchSignals({SIGTERM, SIGHUP, SIGINT}, &app))
        QObject::connect(signals, &UnixSignals::received, &window, &OknoTerma::endProgram);
#endif

    // A warning box about the port comes before the window; closing it must
    // not count as closing the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    window.Form_Load();
    if (endRequested) // told to end while the warning was up
        return *endRequested;
    window.show();
    QApplication::setQuitOnLastWindowClosed(true);
    return QApplication::exec();
}
