#pragma once

#include "link/boardlink.h"
#include "link/pacingwait.h"
#include "link/qtserialcontrol.h"
#include "mainwindow.h"
#include "shell/executable.h"
#include "shell/session.h"

// The panel as the program runs it: the serial port named from the executable's folder, the
// board link with real pauses, the session and its window. Questions go to `prompts`, which
// must outlive it. Nothing starts until session.start().
struct Panel {
    Panel(const ExecutableIdentity &exe, Prompts &prompts)
        : serial(PortNaming(exe.dir)), link(serial, pacer), session(exe, link, prompts), window(session)
    {
    }

    QtSerialControl serial;
    EventLoopPacer pacer;
    BoardLink link;
    Session session;
    MainWindow window;
};
