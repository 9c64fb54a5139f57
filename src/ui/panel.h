#pragma once

#include "history/sessionhistory.h"
#include "historywindow.h"
#include "link/boardlink.h"
#include "link/pacingwait.h"
#include "link/platformserialcontrol.h"
#include "mainwindow.h"
#include "shell/executable.h"
#include "shell/session.h"

// The panel as the program runs it: the serial port named from the executable's folder, the
// board link with real pauses, the session and its window, and the history of every line with
// its window, made when first asked for. Questions go to `prompts`, which must outlive it.
// Nothing starts until session.start().
struct Panel {
    Panel(const ExecutableIdentity &exe, Prompts &prompts, const SessionHistory::Limits &limits = {})
        : history(limits), serial(PortNaming(exe.dir)), link(serial, pacer), session(exe, link, prompts),
          window(session)
    {
        link.setTap(&history);
        QObject::connect(&window, &MainWindow::historyRequested, &window, [this] { showHistory(); });
    }

    // The history window beside the panel; it belongs to the panel's window, so it closes
    // with it.
    HistoryWindow &showHistory()
    {
        if (!historyWindow)
            historyWindow = new HistoryWindow(history, session.caption(), &window);
        historyWindow->showBeside(&window);
        return *historyWindow;
    }

    SessionHistory history;
    PlatformSerialControl serial;
    EventLoopPacer pacer;
    BoardLink link;
    Session session;
    MainWindow window;
    HistoryWindow *historyWindow = nullptr;
};
