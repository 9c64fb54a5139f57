#pragma once

#include "executable.h"
#include "link/boardlink.h"
#include "link/paneltimer.h"
#include "pwm/frequencyselector.h"

#include <QObject>
#include <QString>

#include <array>
#include <chrono>

class Prompts;

// Everything the panel decides, with no widget in sight: start-up and the settings cycle,
// what each reply does, the read-back after the board is found, the sample-time polling, the
// operator's commands, and the no-response and exit questions. The window shows what the
// signals say and forwards the operator's input to the slots.
class Session : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds ReadbackInterval{800};
    static constexpr std::chrono::milliseconds SampleTick{1000};
    static const QString Banner;
    static const QString DevPassPlaceholder;
    static const QString DefaultName; // the board's expected name until the settings give one

    enum class StatusKind { Waiting, Reply, Found, Error };
    enum class View { Main, Settings, Help };

    // The settings panel's boxes, as texts.
    struct SettingsForm {
        QString comPort, baud, devPass, sTime, ucApp, label1, label2;
        bool operator==(const SettingsForm &) const = default;
    };

    // The stored settings as loaded, and what the board last reported.
    struct State {
        qint16 comPort = 0;
        QString baud;
        QString devPass;
        qint16 sTime = 0; // sample period in seconds less one; 0 or less: no polling
        QString ucApp;    // the board's expected name
        std::array<QString, 3> userLabels; // 1 and 2: the outputs' labels
        QString iniPath;
        std::array<float, 3> deviceValues{}; // 0: frequency code, 1 and 2: setpoints
        qint16 queryStep = 0;   // read-back steps done
        qint16 sampleTicks = 0; // polling ticks since the last poll
    };

    Session(ExecutableIdentity exe, BoardLink &link, Prompts &prompts, QObject *parent = nullptr);

    // The program's start: the expected name's default, then the settings and the search.
    void start();
    QString caption() const { return Banner + m_exe.baseName; }
    // The status line when a search step fails with `code`: "Invalid Port Number!",
    // "Port already open!" or "COM Port comm-error! <code>".
    static QString searchFailureText(int code);

    const State &state() const { return m_state; }
    View view() const;
    bool isInputHeld() const { return m_inputHeld; }
    bool isFrequencyUnlocked() const { return m_frequency.isUnlocked(); }
    QString statusText() const { return m_statusText; }
    const PanelTimer &readbackTimer() const { return m_readback; }
    const PanelTimer &sampleTimer() const { return m_sample; }

public slots:
    // The operator's controls.
    void pressPreset(int output, int percent);
    void sendSetpoint(int output, const QString &typed);
    void selectFrequency(int code);
    void toggleFrequencyLock();
    void openSettings();
    // SAVE-CLOSE: false when the save was refused (the panel stays open, nothing written).
    bool saveSettings(const Session::SettingsForm &form);
    void showHelp();
    void closeHelp();
    // The window is being closed: true when it may close.
    bool confirmExit();

    // One command as the operator's controls send it: one write, then the pause.
    void sendCommand(const QString &command);

    // What the timers run on each tick: the next read-back query, and the polling count.
    void readbackStep();
    void pollTick();

signals:
    void statusChanged(const QString &text, Session::StatusKind kind);
    void readbackChanged(int output, const QString &text);
    void frequencyHighlightChanged(int code); // 0: none
    void deviceCodeChanged(const QString &text);
    void outputLabelChanged(int output, const QString &text);
    void settingsFormChanged(const Session::SettingsForm &form);
    void setpointBoxChanged(int output, const QString &text);
    void viewChanged(Session::View view);
    void inputHeldChanged(bool held);
    void frequencyLockChanged(bool unlocked);
    // A reply line has been handled and shown.
    void replyHandled();

private:
    void startConnection();
    void loadSettings();
    bool applySettings();
    void setStatus(const QString &text, StatusKind kind);
    void setStatusText(const QString &text);
    void showSearchFailure(int code);
    void onReply(const Protocol::Reply &reply);
    void onWriteRefused(BoardLink::Writer writer);
    void transmissionFailed();
    void writeQuery(const QString &command);
    void holdInput(bool held);

    ExecutableIdentity m_exe;
    BoardLink &m_link;
    Prompts &m_prompts;
    State m_state;
    FrequencySelector m_frequency;
    int m_highlighted = 0;
    QString m_replyPrefix; // "COM:1 Baud:9600 COM data: ", as the settings say
    QString m_statusText;
    StatusKind m_statusKind = StatusKind::Waiting;
    bool m_settingsOpen = false;
    bool m_helpOpen = false;
    bool m_inputHeld = false;
    bool m_closing = false; // the close question is on screen
    bool m_exiting = false; // the operator confirmed the close
    PanelTimer m_readback;
    PanelTimer m_sample;
};
