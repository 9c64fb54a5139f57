#pragma once

#include "link/boardlink.h"
#include "link/pacingwait.h"
#include "link/qtserialcontrol.h"
#include "scriptedprompts.h"
#include "shell/session.h"
#include "ui/mainwindow.h"

// The whole program as it runs, over the real serial layer and real pauses, under a name of
// its own in a folder; only its questions are answered from a script.
struct Program {
    QtSerialControl serial;
    EventLoopPacer pacer;
    BoardLink link{serial, pacer};
    ScriptedPrompts prompts;
    Session session;
    MainWindow window{session};

    Program(const QString &dir, const QString &name)
        : serial(PortNaming(dir)), session(ExecutableIdentity{dir, name}, link, prompts)
    {
        session.start();
    }
    const MainWindow::Ui &ui() const { return window.ui(); }
    QString status() const { return window.ui().lblStatus->text(); }
};
