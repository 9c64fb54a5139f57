#include "mainwindow.h"

#include "colors.h"
#include "dialogs.h"
#include "link/serialcontrol.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

using namespace std::chrono_literals;

const QString MainWindow::Banner = QStringLiteral("PWM Panel: ");

const QString MainWindow::HelpText = QStringLiteral(
    "- Set the COM port number\r\n"
    "- Set Baud rate (9600).\r\n"
    "- Set DevPass-password (not used in this application). \r\n"
    "- Set Sample time (1-32000 sec.) NOT USE!\r\n"
    "- Set proper ucApp name\r\n"
    "- Add users labels 1-2\r\n"
    "- More devices can be connected to different ports and copy the exe version  under a "
    "different name \r\n"
    "and use the various COM ports.  \r\n");

namespace {

// Positions and sizes are designed in twips; 15 twips make one pixel at 96 dpi.
QRect twips(int left, int top, int width, int height)
{
    return {left / 15, top / 15, width / 15, height / 15};
}

QFont sansSerif(double points, bool bold = false)
{
    QFont f;
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                   QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                   QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    return f;
}

QFont arial(double points)
{
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                   QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    return f;
}

const QFont &defaultFont()
{
    static const QFont f = sansSerif(8.25);
    return f;
}

// Every role set explicitly, so that nothing is inherited from a coloured container.
QPalette standardPalette()
{
    const QPalette app = QApplication::palette();
    QPalette p;
    for (int g = 0; g < QPalette::NColorGroups; ++g)
        for (int r = 0; r < QPalette::NColorRoles; ++r)
            p.setColor(QPalette::ColorGroup(g), QPalette::ColorRole(r),
                       app.color(QPalette::ColorGroup(g), QPalette::ColorRole(r)));
    return p;
}

void setRole(QWidget *w, QPalette::ColorRole role, quint32 value)
{
    QPalette p = w->palette();
    p.setColor(role, Colors::resolve(value, QApplication::palette()));
    w->setPalette(p);
}

template<class W>
W *place(W *w, const QString &name, const QRect &geometry, const QFont &font = defaultFont())
{
    w->setObjectName(name);
    w->setGeometry(geometry);
    w->setFont(font);
    w->setPalette(standardPalette());
    return w;
}

QString indexed(const char *name, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index);
}

QGroupBox *frame(QWidget *parent, const QString &name, const QString &caption, const QRect &g,
                 const QFont &font = defaultFont())
{
    return place(new QGroupBox(caption, parent), name, g, font);
}

// A frame with its own background and caption colour.
QGroupBox *colouredFrame(QWidget *parent, const QString &name, const QString &caption,
                         const QRect &g, quint32 background, quint32 caption_colour,
                         const QFont &font)
{
    QGroupBox *f = frame(parent, name, caption, g, font);
    f->setAutoFillBackground(true);
    setRole(f, QPalette::Window, background);
    setRole(f, QPalette::WindowText, caption_colour);
    setRole(f, QPalette::Text, caption_colour);
    return f;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &caption, const QRect &g,
                    const QFont &font = defaultFont(), quint32 face = Colors::ButtonFace)
{
    QPushButton *b = place(new QPushButton(caption, parent), name, g, font);
    b->setAutoDefault(false);
    setRole(b, QPalette::Button, face);
    return b;
}

// Labels may show text from outside the program: always plain text, never markup.
ValueLabel *label(QWidget *parent, const QString &name, const QString &text, const QRect &g,
                  const QFont &font, bool border, const QString &description)
{
    ValueLabel *l = place(new ValueLabel(description, parent), name, g, font);
    l->setText(text); // the design text; the first value replaces it at once
    l->setAlignment(Qt::AlignCenter);
    l->setAutoFillBackground(true);
    if (border)
        l->setFrameStyle(QFrame::Box | QFrame::Plain);
    return l;
}

QLineEdit *textBox(QWidget *parent, const QString &name, const QString &text, const QRect &g,
                   const QFont &font = defaultFont(), Qt::Alignment align = Qt::AlignCenter)
{
    QLineEdit *t = place(new QLineEdit(text, parent), name, g, font);
    t->setAlignment(align | Qt::AlignVCenter);
    t->setTextMargins(0, 0, 0, 0);
    return t;
}

} // namespace

