#pragma once

#include "executable.h"
#include "link/lineassembler.h"
#include "paneltimer.h"
#include "valuelabel.h"

#include <QHash>
#include <QWidget>
#include <array>

class Dialogs;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class SerialControl;

// The panel's one window. Its controls keep the names the panel's documentation gives them
// (array members are indexed 1 and 2 for output 1 and 2); its handlers are spread over the
// subsystems' folders: link/ (port set-up, replies, sending), shell/ (start-up, settings,
// read-back, polling, shutdown) and pwm/ (duty and frequency controls).
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static const QString Banner;
    static const QString HelpText;
    // Typing limit of the label boxes: what the output label can show in two lines. A longer
    // label from the settings file is kept whole (and shown cut with an ellipsis).
    static constexpr int MaxUserLabel = 20;

    MainWindow(ExecutableIdentity exe, SerialControl &serial, Dialogs &dialogs,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    // The application-wide look the panel is laid out for; call before creating the window.
    static void prepareApplication();
    // Shows the window centred on the primary screen, as the program starts it.
    void showCentred();

    // Controls. Index 0 of each output array is unused.
    struct Ui {
        QPushButton *cmdSet = nullptr;
        ValueLabel *lblStatus = nullptr;
        QGroupBox *FrameF1 = nullptr;
        std::array<QPushButton *, 8> cmdFpwm{};
        QPushButton *cmdEnableFreq = nullptr;
        std::array<QGroupBox *, 3> frm1{};
        std::array<ValueLabel *, 3> lblDis1{};
        std::array<ValueLabel *, 3> lblName1{};
        std::array<QPushButton *, 3> cmd100posto{};
        std::array<QPushButton *, 3> cmd50posto{};
        std::array<QPushButton *, 3> cmd0posto{};
        std::array<QGroupBox *, 3> Frame5{};
        std::array<QLineEdit *, 3> txtSV1{};
        std::array<QPushButton *, 3> cmdSend1{};
        QPushButton *cmdHelp = nullptr;
        ValueLabel *lblDevCode = nullptr;
        QGroupBox *frmHelp = nullptr;
        QPlainTextEdit *Text1 = nullptr;
        QPushButton *cmdCloseHelp = nullptr;
        QGroupBox *frmSet = nullptr;
        QGroupBox *Frame2 = nullptr;
        std::array<QLineEdit *, 6> txtSet1{};
        QGroupBox *Frame3 = nullptr;
        std::array<QGroupBox *, 3> frmTempName{};
        std::array<QLineEdit *, 3> txtTempName{};
        QPushButton *cmdExit = nullptr;
    };

    // Form-level state; everything starts at zero or empty.
    struct State {
        qint16 ComPort = 0;
        QString Baud;
        QString DevPass;
        qint16 STime = 0;
        QString UcApp;
        std::array<QString, 17> UserLabels;
        QString IniPath;
        QString PendingCommand;
        std::array<float, 17> DeviceValues{};
        qint16 QueryStep = 0;
        qint16 SampleTicks = 0;
        qint16 SetpointValue = 0;
    };

    const Ui &ui() const { return m_ui; }
    const State &state() const { return m_state; }
    const PanelTimer &Timer1() const { return m_timer1; }
    const PanelTimer &Timer2() const { return m_timer2; }
    const PanelTimer &StTimer() const { return m_stTimer; }
    const PanelTimer &TimerCom() const { return m_timerCom; }
    const LineAssembler &RxLine() const { return m_rxLine; }
    bool isFormEnabled() const { return m_formEnabled; }
    QColor statusColor() const;

    // Sending, as the operator's controls do it: PendingCommand, transmit, pacing wait.
    void sendCommand(const QString &text);

signals:
    // A reply line has been handled and shown.
    void replyHandled();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    void wireUi();
    void describeUi();
    void setStatus(const QString &text, quint32 color);
    void setStatusText(const QString &text);
    void updateReachable();
    void setStatusColor(quint32 color);
    void setFormEnabled(bool on);

    // shell/startup.cpp
    void Form_Load();
    void StartConnection();
    void LoadSettings();
    bool applySettings();
    bool SaveSettings();
    void cmdSet_Click();
    void cmdExit_Click();
    void cmdHelp_Click();
    void cmdCloseHelp_Click();

    // link/portsetup.cpp
    void Timer1_Timer();
    void cmdInicijalizacija_Click();
    void TimerCom_Timer();
    void showPortError(int code);
    void linkLost(int code);
    void writeRefused();

    // link/replydispatcher.cpp
    void MSComm1_OnComm();
    void dispatchReply(const LineAssembler::Line &line);
    bool routeReply(const QString &line);
    void showReadback(int index);
    void showFrequencySelection();

    // link/commandsender.cpp
    void cmdUPort_Click();
    void transmissionFailed();
    void cmdKasnjenje_Click();

    // shell/readback.cpp
    void Timer2_Timer();
    void StTimer_Timer();
    void writeDirect(const QString &command);

    // pwm/outputcontrol.cpp
    void presetClick(int index, int percent);
    void cmdSend1_Click(int index);

    // pwm/frequencyselector.cpp
    void cmdFpwm_Click(int code);
    void cmdEnableFreq_Click();

    ExecutableIdentity m_exe;
    SerialControl &m_serial;
    Dialogs &m_dialogs;
    Ui m_ui;
    State m_state;
    LineAssembler m_rxLine;
    PanelTimer m_timer1;
    PanelTimer m_timer2;
    PanelTimer m_stTimer;
    PanelTimer m_timerCom;
    QHash<QWidget *, Qt::FocusPolicy> m_focusPolicy;
    // Who wrote to the port last, so that a refusal the device reports later is answered
    // as that writer's own failure would be.
    enum class Writer { Search, Sender, Direct };
    Writer m_lastWriter = Writer::Search;
    bool m_formEnabled = true;
    Qt::MouseButtons m_droppedButtons; // presses dropped while input was held off
    QList<int> m_droppedKeys;
    bool m_closing = false;

    friend struct MainWindowTester;
};
