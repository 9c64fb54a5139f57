#pragma once

#include "shell/settingsfile.h"

#include <QList>
#include <QString>

#include <chrono>

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
// opening, line settings and I?, through the panel's board link), one port at a time.
class BoardFinder
{
public:
    // A board that was reset by the opening misses the first I?, so a port that has said
    // nothing after one search interval is asked once more.
    static constexpr int Asks = 2;

    struct Port {
        int number = 0;
        QString label; // "COM3", "Port 65 (/dev/ttyACM0)"
    };
    struct Result {
        enum class Outcome { Named, OtherReply, Silent, Refused };
        Port port;
        Outcome outcome = Outcome::Silent;
        QString reply; // OtherReply: the first line it sent
        int code = 0;  // Refused: the code opening or writing failed with
    };

    BoardFinder(SerialControl &serial, const PanelSettings &settings);

    // Opens the port, asks and waits in a nested event loop (at most Asks search intervals),
    // closes it again.
    Result ask(const Port &port);

private:
    SerialControl &m_serial;
    const PanelSettings &m_settings;
};

// What --find prints: a line per port, then the port to put in the settings (or that none
// answered the name).
QString formatFound(const QList<BoardFinder::Result> &results, const PanelSettings &settings);

// 0 when a port answered the settings' name, 1 otherwise.
int findExitStatus(const QList<BoardFinder::Result> &results);
