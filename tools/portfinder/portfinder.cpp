// pwmports: lists, for each port number the panel understands, the device it names and
// what is there, so a user can tell which number to put into the panel's settings.
#include "link/serialnode.h"
#include "portcheck.h"
#include "portchecksystem.h"
#include "portlisting.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pwmports"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the port numbers the panel understands, the device each names and what is\n"
        "there. Put the number of your board's port into the panel's settings (Set, COM).\n"
        "Only ttyS nodes are opened to look for a UART; USB nodes are never opened, since\n"
        "opening one resets most boards.\n"
        "--check [NUMBER] says what stands between you and the board on that port (default:\n"
        "every port with a device, and the USB serial adapters plugged in), one line each,\n"
        "with the fix; exit status 0 when nothing is found in the way, 1 otherwise. It opens\n"
        "no USB port and writes nothing. Run as root it also sees what other users' programs\n"
        "hold; otherwise it says how many it could not look at."));
    parser.addHelpOption();
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Also list numbers whose device is missing."));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("The panel's folder, whose ports/comN links count (default: this "
                       "program's folder)."),
        QStringLiteral("folder"), QCoreApplication::applicationDirPath());
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Say what stands between you and the board on port NUMBER (default: "
                       "every port with a device), and how to fix it."));
    parser.addOption(all);
    parser.addOption(dir);
    parser.addOption(check);
    parser.addPositionalArgument(QStringLiteral("NUMBER"),
                                 QStringLiteral("With --check: the port number to check."),
                                 QStringLiteral("[NUMBER]"));
    parser.process(app);

    std::optional<int> number;
    const QStringList args = parser.positionalArguments();
    if (!args.isEmpty()) {
        bool ok = false;
        number = args.first().toInt(&ok);
        if (!parser.isSet(check) || !ok || args.size() > 1) {
            QTextStream(stderr) << "pwmports: a port number goes only after --check, and "
                                   "only one\n";
            return 2;
        }
    }

    PortSources sources{PortNaming(parser.value(dir)), {}, {}, {}, {}};
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
#ifdef Q_OS_WIN
    // COM names are not files: a port is there when the system reports it.
    sources.present = [&](const QString &device) {
        for (const SystemPort &p : std::as_const(sources.systemPorts))
            if (p.portName.compare(device, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    };
#else
    sources.present = [](const QString &device) { return QFileInfo::exists(device); };
#endif
    sources.probe = [](const QString &device) { return SerialNode::probe(device); };
    sources.linkNumbers = linkNumbersIn(parser.value(dir));

    QTextStream out(stdout);
    if (parser.isSet(check)) {
#ifdef Q_OS_LINUX
        const PortCheckReport report = checkPorts(sources, currentPortCheckSystem(), number);
        out << report.text;
        return checkExitStatus(report);
#else
        out << "--check looks at Linux device nodes, groups and services; it has nothing to "
               "look at here.\n";
        return 1;
#endif
    }
    const QList<PortEntry> entries = listPorts(sources, parser.isSet(all));
    if (entries.isEmpty())
        out << "No serial devices found. Is the board plugged in? (--all lists every number)\n";
    else
        out << formatPorts(entries);
    return 0;
}
