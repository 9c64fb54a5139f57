#include "commandline.h"

#include <QCommandLineParser>

#include <algorithm>

namespace {

// The options QApplication takes for itself: with a value, and without.
const char *const QtValueOptions[] = {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
                                      "qwindowicon", "qwindowtitle", "session", "display", "geometry", "title",
                                      "name", "visual", "style", "stylesheet", "qmljsdebugger"};
const char *const QtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption record(QStringLiteral("record"), {}, QStringLiteral("FILE"));
    const QCommandLineOption share(QStringLiteral("share"), {}, QStringLiteral("WHERE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(record);
    parser.addOption(share);
    parser.addOption(help);
    for (const char *name : QtValueOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), {}, QStringLiteral("VALUE")));
    for (const char *name : QtFlagOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.error = parser.errorText();
        return line;
    }
    line.help = parser.isSet(help);
    line.platform = parser.value(QStringLiteral("platform"));
    const QStringList records = parser.values(record);
    if (records.size() > 1)
        line.error = QStringLiteral("--record may be given only once");
    else if (!records.isEmpty()) {
        line.recordPath = records.constFirst();
        if (line.recordPath.isEmpty())
            line.error = QStringLiteral("--record needs the name of a file");
    }
    for (const QString &where : parser.values(share)) {
        if (where.startsWith(QLatin1String("tcp:"))) {
            const QString port = where.mid(4);
            bool ok = !port.isEmpty() && std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit() && c.unicode() < 0x80; });
            const uint number = ok ? port.toUInt(&ok) : 0;
            if (line.sharePort >= 0)
                line.error = QStringLiteral("--share tcp: may be given only once");
            else if (!ok || number > 65535)
                line.error = QStringLiteral("--share tcp: needs a port number from 0 to 65535 (0: any free port), not '%1'").arg(port);
            else
                line.sharePort = int(number);
#ifdef Q_OS_LINUX
        } else if (where.startsWith(QLatin1String("pty:"))) {
            if (!line.sharePty.isEmpty())
                line.error = QStringLiteral("--share pty: may be given only once");
            else if (where.size() == 4)
                line.error = QStringLiteral("--share pty: needs the path of the link to make");
            else
                line.sharePty = where.mid(4);
#endif
        } else {
#ifdef Q_OS_LINUX
            line.error = QStringLiteral("--share takes tcp:PORT or pty:PATH, not '%1'").arg(where);
#else
            line.error = QStringLiteral("--share takes tcp:PORT, not '%1'").arg(where);
#endif
        }
    }
    if (!parser.positionalArguments().isEmpty())
        line.error = QStringLiteral("Unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
    return line;
}

QString CommandLine::usage(const QString &program)
{
#ifdef Q_OS_LINUX
    const char *const synopsis = "Usage: %1 [--record FILE.csv] [--share tcp:PORT] [--share pty:PATH]\n";
    const char *const pty = "  --share pty:PATH   the same through a pseudo-terminal linked at PATH, which\n"
                            "                     only you can open, as a serial port\n";
#else
    const char *const synopsis = "Usage: %1 [--record FILE.csv] [--share tcp:PORT]\n";
    const char *const pty = "";
#endif
    return (QLatin1String(synopsis)
            + QLatin1String("A front panel for a board with two PWM outputs on a serial port. Its settings are\n"
                            "kept in a file named after the program, beside it.\n"
                            "\n"
                            "  --record FILE.csv  append every line sent and received to FILE.csv as it\n"
                            "                     happens (time, direction, text, UTC offset; created with a\n"
                            "                     header line)\n"
                            "  --share tcp:PORT   share the board with programs on this computer: on\n"
                            "                     127.0.0.1 (and ::1) at PORT, 0 for any free one; clients get\n"
                            "                     what the board sends, and their lines go to it as commands\n")
            + QLatin1String(pty)
            + QLatin1String("  -h, --help         show this help\n"
                            "\n"
                            "Qt's own options, such as -platform offscreen or -style fusion, go to Qt.\n"))
        .arg(program);
}
