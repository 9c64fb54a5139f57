#pragma once

#include "sessionfixture.h"
#include "ui/mainwindow.h"

#include <QLabel>

// The window over a session on the fake serial control, started as the program starts it.
struct PanelFixture : SessionFixture {
    std::unique_ptr<MainWindow> window;

    explicit PanelFixture(const QByteArray *settingsFile = nullptr)
        : SessionFixture(settingsFile, false)
    {
        window = std::make_unique<MainWindow>(*session);
        session->start();
        window->showPending();
    }
    explicit PanelFixture(const QByteArray &settingsFile) : PanelFixture(&settingsFile) {}

    MainWindow &w() { return *window; }
    const MainWindow::Ui &ui() const { return window->ui(); }
    QString status() const { return ui().lblStatus->text(); }
    // Feeds received bytes and shows what they changed at once, as the next frame would.
    void receive(const QByteArray &bytes)
    {
        serial.feedNow(bytes);
        window->showPending();
    }
};
