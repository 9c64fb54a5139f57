#pragma once

#include <QString>
#include <QStringList>

// What the program is told on its command line: where to record the history and where to share
// the board with other programs. Everything else lives in the settings file. Qt's own options (-platform, -style and the like) are known
// and left to Qt, so that they can be read before Qt starts.
struct CommandLine {
    QString recordPath; // --record FILE: append every line to FILE as CSV; empty: no recording
    int sharePort = -1; // --share tcp:PORT, on the loopback addresses (0: a free port); -1: none
    QString sharePty;   // --share pty:PATH (Linux): a pseudo-terminal linked at PATH; empty: none
    bool help = false;
    QString platform; // -platform NAME: Qt is told where to show the window (offscreen, xcb...)
    QString error;    // not empty: the arguments could not be used

    // `arguments` as the program got them, the program's name first.
    static CommandLine parse(const QStringList &arguments);
    static QString usage(const QString &program);
};
