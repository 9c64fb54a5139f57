// pwmports: lists, for each port number the panel understands, the device it names and
// what is there, so a user can tell which number to put into the panel's settings.
#include "boardfinder.h"
#include "link/platformserialcontrol.h"
#include "portcheck.h"
#include "portlisting.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#ifdef Q_OS_WIN
#include "comcheck.h"
#include "winports.h"
#else
#include "link/serialnode.h"
#include "portchecksystem.h"

#include <QSerialPortInfo>
#endif

namespace
{

#ifdef Q_OS_WIN
const QString Description = QStringLiteral(
    "Lists the COM ports Windows knows, each with the name its driver gives it, and marks\n"
    "the one pwmpanel.ini names. Put the number of your board's port into the panel's\n"
    "settings (Set, COM). Listing opens no port.\n"
    "--check [NUMBER] says for each port (or COM<NUMBER>) whether it is there, whether\n"
    "another program holds it and what the panel's status line shows there, with the fix;\n"
    "exit status 0 when nothing is found in the way, 1 otherwise. It opens each port for a\n"
    "moment, as the panel does (which resets most boards), and writes nothing.\n"
    "--find [NUMBER...] asks each port that no program holds for the board's name, as the\n"
    "panel's search does: it writes I? to the ports, so it runs only when asked. Opening a\n"
    "port resets most boards.");
#else
const QString Description = QStringLiteral(
    "Lists the port numbers the panel understands, the device each names and what is\n"
    "there, and marks the one pwmpanel.ini names. Put the number of your board's port into\n"
    "the panel's settings (Set, COM).\n"
    "Only ttyS nodes are opened to look for a UART; USB nodes are never opened, since\n"
    "opening one resets most boards.\n"
    "--check [NUMBER] says what stands between you and the board on that port (default:\n"
    "every port with a device, and the USB serial adapters plugged in), one line each,\n"
    "with the fix; exit status 0 when nothing is found in the way, 1 otherwise. It opens\n"
    "no USB port and writes nothing. Run as root it also sees what other users' programs\n"
    "hold; otherwise it says how many it could not look at.\n"
    "--find [NUMBER...] asks each port that no program holds for the board's name, as the\n"
    "panel's search does: it opens USB ports, which resets most boards (the first I? goes\n"
    "unanswered, so a silent port is asked twice), and writes I? to every port it opens,\n"
    "so it runs only when asked.");
#endif

PortSources systemSources(const QString &dir)
{
    PortSources sources{PortNaming(dir), {}, {}, {}, {}};
#ifdef Q_OS_WIN
    sources.systemPorts = windowsComPorts();
    // COM names are not files: a port is there when the system reports it.
    sources.present = [ports = sources.systemPorts](const QString &device) {
        return std::any_of(ports.begin(), ports.end(), [&](const SystemPort &p) {
            return p.portName.compare(device, Qt::CaseInsensitive) == 0;
        });
    };
    sources.probe = [](const QString &) { return std::optional<bool>(); };
#else
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SystemPort p{info.portName(),   info.systemLocation(), info.description(),
                     info.manufacturer(), info.serialNumber(), {}, {}};
        if (info.hasVendorIdentifier())
            p.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            p.productId = info.productIdentifier();
        sources.systemPorts.append(p);
    }
    sources.present = [](const QString &device) { return QFileInfo::exists(device); };
    sources.probe = [](const QString &device) { return SerialNode::probe(device); };
    sources.linkNumbers = linkNumbersIn(dir);
#endif
    return sources;
}

// The ports --find asks: those asked for, or every present one but ttyS nodes with no UART
// behind them, where no board can answer.
QList<BoardFinder::Port> portsToAsk(const PortSources &sources, const QList<int> &numbers)
{
    const auto port = [](int n, const QString &device) {
#ifdef Q_OS_WIN
        return BoardFinder::Port{n, device};
#else
        return BoardFinder::Port{
            n, QStringLiteral("Port %1 (%2)")
                   .arg(n)
                   .arg(device.isEmpty() ? QStringLiteral("no device") : device)};
#endif
    };
    QList<BoardFinder::Port> out;
    for (const int n : numbers)
        out << port(n, sources.naming.deviceFor(n));
    if (!numbers.isEmpty())
        return out;
    for (const PortEntry &e : listPorts(sources, false))
        if (e.chip == PortEntry::Chip::NotProbed || e.chip == PortEntry::Chip::Fitted)
            out << port(e.number, e.device);
    return out;
}

int run(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Description);
    parser.addHelpOption();
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Also list numbers whose device is missing."));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("The panel's folder, whose pwmpanel.ini (and on Linux ports/comN links) "
                       "count (default: this program's folder)."),
        QStringLiteral("folder"), QCoreApplication::applicationDirPath());
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Say what stands between you and the board on port NUMBER (default: "
                       "every port with a device), and how to fix it."));
    const QCommandLineOption find(
        QStringLiteral("find"),
        QStringLiteral("Ask the ports NUMBER... (default: every port) for the board's name at "
                       "the settings' speed, and say which answered it. Writes to the ports."));
    parser.addOptions({all, dir, check, find});
    parser.addPositionalArgument(
        QStringLiteral("NUMBER"),
        QStringLiteral("With --check: the port number to check; with --find: those to ask."),
        QStringLiteral("[NUMBER...]"));
    parser.process(app);

    QList<int> numbers;
    for (const QString &arg : parser.positionalArguments()) {
        bool ok = false;
        numbers << arg.toInt(&ok);
        if (!ok || parser.isSet(check) == parser.isSet(find) ||
            (parser.isSet(check) && numbers.size() > 1)) {
            QTextStream(stderr) << "pwmports: port numbers go only after --check (one) or "
                                   "--find\n";
            return 2;
        }
    }
    const std::optional<int> number =
        numbers.isEmpty() ? std::nullopt : std::optional<int>(numbers.first());

    const QString folder = parser.value(dir);
    const PortSources sources = systemSources(folder);
    const PanelSettings settings =
        PanelSettings::read(QDir(folder).filePath(QStringLiteral("pwmpanel.ini")));
    QTextStream out(stdout);

    if (parser.isSet(find)) {
        PlatformSerialControl serial(sources.naming);
        BoardFinder finder(serial, settings);
        QList<BoardFinder::Result> results;
        for (const BoardFinder::Port &port : portsToAsk(sources, numbers))
            results << finder.ask(port);
        out << formatFound(results, settings);
        return findExitStatus(results);
    }
    if (parser.isSet(check)) {
#ifdef Q_OS_WIN
        PlatformSerialControl serial(sources.naming);
        const PortCheckReport report = checkComPorts(
            sources.systemPorts,
            [&](int n) { return openAsThePanel(serial, n, settings.values.baud); }, settings,
            number);
#else
        const PortCheckReport report = checkPorts(sources, currentPortCheckSystem(), number);
#endif
        out << report.text;
        return checkExitStatus(report);
    }
    const QList<PortEntry> entries = listPorts(sources, parser.isSet(all));
    if (entries.isEmpty())
        out << "No serial devices found. Is the board plugged in? (--all lists every number)\n";
    else
        out << formatPorts(entries, {settings.values.comPort, settings.source()});
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pwmports"));
#ifdef Q_OS_WIN
    const Utf8Console console;
    const int status = run(app);
    // Started from Explorer, the window would close before the user has read it.
    if (consoleClosesAtExit())
        waitForEnter();
    return status;
#else
    return run(app);
#endif
}