MainWindow::MainWindow(ExecutableIdentity exe, SerialControl &serial, Dialogs &dialogs,
                       QWidget *parent)
    : QWidget(parent), m_exe(std::move(exe)), m_serial(serial), m_dialogs(dialogs),
      m_timer1(QStringLiteral("Timer1"), 2500ms, this),
      m_timer2(QStringLiteral("Timer2"), 800ms, this),
      m_stTimer(QStringLiteral("StTimer"), 1000ms, this),
      m_timerCom(QStringLiteral("TimerCom"), 5000ms, this)
{
    buildUi();
    wireUi();
    describeUi();
    Form_Load();
}

MainWindow::~MainWindow()
{
    qApp->removeEventFilter(this);
}

void MainWindow::prepareApplication()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
}

void MainWindow::showCentred()
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
}

void MainWindow::buildUi()
{
    Ui &u = m_ui;
    setObjectName(QStringLiteral("MainWindow"));
    resize(675, 253); // sizable; nothing moves, added area stays black
    setAutoFillBackground(true);
    setRole(this, QPalette::Window, Colors::Black);

    const QFont bold975 = sansSerif(9.75, true);
    const QFont bold825 = sansSerif(8.25, true);

    u.cmdSet = button(this, QStringLiteral("cmdSet"), QStringLiteral("Set"),
                      twips(105, 105, 540, 360), bold975, 0xFF00FF);
    u.lblStatus = label(this, QStringLiteral("lblStatus"), QStringLiteral("--"),
                        twips(735, 105, 9270, 360), arial(9.75), true,
                        tr("Status line"));

    u.FrameF1 = colouredFrame(this, QStringLiteral("FrameF1"), QStringLiteral("Set Pwm Freq.(Hz):"),
                              twips(105, 525, 6945, 750), Colors::Black, Colors::Highlight, bold825);
    static const char *const frequencies[] = {"31372", "3921", "980", "490", "245", "122", "30.6"};
    for (int n = 1; n <= 7; ++n)
        u.cmdFpwm[n] = button(u.FrameF1, QStringLiteral("cmdFpwm%1").arg(n),
                              QLatin1String(frequencies[n - 1]),
                              twips(210 + 945 * (n - 1), 315, 855, 330), bold975);
    u.FrameF1->setEnabled(false);
    u.cmdEnableFreq = button(this, QStringLiteral("cmdEnableFreq"),
                             QStringLiteral("Enable Set Pwm Freq."), twips(7455, 735, 2220, 435));

    for (int i = 1; i <= 2; ++i) {
        const bool first = i == 1;
        const quint32 light = first ? 0xC0C0FF : 0xFFFFC0;
        QGroupBox *f = colouredFrame(this, indexed("frm1", i),
                                     first ? QStringLiteral("PWM Out1:") : QStringLiteral("PWM Out2:"),
                                     twips(first ? 105 : 5145, 1365, 4845, 1905), Colors::Black,
                                     light, bold825);
        u.frm1[i] = f;
        u.lblDis1[i] = label(f, indexed("lblDis1", i), QStringLiteral("-"),
                             twips(210, 315, 2010, 645), arial(27.75), true,
                             tr("Output %1 readback").arg(i));
        setRole(u.lblDis1[i], QPalette::Window, Colors::Black);
        setRole(u.lblDis1[i], QPalette::WindowText, first ? 0x0000FF : 0xFFFF00);
        u.lblName1[i] = label(f, indexed("lblName1", i), QStringLiteral("Label1 PAGGGGGGGGG"),
                              twips(210, 1155, 2010, 540), bold825, false,
                              tr("Output %1 label").arg(i));
        setRole(u.lblName1[i], QPalette::Window, light);
        setRole(u.lblName1[i], QPalette::WindowText, Colors::ButtonText);
        u.lblName1[i]->setWrapAnywhere(true);
        u.cmd100posto[i] = button(f, indexed("cmd100posto", i), QStringLiteral("100%"),
                                  twips(2415, 315, 855, 330), bold975);
        u.cmd50posto[i] = button(f, indexed("cmd50posto", i), QStringLiteral("50%"),
                                 twips(2415, 840, 855, 330), bold975);
        u.cmd0posto[i] = button(f, indexed("cmd0posto", i), QStringLiteral("0%"),
                                twips(2415, 1365, 855, 330), bold975);
        u.Frame5[i] = colouredFrame(f, indexed("Frame5", i), QStringLiteral("Set(0-100%):"),
                                    twips(3465, 210, 1275, 1485), Colors::Black, 0x00C000, bold825);
        u.txtSV1[i] = textBox(u.Frame5[i], indexed("txtSV1", i), QStringLiteral("10"),
                              twips(210, 315, 855, 285), bold975);
        u.cmdSend1[i] = button(u.Frame5[i], indexed("cmdSend1", i), QStringLiteral("Send"),
                               twips(105, 840, 1065, 435), bold975, 0x00C000);
    }

    u.cmdHelp = button(this, QStringLiteral("cmdHelp"), QStringLiteral("Hlp"),
                       twips(105, 3360, 540, 330), bold975, Colors::InactiveCaption);
    u.lblDevCode = label(this, QStringLiteral("lblDevCode"), QStringLiteral("???"),
                         twips(840, 3360, 9150, 330), sansSerif(9.75), true,
                         tr("Device code"));
    setRole(u.lblDevCode, QPalette::Window, Colors::Black);
    setRole(u.lblDevCode, QPalette::WindowText, 0x00FFFF);

    // The settings panel.
    u.frmSet = colouredFrame(this, QStringLiteral("frmSet"), QStringLiteral("Settings:"),
                             twips(105, 105, 9885, 3165), 0x0000C0, Colors::White, bold825);
    u.Frame2 = frame(u.frmSet, QStringLiteral("Frame2"),
                     QStringLiteral("COM:    Baud:       DevPas:   STime:      ucApp:"),
                     twips(105, 210, 7365, 540));
    u.Frame2->setAutoFillBackground(true);
    static const int setLeft[] = {0, 105, 735, 1470, 2205, 2940};
    static const int setWidth[] = {0, 540, 645, 645, 645, 2010};
    for (int i = 1; i <= 5; ++i)
        u.txtSet1[i] = textBox(u.Frame2, indexed("txtSet1", i), QStringLiteral("-"),
                               twips(setLeft[i], 210, setWidth[i], 240), defaultFont(),
                               i == 5 ? Qt::AlignLeft : Qt::AlignHCenter);
    u.txtSet1[4]->setEnabled(false);
    u.Frame3 = frame(u.frmSet, QStringLiteral("Frame3"), QStringLiteral("MyLabels:"),
                     twips(105, 840, 7365, 960));
    u.Frame3->setAutoFillBackground(true);
    for (int i = 1; i <= 2; ++i) {
        u.frmTempName[i] = frame(u.Frame3, indexed("frmTempName", i),
                                 QStringLiteral("MyLabel%1:").arg(i),
                                 twips(i == 1 ? 105 : 1785, 210, 1590, 645));
        u.txtTempName[i] = textBox(u.frmTempName[i], indexed("txtTempName", i),
                                   QStringLiteral("Text2"), twips(105, 210, 1380, 285),
                                   defaultFont(), Qt::AlignLeft);
        u.txtTempName[i]->setMaxLength(MaxUserLabel);
    }
    u.cmdExit = button(u.frmSet, QStringLiteral("cmdExit"), QStringLiteral("SAVE-CLOSE"),
                       twips(5880, 2100, 1590, 435));
    u.frmSet->hide();

    // The help panel lies above the settings panel.
    u.frmHelp = colouredFrame(this, QStringLiteral("frmHelp"), QStringLiteral("Help:"),
                              twips(105, 105, 9915, 3585), Colors::Highlight, Colors::White,
                              defaultFont());
    u.Text1 = place(new QPlainTextEdit(u.frmHelp), QStringLiteral("Text1"),
                    twips(105, 210, 7380, 1905));
    u.Text1->setPlainText(HelpText);
    u.Text1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    u.Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    u.Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    u.Text1->setReadOnly(true);
    u.cmdCloseHelp = button(u.frmHelp, QStringLiteral("cmdCloseHelp"), QStringLiteral("Close"),
                            twips(6195, 2310, 1275, 360), sansSerif(9.75), Colors::InactiveCaption);
    u.frmHelp->hide();
    u.frmSet->raise();
    u.frmHelp->raise();
}

