#pragma once

#include "ptypeer.h"

#include "shell/prompts.h"
#include "ui/panel.h"

#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Answers every question with Yes; ending the program ends the bench at once.
class BenchPrompts final : public Prompts
{
public:
    Answer noResponse() override { return Answer::Yes; }
    Answer confirmExit() override { return Answer::Yes; }
    void saveRefused(const QString &) override {}
    [[noreturn]] void endProgram() override
    {
        std::fputs("pwmbench: the panel ended the program\n", stderr);
        std::_Exit(3);
    }
};

// The panel as started from a temporary folder under the name "pwmpanel", over the real serial
// layer, with a PtyPeer as the board on its port 1. The settings file holds `sampleTime`
// (0: no polling). The window is shown, so repaints cost what they cost on screen.
struct BenchPanel {
    explicit BenchPanel(int sampleTime, const SessionHistory::Limits &history = {});

    // Waits until the board has been found and its read-back answered and shown.
    bool waitConnected(std::chrono::milliseconds timeout = std::chrono::seconds(12));

    const MainWindow::Ui &ui() const { return panel->window.ui(); }
    Session &session() { return panel->session; }
    MainWindow &window() { return panel->window; }

    QTemporaryDir dir;
    std::unique_ptr<PtyPeer> peer;
    BenchPrompts prompts;
    std::unique_ptr<Panel> panel;
};
