#pragma once

#include "history/sessionhistory.h"
#include "historywindow.h"
#include "link/boardlink.h"
#include "link/pacingwait.h"
#include "link/platformserialcontrol.h"
#include "mainwindow.h"
#include "shell/executable.h"
#include "shell/session.h"
#include "share/share.h"

#include <memory>

// A share wired into the panel: the board's bytes to its clients, their lines to the session
// as commands, and what becomes of those lines and of the clients to the history.
inline void connectShare(BoardLink &link, Session &session, SessionHistory &history, Share &share)
{
    QObject::connect(&link, &BoardLink::bytesReceived, &share, &Share::boardBytes);
    QObject::connect(&share, &Share::lineReceived, &session, &Session::clientLine);
    QObject::connect(&session, &Session::clientCommandRefused, &history,
                     [&history](int client, const QByteArray &line, bool cut) { history.commandRefused(client, line, cut); });
    QObject::connect(&share, &Share::clientDropped, &history,
                     [&history](int client, const QString &why) { history.clientNote(client, why.toUtf8()); });
}

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

    // The board shared with programs beside the panel (connectShare), its place and clients
    // on the history window's bottom line. Then share->listen() and share->openPty() say where.
    Share &startSharing(const Share::Limits &limits = {})
    {
        share = std::make_unique<Share>(limits);
        connectShare(link, session, history, *share);
        QObject::connect(share.get(), &Share::clientsChanged, &window, [this] { showSharing(); });
        return *share;
    }

    // The history window beside the panel; it belongs to the panel's window, so it closes
    // with it.
    HistoryWindow &showHistory()
    {
        if (!historyWindow)
            historyWindow = new HistoryWindow(history, session.caption(), &window);
        showSharing();
        historyWindow->showBeside(&window);
        return *historyWindow;
    }

    void showSharing()
    {
        if (historyWindow && share)
            historyWindow->showSharing(share->where(), share->clientCount());
    }

    SessionHistory history;
    PlatformSerialControl serial;
    EventLoopPacer pacer;
    BoardLink link;
    Session session;
    MainWindow window;
    HistoryWindow *historyWindow = nullptr;
    std::unique_ptr<Share> share; // first to go: its clients stop before the session does
};
