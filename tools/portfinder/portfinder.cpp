// pwmports: lists, for each port number the panel understands, the device it names and
// what is there, so a user can tell which number to put into the panel's settings.
#include "link/serialnode.h"
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
        "opening one resets most boards."));
    parser.addHelpOption();
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Also list numbers whose device is missing."));
    const QCommandLineOption dir(
        QStringLiteral("dir"),
        QStringLiteral("The panel's folder, whose ports/comN links count (default: this "
                       "program's folder)."),
        QStringLiteral("folder"), QCoreApplication::applicationDirPath());
    parser.addOption(all);
    parser.addOption(dir);
    parser.process(app);

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

    const QList<PortEntry> entries = listPorts(sources, parser.isSet(all));
    QTextStream out(stdout);
    if (entries.isEmpty())
        out << "No serial devices found. Is the board plugged in? (--all lists every number)\n";
    else
        out << formatPorts(entries);
    return 0;
}
