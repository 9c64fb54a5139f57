#pragma once

#include "scriptedprompts.h"
#include "ui/panel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// The prompts come first, so that they outlive the panel that asks them.
struct ScriptedPromptsHolder {
    ScriptedPrompts prompts;
};

// The whole program as it runs, over the real serial layer and real pauses, under a name of
// its own in a folder, started; only its questions are answered from a script.
struct Program : ScriptedPromptsHolder, Panel {
    Program(const QString &dir, const QString &name, const SessionHistory::Limits &limits = {})
        : Panel(ExecutableIdentity{dir, name}, prompts, limits)
    {
        session.start();
    }
    const MainWindow::Ui &ui() const { return window.ui(); }
    QString status() const { return window.ui().lblStatus->text(); }
    // Types `value` into the output's setpoint box and presses its Send.
    void send(int output, const QString &value)
    {
        ui().txtSV1[output]->setText(value);
        ui().cmdSend1[output]->click();
    }
};
