#include "boardfinder.h"

#include "link/boardlink.h"
#include "link/linesettings.h"
#include "link/pacingwait.h"
#include "link/serialcontrol.h"
#include "shell/session.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

PanelSettings PanelSettings::read(const QString &path)
{
    PanelSettings s{path, {}};
    s.values.ucApp = Session::DefaultName;
    if (const auto text = SettingsFile::load(path)) {
        const SettingsFile::ReadResult r = SettingsFile::parse(*text);
        const bool usable = r.complete() && r.values.comPort >= 1 &&
                            LineSettings::parse(r.values.baud + QStringLiteral(",n,8,1"));
        if (usable)
            s.values = r.values;
        else if (r.valuesRead >= 5)
            s.values.ucApp = r.values.ucApp;
    }
    return s;
}

QString PanelSettings::fileName() const
{
    return QFileInfo(path).fileName();
}

QString PanelSettings::source() const
{
    return QFileInfo::exists(path) ? fileName()
                                   : QStringLiteral("the defaults, no %1 yet").arg(fileName());
}

QString PanelSettings::firstLineWithPort(int port) const
{
    StoredSettings v = values;
    v.comPort = qint16(port);
    return SettingsFile::compose(v).section(QStringLiteral("\r\n"), 0, 0);
}

BoardFinder::BoardFinder(SerialControl &serial, const PanelSettings &settings)
    : m_serial(serial), m_settings(settings)
{
}

BoardFinder::Result BoardFinder::ask(const Port &port)
{
    using Outcome = Result::Outcome;
    Result r;
    r.port = port;
    EventLoopPacer pacer; // the search never pauses
    BoardLink link(m_serial, pacer);
    link.setExpectedName(m_settings.values.ucApp);
    int rc = link.setPort(port.number);
    if (rc == SerialCode::Ok)
        rc = link.setSpeed(m_settings.values.baud);
    bool done = false;
    QEventLoop loop;
    const auto refuse = [&](int code) {
        r.outcome = Outcome::Refused;
        r.code = code;
        done = true;
        loop.quit();
    };
    if (rc != SerialCode::Ok)
        refuse(rc);
    QObject::connect(&link, &BoardLink::searchFailed, &loop, refuse);
    QObject::connect(&link, &BoardLink::linkLost, &loop, refuse);
    QObject::connect(&link, &BoardLink::writeRefused, &loop,
                     [&] { refuse(SerialCode::WriteFailed); });
    QObject::connect(&link, &BoardLink::replyReceived, &loop, [&](const Protocol::Reply &reply) {
        if (done)
            return;
        if (reply.identifies) {
            r.outcome = Outcome::Named;
            done = true;
            loop.quit();
        } else if (r.outcome == Outcome::Silent) {
            // The line stands; a later line may still be the name.
            r.outcome = Outcome::OtherReply;
            r.reply = reply.text.isEmpty() ? QStringLiteral("(a line too long to read)")
                                           : reply.text;
        }
    });

    QTimer interval;
    interval.setSingleShot(true);
    interval.setInterval(BoardLink::SearchInterval);
    QObject::connect(&interval, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (int i = 0; i < Asks && !done && r.outcome == Outcome::Silent; ++i) {
        link.searchStep();
        if (done)
            break;
        interval.start();
        loop.exec();
        interval.stop();
    }
    link.shutDown();
    return r;
}

namespace
{

// A reply as one line of the terminal: control characters as '?'.
QString printable(QString text)
{
    for (QChar &c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return text;
}

} // namespace

QString formatFound(const QList<BoardFinder::Result> &results, const PanelSettings &settings)
{
    using Outcome = BoardFinder::Result::Outcome;
    const QString name = settings.values.ucApp;
    const QString file = settings.fileName();
    QString out = QStringLiteral("Asked each port for the board's name (I? at %1 baud); the "
                                 "settings (%2) expect %3.\n")
                      .arg(settings.values.baud, settings.source(), name);
    qsizetype width = 0;
    for (const BoardFinder::Result &r : results)
        width = std::max(width, r.port.label.size());
    const qint64 silentSeconds =
        std::chrono::duration_cast<std::chrono::seconds>(BoardFinder::Asks * BoardLink::SearchInterval)
            .count();
    QList<int> named;
    bool otherReply = false;
    for (const BoardFinder::Result &r : results) {
        QString what;
        switch (r.outcome) {
        case Outcome::Named:
            what = QStringLiteral("answered %1: the board.").arg(name);
            named << r.port.number;
            break;
        case Outcome::OtherReply:
            what = QStringLiteral("answered \"%1\", not %2: a board with another name, or "
                                  "another device.")
                       .arg(printable(r.reply), name);
            otherReply = true;
            break;
        case Outcome::Silent:
            what = QStringLiteral("no answer within %1 s.").arg(silentSeconds);
            break;
        case Outcome::Refused:
            what = r.code == SerialCode::PortInUse
                       ? QStringLiteral("not asked: another program holds it (the panel shows "
                                        "Port already open!).")
                   : r.code == SerialCode::NoSuchPort
                       ? QStringLiteral("no such port (the panel shows Invalid Port Number!).")
                       : QStringLiteral("could not be asked: the panel shows %1 here.")
                             .arg(Session::searchFailureText(r.code));
            break;
        }
        out += QStringLiteral("  %1  %2\n").arg(r.port.label, -int(width)).arg(what);
    }

    if (named.isEmpty()) {
        out += QStringLiteral("No port answered %1.").arg(name);
        if (otherReply)
            out += QStringLiteral(" If a board above that answered another name is yours, "
                                  "enter its number in the COM box and its name in the ucApp "
                                  "box (Set, then SAVE-CLOSE).");
        return out + QLatin1Char('\n');
    }
    if (named.size() > 1)
        out += QStringLiteral("%1 boards answered %2; the panel can use one of them.\n")
                   .arg(named.size())
                   .arg(name);
    const int port = named.first();
    if (settings.values.comPort == port && QFileInfo::exists(settings.path))
        return out + QStringLiteral("%1 names port %2 already: the panel finds the board there.\n")
                         .arg(file)
                         .arg(port);
    return out + QStringLiteral("The board is on port %1. In the panel press Set, enter %1 in "
                                "the COM box and press SAVE-CLOSE; the first line of %2 then "
                                "reads:\n  %3\n")
                     .arg(port)
                     .arg(file, settings.firstLineWithPort(port));
}

int findExitStatus(const QList<BoardFinder::Result> &results)
{
    for (const BoardFinder::Result &r : results)
        if (r.outcome == BoardFinder::Result::Outcome::Named)
            return 0;
    return 1;
}
