#pragma once

#include "fakeserialcontrol.h"
#include "mainwindowtester.h"
#include "scripteddialogs.h"
#include "shell/colors.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <memory>

// A window over the fake serial control, started from a temporary folder as "pwmpanel".
struct PanelFixture {
    QTemporaryDir dir;
    FakeSerialControl serial;
    ScriptedDialogs dialogs;
    std::unique_ptr<MainWindow> window;

    explicit PanelFixture(const QByteArray *settingsFile = nullptr)
    {
        if (settingsFile) {
            QFile f(iniPath());
            if (f.open(QIODevice::WriteOnly))
                f.write(*settingsFile);
        }
        window = std::make_unique<MainWindow>(ExecutableIdentity{dir.path(), QStringLiteral("pwmpanel")},
                                              serial, dialogs);
    }
    explicit PanelFixture(const QByteArray &settingsFile) : PanelFixture(&settingsFile) {}

    QString iniPath() const { return dir.filePath(QStringLiteral("pwmpanel.ini")); }
    QByteArray iniBytes() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    MainWindow &w() { return *window; }
    MainWindowTester t() { return {*window}; }
    const MainWindow::Ui &ui() const { return window->ui(); }
    QString status() const { return ui().lblStatus->text(); }
    QColor color(quint32 value) const { return Colors::resolve(value, QApplication::palette()); }
    bool statusIs(const QString &text, quint32 c) const
    {
        return status() == text && window->statusColor() == color(c);
    }
    // Opens the port and identifies the board as the search would.
    void identify()
    {
        t().timer1();
        serial.feedNow(window->state().UcApp.toLatin1() + '\r');
        serial.written.clear();
    }
};
