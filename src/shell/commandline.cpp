#include "commandline.h"

#include <QCommandLineParser>

CommandLine CommandLine::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption record(QStringLiteral("record"), {}, QStringLiteral("FILE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(record);
    parser.addOption(help);

    CommandLine line;
    if (!parser.parse(arguments)) {
        line.error = parser.errorText();
        return line;
    }
    line.help = parser.isSet(help);
    if (parser.isSet(record)) {
        line.recordPath = parser.value(record);
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
               "  -h, --help         show this help\n")
        .arg(program);
}
