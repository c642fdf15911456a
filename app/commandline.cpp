#include "commandline.h"

#include "networkaddress.h"
#include "portnaming.h"
#include "portrouter.h"
#include "simulatedcomm.h"

#include <QCommandLineParser>

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
               "Użycie: modemterm [--port NAZWA]\n"
               "\n"
               "Terminal portu szeregowego do rozmowy z modemem. Bez argumentów otwiera\n"
               "port COM 2 (%1) z ustawieniami 9600,N,8,1.\n"
               "\n"
               "Opcje:\n"
               "  --port NAZWA   urządzenie, za które ma stać port COM 2: ścieżka\n"
               "                 (np. /dev/ttyUSB0), COMn albo „sim” (wbudowany\n"
               "                 symulowany modem)\n"
               "  --port rfc2217://HOST:PORT\n"
               "                 port udostępniony w sieci z liniami modemu (RFC 2217,\n"
               "                 np. przez ser2net); HOST to nazwa, adres IPv4 albo\n"
               "                 adres IPv6 w nawiasach: rfc2217://[::1]:2217\n"
               "  --port socket://HOST:PORT\n"
               "                 port udostępniony w sieci jako zwykłe połączenie TCP\n"
               "                 (tylko bajty, bez linii modemu)\n"
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
    parser.addOption(portOption);
    parser.addOption(helpOption);
    parser.addOption(versionOption);

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return failure(QStringLiteral("nieznana opcja „%1”").arg(asTyped(arguments, unknown.first())));
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
