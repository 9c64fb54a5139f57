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
#include "shell/signalnotice.h"
#include "portchecksystem.h"

#include <QSerialPortInfo>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
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
    "panel's search does, up to 4 times 2.5 s apart (a board the opening resets misses the\n"
    "first): it writes I? to the ports, so it runs only when asked. Opening a port resets\n"
    "most boards. --check and --find go one at a time.");
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
    "--find [NUMBER...] asks each port that --check finds nothing in the way of for the\n"
    "board's name, as the panel's search does, and says for each other port why it was not\n"
    "asked. It opens USB ports, which resets most boards: as the panel's search, it asks up\n"
    "to 4 times 2.5 s apart (10 s for a silent port), enough for a board that restarts on\n"
    "the opening and starts slowly. It writes I? to every port it opens, so it runs only\n"
    "when asked; Ctrl-C closes the port it is asking and puts it back as it was.\n"
    "--check and --find go one at a time.");
#endif

#ifndef Q_OS_WIN
// Opens a ttyS node to see whether a UART is behind it. Where the user may not open it, or
// another program holds it exclusively, the kernel's record of the port tells (its type, 0
// for none); where that cannot be read either, it counts as fitted.
NodeProbe probeNode(const QString &device)
{
    int error = 0;
    const std::optional<bool> fitted = SerialNode::probe(device, &error);
    if (fitted || (error != EACCES && error != EPERM && error != EBUSY))
        return {fitted, error};
    QFile type(QStringLiteral("/sys/class/tty/%1/type").arg(QFileInfo(device).fileName()));
    if (!type.open(QIODevice::ReadOnly))
        return {true, error};
    return {type.readAll().trimmed() != "0", error};
}

#endif

PortSources systemSources(const QString &dir)
{
    PortSources sources{PortNaming(dir), {}, {}, {}, {}, {}};
#ifdef Q_OS_WIN
    sources.systemPorts = windowsComPorts();
    // COM names are not files: a port is there when the system reports it.
    sources.present = [ports = sources.systemPorts](const QString &device) {
        return std::any_of(ports.begin(), ports.end(), [&](const SystemPort &p) {
            return p.portName.compare(device, Qt::CaseInsensitive) == 0;
        });
    };
    sources.probe = [](const QString &) { return NodeProbe(); };
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
    sources.probe = probeNode;
    sources.linkNumbers = linkNumbersIn(dir);
    sources.accessTrouble = [system = currentPortCheckSystem()](const QString &device) {
        return accessTrouble(system, device);
    };
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
    QList<int> asked;
    for (const int n : numbers)
        if (!asked.contains(n))
            asked << n, out << port(n, sources.naming.deviceFor(n));
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
    if (!parser.parse(app.arguments())) {
        QTextStream(stderr) << "pwmports: " << parser.errorText() << " (pwmports --help)\n";
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.process(app); // shows it and exits with 0
    if (parser.isSet(check) && parser.isSet(find)) {
        QTextStream(stderr) << "pwmports: --check and --find go one at a time: run --check "
                               "first, then --find\n";
        return 2;
    }

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
        const QList<BoardFinder::Port> ports = portsToAsk(sources, numbers);
        qsizetype width = 0;
        for (const BoardFinder::Port &p : ports)
            width = std::max(width, p.label.size());
#ifndef Q_OS_WIN
        // SIGINT and SIGTERM while it asks: the port is closed as after any answer.
        int caught = 0;
        SignalNotice interrupts({SIGINT, SIGTERM});
        QObject::connect(&interrupts, &SignalNotice::caught, [&](int number) {
            if (caught == 0)
                caught = number;
            finder.interrupt();
        });
        const QList<PortEntry> entries = listPorts(sources, true);
        const PortCheckSystem system = currentPortCheckSystem();
#endif
        out << findHeading(settings);
        out.flush();
        QList<BoardFinder::Result> results;
        for (const BoardFinder::Port &port : ports) {
            BoardFinder::Result r;
#ifndef Q_OS_WIN
            // What --check would call in the way keeps the port from being opened.
            PortEntry entry;
            entry.number = port.number;
            for (const PortEntry &e : entries)
                if (e.number == port.number)
                    entry = e;
            const FindVerdict verdict = judgeForFind(sources, system, entry);
            if (!verdict.skip.isEmpty()) {
                r.port = port;
                r.outcome = BoardFinder::Result::Outcome::Skipped;
                r.why = verdict.skip;
            } else {
                QCoreApplication::processEvents(); // a signal since: not opened at all
                r = finder.ask(port);
                if (r.outcome != BoardFinder::Result::Outcome::Refused)
                    r.note = verdict.note;
            }
#else
            r = finder.ask(port);
#endif
            results << r;
            out << findLine(r, settings, width);
            out.flush();
#ifndef Q_OS_WIN
            if (r.outcome == BoardFinder::Result::Outcome::Interrupted) {
                out << "Interrupted: no port was left open.\n";
                return 128 + caught;
            }
#endif
        }
        out << findSummary(results, settings);
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
