#include "commandline.h"

#include <QCommandLineParser>

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
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(record);
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
    if (!parser.positionalArguments().isEmpty())
        line.error = QStringLiteral("Unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
    return line;
}

QString CommandLine::usage(const QString &program)
{
    return QStringLiteral(
               "Usage: %1 [--record FILE.csv]\n"
               "A front panel for a board with two PWM outputs on a serial port. Its settings are\n"
               "kept in a file named after the program, beside it.\n"
               "\n"
               "  --record FILE.csv  append every line sent and received to FILE.csv as it\n"
               "                     happens (time, direction, text, UTC offset; created with a\n"
               "                     header line)\n"
               "  -h, --help         show this help\n"
               "\n"
               "Qt's own options, such as -platform offscreen or -style fusion, go to Qt.\n")
        .arg(program);
}
