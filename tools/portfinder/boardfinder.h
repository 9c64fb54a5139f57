#pragma once

#include "shell/settingsfile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

class QEventLoop;
class SerialControl;

// The settings the panel beside the port finder starts with: its settings file's values,
// or, where the file is missing or incomplete, the defaults (with the board's name when the
// file got as far as giving it).
struct PanelSettings {
    QString path;
    StoredSettings values;

    static PanelSettings read(const QString &path);
    QString fileName() const;
    // Where the settings come from, for the user: "pwmpanel.ini", or "the defaults, no
    // pwmpanel.ini yet".
    QString source() const;
    // The settings file's first line with `port` in place of the stored port number.
    QString firstLineWithPort(int port) const;
};

// `pwmports --find`: asks ports for the board's name as the panel's search does (the same
// opening, line settings and I? every search interval, through the panel's board link), one
// port at a time.
class BoardFinder
{
public:
    // A board that was reset by the opening misses the first I?, and one that starts slowly
    // (or sends a stray byte as it restarts) the next as well: a port is asked up to Asks
    // times, one search interval apart, as the panel's search goes on asking.
    static constexpr int Asks = 4;
    // How much of a device's reply is shown.
    static constexpr qsizetype ShownLength = 60;

    struct Port {
        int number = 0;
        QString label; // "COM3", "Port 65 (/dev/ttyACM0)"
    };
    struct Result {
        enum class Outcome { Named, OtherReply, Silent, Refused, Skipped, Interrupted };
        Port port;
        Outcome outcome = Outcome::Silent;
        QStringList replies;    // OtherReply: the lines it sent, in order (the first few)
        bool sameTwice = false; // OtherReply: one of them came again
        int code = 0;  // Refused: the code opening or writing failed with
        QString why;   // Skipped: what is in the way
        QString note;  // said after the result
    };

    BoardFinder(SerialControl &serial, const PanelSettings &settings);

    // Opens the port, asks and waits in a nested event loop (at most Asks search intervals),
    // closes it again.
    Result ask(const Port &port);
    // Ends the asking under way, and any later, as Interrupted; the port is closed as after
    // an answer.
    void interrupt();

private:
    SerialControl &m_serial;
    const PanelSettings &m_settings;
    QEventLoop *m_loop = nullptr;
    bool m_interrupted = false;
};

// What --find prints: a heading, a line per port (as each is known), then the port to put
// in the settings (or that none answered the name).
QString findHeading(const PanelSettings &settings);
QString findLine(const BoardFinder::Result &result, const PanelSettings &settings,
                 qsizetype labelWidth);
QString findSummary(const QList<BoardFinder::Result> &results, const PanelSettings &settings);

// A device's text as one line of a terminal: controls as symbols or escapes, at most
// `length` characters of it.
QString terminalText(const QString &text, qsizetype length);

// 0 when a port answered the settings' name, 1 otherwise.
int findExitStatus(const QList<BoardFinder::Result> &results);