void MainWindow::wireUi()
{
    const Ui &u = m_ui;
    connect(u.cmdSet, &QPushButton::clicked, this, &MainWindow::cmdSet_Click);
    connect(u.cmdExit, &QPushButton::clicked, this, &MainWindow::cmdExit_Click);
    connect(u.cmdHelp, &QPushButton::clicked, this, &MainWindow::cmdHelp_Click);
    connect(u.cmdCloseHelp, &QPushButton::clicked, this, &MainWindow::cmdCloseHelp_Click);
    connect(u.cmdEnableFreq, &QPushButton::clicked, this, &MainWindow::cmdEnableFreq_Click);
    for (int n = 1; n <= 7; ++n)
        connect(u.cmdFpwm[n], &QPushButton::clicked, this, [this, n] { cmdFpwm_Click(n); });
    for (int i = 1; i <= 2; ++i) {
        connect(u.cmd100posto[i], &QPushButton::clicked, this, [this, i] { presetClick(i, 100); });
        connect(u.cmd50posto[i], &QPushButton::clicked, this, [this, i] { presetClick(i, 50); });
        connect(u.cmd0posto[i], &QPushButton::clicked, this, [this, i] { presetClick(i, 0); });
        connect(u.cmdSend1[i], &QPushButton::clicked, this, [this, i] { cmdSend1_Click(i); });
    }
    connect(&m_timer1, &QTimer::timeout, this, &MainWindow::Timer1_Timer);
    connect(&m_timer2, &QTimer::timeout, this, &MainWindow::Timer2_Timer);
    connect(&m_stTimer, &QTimer::timeout, this, &MainWindow::StTimer_Timer);
    connect(&m_timerCom, &QTimer::timeout, this, &MainWindow::TimerCom_Timer);
    connect(&m_serial, &SerialControl::onComm, this, &MainWindow::MSComm1_OnComm);
    connect(&m_serial, &SerialControl::linkLost, this, &MainWindow::linkLost);
    connect(&m_serial, &SerialControl::writeFailed, this, &MainWindow::writeRefused);
}

