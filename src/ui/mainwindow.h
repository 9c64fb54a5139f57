#pragma once

#include "shell/session.h"
#include "showthrottle.h"
#include "valuelabel.h"

#include <QHash>
#include <QWidget>

#include <array>
#include <chrono>
#include <optional>

class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The panel's one window: the controls of the layout table, showing what the session says
// and forwarding the operator's input to it. It decides nothing the session could decide.
// Its controls keep their designed names; arrays are indexed 1 and 2 for output 1 and 2.
class MainWindow : public QWidget
{
    Q_OBJECT
public:
    static const QString HelpText;
    // Typing limit of the label boxes: what the output label can show in two lines. A longer
    // label from the settings file is kept whole (and shown cut with an ellipsis).
    static constexpr int MaxUserLabel = 20;

    explicit MainWindow(Session &session, QWidget *parent = nullptr);
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

    const Ui &ui() const { return m_ui; }
    QColor statusColor() const;

    // What the session reported since the window last showed it. The status line, the
    // read-back labels and the frequency highlight follow the session as ShowThrottle
    // decides, and always before the window paints: a flood costs no more than what can be
    // seen, and a lone reply shows at once. Called by the window itself; tests call it to
    // look at once.
    void showPending() { m_throttle.showPending(); }

    static QColor colorOf(Session::StatusKind kind);

signals:
    // What was pending has just been put on the controls.
    void pendingShown();
    // The operator asked for the history (double-click on the status line, or Ctrl+L).
    void historyRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    void findControls();
    void bindSession();
    void forwardInput();
    void describeUi();

    // Reactions to the session.
    bool showReported();
    void showStatus(const QString &text, Session::StatusKind kind);
    void showFrequencyHighlight(int code);
    void showSettingsForm(const Session::SettingsForm &form);
    void showView(Session::View view);
    void showFrequencyLock(bool unlocked);
    void holdInput(bool held);
    void updateReachable();

    Session::SettingsForm settingsForm() const;

    Session &m_session;
    Ui m_ui;

    struct Pending {
        bool status = false;
        QString statusText;
        Session::StatusKind statusKind = Session::StatusKind::Waiting;
        std::array<std::optional<QString>, 3> readback;
        std::optional<int> highlight;
    };
    Pending m_pending;
    int m_highlightShown = 0;
    ShowThrottle m_throttle;
    QHash<QWidget *, Qt::FocusPolicy> m_focusPolicy;
    bool m_inputHeld = false;
    Qt::MouseButtons m_droppedButtons; // presses dropped while input was held off
    QList<int> m_droppedKeys;
};
