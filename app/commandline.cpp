// SPDX-License-Identifier: MIT
#include "commandline.h"

#include "networkaddress.h"
#include "portnaming.h"
#include "portrouter.h"
#include "simulatedcomm.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const QString SimulatedModem = QStringLiteral("sim");

CommandLine failure(const QString &what)
{
    CommandLine result;
    result.action = CommandLine::Action::Fail;
    result.message = QStringLiteral("modemterm: %1\nSpróbuj „modemterm --help”.\n").arg(what);
    return result;
}

// The argument that named `option`, as the user typed it.
QString asTyped(const QStringList &arguments, const QString &option)
{
    for (const QString &arg : arguments.mid(1)) {
        QStringView name(arg);
        if (!name.startsWith(u'-'))
            continue;
        name = name.mid(name.startsWith(u"--") ? 2 : 1);
        if (name.left(name.indexOf(u'=')) == option)
            return arg.left(arg.indexOf(u'='));
    }
    return QStringLiteral("--") + option;
}

} // namespace

QString CommandLine::helpText()
{
    return QStringLiteral(
               "Użycie: modemterm [--port NAZWA] [--log PLIK [--timestamps]] [--log-raw PLIK]\n"
               "                  [--reconnect] [--transfers [--download-dir KATALOG]]\n"
               "       modemterm --list-ports\n"
               "\n"
               "Terminal portu szeregowego do rozmowy z modemem. Bez argumentów otwiera\n"
               "port COM 2 (%1) z ustawieniami 9600,N,8,1.\n"
               "\n"
               "Opcje:\n"
               "  --port NAZWA   urządzenie, za które ma stać port COM 2: ścieżka\n"
               "                 (np. /dev/ttyUSB0 albo stała nazwa z /dev/serial/by-id/),\n"
               "                 COMn albo „sim” (wbudowany symulowany modem)\n"
               "  --port rfc2217://HOST:PORT\n"
               "                 port udostępniony w sieci z liniami modemu (RFC 2217,\n"
               "                 np. przez ser2net); HOST to nazwa, adres IPv4 albo\n"
               "                 adres IPv6 w nawiasach: rfc2217://[::1]:2217\n"
               "  --port socket://HOST:PORT\n"
               "                 port udostępniony w sieci jako zwykłe połączenie TCP\n"
               "                 (tylko bajty, bez linii modemu)\n"
               "  --log PLIK     dopisuje do PLIKU przebieg sesji: odebrany tekst tak, jak\n"
               "                 pokazuje go okno, w UTF-8, po wierszu nagłówka\n"
               "  --timestamps   zaczyna każdy wiersz dziennika --log datą i godziną\n"
               "                 nadejścia jego pierwszego znaku\n"
               "  --log-raw PLIK dopisuje do PLIKU odebrane bajty bez zmian\n"
               "  --reconnect    gdy urządzenie portu zniknie (albo go nie ma przy\n"
               "                 starcie), czeka na nie i otwiera port ponownie\n"
               "  --transfers    przesyłanie plików (ZMODEM, YMODEM, XMODEM przez lrzsz):\n"
               "                 „Wyślij plik…” i „Odbierz plik…” w menu Plik; ZMODEM\n"
               "                 zaczęty przez drugą stronę rusza sam\n"
               "  --download-dir KATALOG\n"
               "                 gdzie zapisywać odebrane pliki (domyślnie folder\n"
               "                 pobranych plików użytkownika)\n"
               "  --list-ports   wypisuje obecne porty szeregowe i kończy działanie\n"
               "  -h, --help     pokazuje tę pomoc\n"
               "  -v, --version  pokazuje wersję programu\n")
        .arg(PortNaming::deviceForNumber(PortNaming::StartupPort));
}

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("NAZWA"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption logOption(QStringLiteral("log"), QString(), QStringLiteral("PLIK"));
    const QCommandLineOption rawLogOption(QStringLiteral("log-raw"), QString(), QStringLiteral("PLIK"));
    const QCommandLineOption timestampsOption(QStringLiteral("timestamps"));
    const QCommandLineOption reconnectOption(QStringLiteral("reconnect"));
    const QCommandLineOption listPortsOption(QStringLiteral("list-ports"));
    const QCommandLineOption transfersOption(QStringLiteral("transfers"));
    const QCommandLineOption downloadDirOption(QStringLiteral("download-dir"), QString(), QStringLiteral("KATALOG"));
    parser.addOptions({portOption, logOption, rawLogOption, timestampsOption, reconnectOption,
                       listPortsOption, transfersOption, downloadDirOption});
    parser.addOption(helpOption);
    parser.addOption(versionOption);

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return failure(QStringLiteral("nieznana opcja „%1”").arg(asTyped(arguments, unknown.first())));
        // Only the last argument can be missing its value.
        const QString last = arguments.last();
        if (last.endsWith(QLatin1String("-log")) || last.endsWith(QLatin1String("-log-raw")))
            return failure(QStringLiteral("opcja %1 wymaga nazwy pliku").arg(last));
        if (last.endsWith(QLatin1String("-download-dir")))
            return failure(QStringLiteral("opcja %1 wymaga nazwy katalogu").arg(last));
        return failure(QStringLiteral("opcja --port wymaga nazwy portu"));
    }
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("nieoczekiwany argument „%1”")
                           .arg(parser.positionalArguments().first()));

    const QStringList ports = parser.values(portOption);
    if (ports.size() > 1)
        return failure(QStringLiteral("opcję --port można podać tylko raz"));

    CommandLine result;
    if (parser.isSet(helpOption)) {
        result.action = Action::ShowHelp;
        result.message = helpText();
        return result;
    }
    if (parser.isSet(versionOption)) {
        result.action = Action::ShowVersion;
        result.message = QStringLiteral("modemterm " MODEMTERM_VERSION "\n");
        return result;
    }
    if (parser.isSet(listPortsOption)) {
        result.action = Action::ListPorts;
        return result;
    }
    for (const QCommandLineOption *option : {&logOption, &rawLogOption}) {
        const QStringList files = parser.values(*option);
        const QString name = QLatin1String("--") + option->names().first();
        if (files.size() > 1)
            return failure(QStringLiteral("opcję %1 można podać tylko raz").arg(name));
        if (!files.isEmpty() && files.first().isEmpty())
            return failure(QStringLiteral("opcja %1 wymaga nazwy pliku").arg(name));
        if (!files.isEmpty() && files.first().startsWith(u'-'))
            return failure(QStringLiteral("„%1” nie jest nazwą pliku; opcja %2 wymaga nazwy pliku")
                               .arg(files.first(), name));
        (option == &logOption ? result.log : result.rawLog) = files.value(0);
    }
    if (!result.log.isEmpty() && !result.rawLog.isEmpty()
        && QFileInfo(result.log).absoluteFilePath() == QFileInfo(result.rawLog).absoluteFilePath())
        return failure(QStringLiteral("--log i --log-raw muszą pisać do różnych plików"));
    result.timestamps = parser.isSet(timestampsOption);
    if (result.timestamps && result.log.isEmpty())
        return failure(QStringLiteral("opcja --timestamps dotyczy dziennika tekstowego; podaj też --log PLIK"));
    result.reconnect = parser.isSet(reconnectOption);
    result.transfers = parser.isSet(transfersOption);
    const QStringList downloadDirs = parser.values(downloadDirOption);
    if (downloadDirs.size() > 1)
        return failure(QStringLiteral("opcję --download-dir można podać tylko raz"));
    if (!downloadDirs.isEmpty()) {
        if (!result.transfers)
            return failure(QStringLiteral("opcja --download-dir dotyczy przesyłania plików; podaj też --transfers"));
        if (downloadDirs.first().isEmpty() || downloadDirs.first().startsWith(u'-'))
            return failure(QStringLiteral("opcja --download-dir wymaga nazwy katalogu"));
        result.downloadDir = downloadDirs.first();
    }
    if (!ports.isEmpty()) {
        const QString name = ports.first().trimmed();
        if (name.isEmpty())
            return failure(QStringLiteral("opcja --port wymaga nazwy portu"));
        if (name.startsWith(u'-'))
            return failure(QStringLiteral("„%1” nie jest nazwą portu; opcja --port wymaga nazwy portu")
                               .arg(name));
        QString why;
        if (NetworkAddress::looksLikeUrl(name) && !NetworkAddress::parse(name, &why))
            return failure(why);
        result.port = name;
    }
    return result;
}

void CommandLine::configure(PortRouter &router) const
{
    router.registerDevice(SimulatedModem,
                          [](QObject *parent) -> CommControl * { return new SimulatedComm(parent); });
    if (!port.isEmpty())
        router.bindPort(PortNaming::StartupPort, port);
}