QColor MainWindow::statusColor() const
{
    return m_ui.lblStatus->palette().color(QPalette::Window);
}

void MainWindow::setStatusColor(quint32 color)
{
    // Every reply line sets the colour again; a new palette for an unchanged colour would
    // cost more than the rest of handling the line.
    const QColor wanted = Colors::resolve(color, QApplication::palette());
    const QPalette &current = m_ui.lblStatus->palette();
    if (current.color(QPalette::Active, QPalette::Window) == wanted
        && current.color(QPalette::Inactive, QPalette::Window) == wanted
        && current.color(QPalette::Disabled, QPalette::Window) == wanted)
        return;
    setRole(m_ui.lblStatus, QPalette::Window, color);
}

void MainWindow::setStatus(const QString &text, quint32 color)
{
    setStatusColor(color);
    setStatusText(text);
}

void MainWindow::setStatusText(const QString &text)
{
    m_ui.lblStatus->setValue(text);
}

void MainWindow::cmdHelp_Click()
{
    m_ui.frmHelp->show();
    updateReachable();
}

void MainWindow::cmdCloseHelp_Click()
{
    m_ui.frmHelp->hide();
    updateReachable();
}

// Names for assistive technology, and the keyboard order: top to bottom, left to right,
// one output panel after the other.
void MainWindow::describeUi()
{
    const Ui &u = m_ui;
    u.cmdSet->setAccessibleName(tr("Open settings"));
    for (int n = 1; n <= 7; ++n)
        u.cmdFpwm[n]->setAccessibleName(tr("PWM frequency %1 Hz").arg(u.cmdFpwm[n]->text()));
    u.cmdEnableFreq->setAccessibleName(tr("Unlock the frequency buttons"));
    for (int i = 1; i <= 2; ++i) {
        u.cmd100posto[i]->setAccessibleName(tr("Output %1: set 100 percent").arg(i));
        u.cmd50posto[i]->setAccessibleName(tr("Output %1: set 50 percent").arg(i));
        u.cmd0posto[i]->setAccessibleName(tr("Output %1: set 0 percent").arg(i));
        u.txtSV1[i]->setAccessibleName(tr("Output %1 setpoint").arg(i));
        u.cmdSend1[i]->setAccessibleName(tr("Output %1: send setpoint").arg(i));
        u.txtTempName[i]->setAccessibleName(tr("Output %1 label").arg(i));
    }
    u.cmdHelp->setAccessibleName(tr("Show help"));
    u.Text1->setAccessibleName(tr("Help text"));
    u.cmdCloseHelp->setAccessibleName(tr("Close help"));
    const QString settingNames[] = {{}, tr("COM port number"), tr("Baud rate"),
                                    tr("Device password"), tr("Sample time in seconds"),
                                    tr("Expected device name")};
    for (int i = 1; i <= 5; ++i)
        u.txtSet1[i]->setAccessibleName(settingNames[i]);
    u.cmdExit->setAccessibleName(tr("Save settings and close"));

    QList<QWidget *> order{u.cmdSet};
    for (int n = 1; n <= 7; ++n)
        order << u.cmdFpwm[n];
    order << u.cmdEnableFreq;
    for (int i = 1; i <= 2; ++i)
        order << u.cmd100posto[i] << u.cmd50posto[i] << u.cmd0posto[i] << u.txtSV1[i]
              << u.cmdSend1[i];
    order << u.txtSet1[1] << u.txtSet1[2] << u.txtSet1[3] << u.txtSet1[4] << u.txtSet1[5]
          << u.txtTempName[1] << u.txtTempName[2] << u.cmdExit << u.cmdHelp << u.Text1
          << u.cmdCloseHelp;
    for (qsizetype k = 1; k < order.size(); ++k)
        setTabOrder(order[k - 1], order[k]);
    for (QWidget *w : order)
        m_focusPolicy.insert(w, w->focusPolicy());
    updateReachable();
}

