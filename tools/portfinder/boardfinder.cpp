#include "boardfinder.h"

#include "link/boardlink.h"
#include "link/eightbittext.h"
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
    if (m_interrupted) {
        r.outcome = Outcome::Interrupted;
        return r;
    }
    EventLoopPacer pacer; // the search never pauses
    BoardLink link(m_serial, pacer);
    link.setExpectedName(m_settings.values.ucApp);
    int rc = link.setPort(port.number);
    if (rc == SerialCode::Ok)
        rc = link.setSpeed(m_settings.values.baud);
    bool done = false;
    QEventLoop loop;
    m_loop = &loop;
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
    // Only the name alone finds the board, as in the panel's search; any other line leaves
    // the search going. A line that comes again is what the device says to I?.
    QObject::connect(&link, &BoardLink::replyReceived, &loop, [&](const Protocol::Reply &reply) {
        if (done)
            return;
        if (reply.identifies) {
            r.outcome = Outcome::Named;
            done = true;
            loop.quit();
            return;
        }
        const QString text =
            reply.text.isEmpty() ? QStringLiteral("(a line too long to read)") : reply.text;
        r.outcome = Outcome::OtherReply;
        if (r.replies.contains(text)) {
            r.sameTwice = true;
            done = true;
            loop.quit();
        } else if (r.replies.size() < 2 * Asks) {
            r.replies << text;
        }
    });

    QTimer interval;
    interval.setSingleShot(true);
    interval.setInterval(BoardLink::SearchInterval);
    QObject::connect(&interval, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (int i = 0; i < Asks && !done && !m_interrupted; ++i) {
        link.searchStep();
        if (done)
            break;
        interval.start();
        loop.exec();
        interval.stop();
    }
    m_loop = nullptr;
    link.shutDown();
    if (m_interrupted && !done)
        r.outcome = Outcome::Interrupted;
    return r;
}

void BoardFinder::interrupt()
{
    m_interrupted = true;
    if (m_loop)
        m_loop->quit();
}

QString terminalText(const QString &text, qsizetype length)
{
    const QString shown = EightBitText::visible(EightBitText::encode(text));
    QString out;
    qsizetype count = 0;
    for (const QChar c : shown) {
        if (count == length) {
            return out + QStringLiteral("... (%1 characters in all)").arg(shown.size());
        }
        ++count;
        switch (c.category()) {
        case QChar::Other_Control: // C1 controls: a terminal acts on them
        case QChar::Other_Format:  // direction overrides and the like
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
            out += c.unicode() < 0x100
                       ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                       : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString findHeading(const PanelSettings &settings)
{
    return QStringLiteral("Asking each port for the board's name (I? at %1 baud, up to %2 "
                          "times %3 s apart); the settings (%4) expect %5.\n")
        .arg(settings.values.baud)
        .arg(BoardFinder::Asks)
        .arg(double(BoardLink::SearchInterval.count()) / 1000)
        .arg(settings.source(), settings.values.ucApp);
}

QString findLine(const BoardFinder::Result &r, const PanelSettings &settings, qsizetype labelWidth)
{
    using Outcome = BoardFinder::Result::Outcome;
    const QString name = settings.values.ucApp;
    const QString check = QStringLiteral("pwmports --check %1").arg(r.port.number);
    const qint64 silentSeconds = std::chrono::duration_cast<std::chrono::seconds>(
                                     BoardFinder::Asks * BoardLink::SearchInterval)
                                     .count();
    const QString first =
        QStringLiteral("\"%1\"").arg(terminalText(r.replies.value(0), BoardFinder::ShownLength));
    QString what;
    switch (r.outcome) {
    case Outcome::Named:
        what = QStringLiteral("answered %1: the board.").arg(name);
        break;
    case Outcome::OtherReply:
        if (r.sameTwice)
            what = QStringLiteral("answered %1, not %2: a board with another name, or another "
                                  "device.")
                       .arg(first, name);
        else if (r.replies.value(0).endsWith(name))
            what = QStringLiteral("sent %1, the name after other bytes, but never %2 alone, "
                                  "which the panel's search needs: a board still starting, or "
                                  "noise on the line; ask again.")
                       .arg(first, name);
        else
            what = QStringLiteral("sent %1, and never the same again, nor %2: noise, another "
                                  "device, or another speed than the settings' %3.")
                       .arg(first, name, settings.values.baud);
        break;
    case Outcome::Silent:
        what = QStringLiteral("no answer within %1 s.").arg(silentSeconds);
        break;
    case Outcome::Refused:
        what = r.code == SerialCode::PortInUse
                   ? QStringLiteral("not asked: another program holds it (the panel shows Port "
                                    "already open!); %1 says which.")
                         .arg(check)
               : r.code == SerialCode::NoSuchPort
                   ? QStringLiteral("no such port (the panel shows Invalid Port Number!).")
               : r.code == SerialCode::AccessDenied
                   ? QStringLiteral("not asked: you may not open it (the panel shows %1); %2 "
                                    "gives the fix.")
                         .arg(Session::searchFailureText(r.code), check)
                   : QStringLiteral("could not be asked: the panel shows %1 here; %2 says more.")
                         .arg(Session::searchFailureText(r.code), check);
        break;
    case Outcome::Skipped:
        what = QStringLiteral("not asked: %1; %2 says more.").arg(r.why, check);
        break;
    case Outcome::Interrupted:
        what = QStringLiteral("interrupted: closed, and left as it was.");
        break;
    }
    if (!r.note.isEmpty())
        what += QLatin1Char(' ') + r.note;
    return QStringLiteral("  %1  %2\n").arg(r.port.label, -int(labelWidth)).arg(what);
}

QString findSummary(const QList<BoardFinder::Result> &results, const PanelSettings &settings)
{
    using Outcome = BoardFinder::Result::Outcome;
    const QString name = settings.values.ucApp;
    const QString file = settings.fileName();
    QList<int> named;
    bool otherName = false;
    for (const BoardFinder::Result &r : results) {
        if (r.outcome == Outcome::Named && !named.contains(r.port.number))
            named << r.port.number;
        otherName = otherName || (r.outcome == Outcome::OtherReply && r.sameTwice);
    }
    QString out;
    if (named.isEmpty()) {
        out += QStringLiteral("No port answered %1.").arg(name);
        if (otherName)
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
