#pragma once

#include "executable.h"
#include "link/boardlink.h"
#include "link/paneltimer.h"
#include "pwm/frequencyselector.h"

#include <QObject>
#include <QString>

#include <QByteArray>
#include <QHash>

#include <array>
#include <chrono>
#include <deque>

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
    static constexpr int ClientLinesWaiting = 64; // per client of the share

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
    // The board has identified itself and the link has not failed since.
    bool isBoardFound() const { return m_boardFound; }
    qsizetype clientLinesWaiting() const { return qsizetype(m_clientCommands.size()); }
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

    // A line from client `client` of the share. It is sent as a command of its own, as the
    // operator's are, once the command path is free: no other command and no read-back or
    // polling step under way. Lines go in the order they came, whichever client sent them. A
    // line is refused (clientCommandRefused) when it was cut, while the board is not found,
    // and beyond ClientLinesWaiting of one client waiting; one still waiting when the board
    // is lost is refused then.
    void clientLine(int client, const QByteArray &line, bool cut);

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
    // A client's line that was not sent.
    void clientCommandRefused(int client, const QByteArray &line, bool cut);

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
    void lostBoard();
    void postDrain();
    void drainClientCommands();

    // Marks the command path in use for as long as it lives.
    class Busy
    {
    public:
        explicit Busy(Session &s) : m_s(s) { ++m_s.m_busy; }
        ~Busy();
        Busy(const Busy &) = delete;
        Busy &operator=(const Busy &) = delete;

    private:
        Session &m_s;
    };
    struct ClientCommand {
        int client;
        QByteArray line;
    };

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
    bool m_boardFound = false;
    int m_busy = 0;         // commands and read-back or polling steps under way, nested
    bool m_draining = false;
    bool m_drainPosted = false;
    std::deque<ClientCommand> m_clientCommands;
    QHash<int, int> m_waiting; // lines waiting, by client
};