// Controls covered by an open panel cannot be reached by the keyboard either.
void MainWindow::updateReachable()
{
    const Ui &u = m_ui;
    const bool help = !u.frmHelp->isHidden();
    const bool settings = !u.frmSet->isHidden();
    for (auto it = m_focusPolicy.cbegin(); it != m_focusPolicy.cend(); ++it) {
        QWidget *w = it.key();
        const bool inHelp = u.frmHelp->isAncestorOf(w);
        const bool inSettings = u.frmSet->isAncestorOf(w);
        bool reachable;
        if (help)
            reachable = inHelp;
        else if (settings)
            reachable = inSettings || w == u.cmdHelp;
        else
            reachable = !inHelp && !inSettings;
        w->setFocusPolicy(reachable ? it.value() : Qt::NoFocus);
    }
}

// While the form is disabled (around a poll), operator input to this window is dropped.
// Unlike QWidget::setEnabled this does not grey every control for the moment of the poll.
void MainWindow::setFormEnabled(bool on)
{
    if (on == m_formEnabled)
        return;
    m_formEnabled = on;
    if (on) {
        qApp->removeEventFilter(this);
    } else {
        m_droppedButtons = {};
        m_droppedKeys.clear();
        // As a disabled window would, let go of a button held down by mouse or key: its
        // release then neither clicks nor leaves it drawn down.
        for (QAbstractButton *b : findChildren<QAbstractButton *>())
            if (b->isDown())
                b->setDown(false);
        qApp->installEventFilter(this);
    }
}

// Only what the operator starts while input is held off is dropped: a release whose press
// came before goes through.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (m_formEnabled || !watched->isWidgetType())
        return false;
    auto *w = static_cast<QWidget *>(watched);
    if (w != this && !isAncestorOf(w))
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_droppedButtons |= static_cast<QMouseEvent *>(event)->button();
        return true;
    case QEvent::MouseButtonRelease: {
        const Qt::MouseButton button = static_cast<QMouseEvent *>(event)->button();
        if (!(m_droppedButtons & button))
            return false;
        m_droppedButtons &= ~button;
        return true;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (!m_droppedKeys.contains(key))
            m_droppedKeys.append(key);
        return true;
    }
    case QEvent::KeyRelease:
        return m_droppedKeys.removeAll(static_cast<QKeyEvent *>(event)->key()) > 0;
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}
