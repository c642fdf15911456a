// SPDX-License-Identifier: MIT
// modemsim: the simulated modem on a pseudo-terminal, for any serial program,
// or on TCP with RFC 2217 for a terminal on the network.

#include "commerror.h"
#include "hayesmodem.h"
#include "polishqt.h"
#include "ptymodem.h"
#include "rfc2217server.h"
#include "unixsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>

#include <csignal>
#include <cstdio>

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "modemsim: %s\n", qPrintable(message));
}

// "[ADDR:]PORT" with ADDR an IPv4 address, an IPv6 address in brackets or a
// name of this machine's (localhost); 127.0.0.1 when left out.
bool parseListenAddress(const QString &text, QHostAddress &address, quint16 &port)
{
    const qsizetype colon = text.lastIndexOf(u':');
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':'))
        return false;
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    bool ok = false;
    const uint number = text.mid(colon + 1).toUInt(&ok);
    if (!ok || number > 65535 || !address.setAddress(host))
        return false;
    port = quint16(number);
    return true;
}

// The modem on TCP until told to stop; prints the address to give modemterm.
int serveOverNetwork(QCoreApplication &app, const QString &where, bool pacing)
{
    QHostAddress address;
    quint16 port = 0;
    if (!parseListenAddress(where, address, port)) {
        fail(QStringLiteral("„%1” nie jest adresem do nasłuchu; podaj [ADRES:]PORT, np. 2217 "
                            "albo 0.0.0.0:2217").arg(where));
        return 2;
    }
    Rfc2217Server server;
    server.modem()->setPacing(pacing);
    if (!server.listen(address, port)) {
        fail(QStringLiteral("nie można nasłuchiwać na %1: %2").arg(where, server.errorString()));
        return 1;
    }
    const QString host = server.address().protocol() == QAbstractSocket::IPv6Protocol
                             ? u'[' + server.address().toString() + u']'
                             : server.address().toString();
    std::printf("rfc2217://%s:%u\n", qPrintable(host), unsigned(server.port()));
    std::fflush(stdout);
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("modemsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MODEMTERM_VERSION));
    PolishQt::install(app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Symulowany modem Hayes na pseudoterminalu. Wypisuje ścieżkę terminala, którą\n"
        "otwiera się jak port szeregowy, i działa do przerwania (Ctrl+C, SIGTERM).\n"
        "Z --rfc2217 zamiast tego nasłuchuje na TCP (Telnet z opcją COM-PORT) i wypisuje\n"
        "adres dla modemterm --port."));
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
    const QCommandLineOption rfc2217Option(
        QStringLiteral("rfc2217"),
        QStringLiteral("Udostępnia modem przez TCP z RFC 2217, z prawdziwymi liniami "
                       "(DTR, RTS, CTS, DSR, CD), jednemu klientowi naraz. Bez adresu "
                       "nasłuchuje na 127.0.0.1; port 0 to dowolny wolny."),
        QStringLiteral("[adres:]port"));
    parser.addOption(linkOption);
    parser.addOption(noPacingOption);
    parser.addOption(rfc2217Option);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("nieoczekiwany argument \"%1\"; zobacz modemsim --help")
                 .arg(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(rfc2217Option) && parser.isSet(linkOption)) {
        fail(QStringLiteral("--link dotyczy pseudoterminala; z --rfc2217 modem jest w sieci, "
                            "nie podawaj obu"));
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

    if (parser.isSet(rfc2217Option))
        return serveOverNetwork(app, parser.value(rfc2217Option), !parser.isSet(noPacingOption));

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
