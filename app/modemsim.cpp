// modemsim: the simulated modem on a pseudo-terminal, for any serial program.

#include "commerror.h"
#include "hayesmodem.h"
#include "ptymodem.h"
#include "unixsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "modemsim: %s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modemsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MODEMTERM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Symulowany modem Hayes na pseudoterminalu. Wypisuje ścieżkę terminala, którą\n"
        "otwiera się jak port szeregowy, i działa do przerwania (Ctrl+C, SIGTERM)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Tworzy dowiązanie symboliczne <ścieżka> do terminala modemu "
                       "(zastępuje stare dowiązanie, usuwa je przy wyjściu)."),
        QStringLiteral("ścieżka"));
    const QCommandLineOption noPacingOption(
        QStringLiteral("no-pacing"),
        QStringLiteral("Wysyła odpowiedzi od razu, bez tempa linii."));
    parser.addOption(linkOption);
    parser.addOption(noPacingOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("nieoczekiwany argument \"%1\"; zobacz modemsim --help")
                 .arg(parser.positionalArguments().first()));
        return 2;
    }

    // Every way of being told to stop ends the event loop, so the link is
    // removed whatever ended us; a signal that comes before the loop runs
    // waits in the pipe.
    auto *signals = UnixSignals::catchSignals({SIGINT, SIGTERM, SIGHUP, SIGPIPE}, &app);
    if (!signals) {
        fail(QStringLiteral("nie można obsłużyć sygnałów zakończenia"));
        return 1;
    }
    QObject::connect(signals, &UnixSignals::received, &app, [] { QCoreApplication::quit(); });

    PtyModem modem;
    try {
        modem.open();
    } catch (const CommError &e) {
        fail(QStringLiteral("nie można otworzyć pseudoterminala: %1").arg(e.detail()));
        return 1;
    }
    modem.modem()->setPacing(!parser.isSet(noPacingOption));

    const QString link = parser.value(linkOption);
    if (!link.isEmpty()) {
        const QFileInfo existing(link);
        if (existing.exists() && !existing.isSymLink()) {
            fail(QStringLiteral("\"%1\" istnieje i nie jest dowiązaniem; nie zastąpię go").arg(link));
            return 1;
        }
        if (existing.isSymLink() && !QFile::remove(link)) {
            fail(QStringLiteral("nie można usunąć starego dowiązania \"%1\"").arg(link));
            return 1;
        }
        if (!QFile::link(modem.terminalPath(), link)) {
            fail(QStringLiteral("nie można utworzyć dowiązania \"%1\"").arg(link));
            return 1;
        }
    }

    std::printf("%s\n", qPrintable(modem.terminalPath()));
    std::fflush(stdout);

    const int status = app.exec();

    // Remove the link only while it still leads to our terminal: another
    // modemsim may have taken the name over meanwhile.
    if (!link.isEmpty() && QFileInfo(link).symLinkTarget() == QFileInfo(modem.terminalPath()).absoluteFilePath())
        QFile::remove(link);
    return status;
}
