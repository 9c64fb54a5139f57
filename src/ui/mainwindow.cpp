#include "mainwindow.h"

#include "colors.h"
#include "facebutton.h"
#include "layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>

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

QFont fontOf(Layout::Font font)
{
    switch (font) {
    case Layout::Font::Bold975: return sansSerif(9.75, true);
    case Layout::Font::Bold825: return sansSerif(8.25, true);
    case Layout::Font::Sans975: return sansSerif(9.75);
    case Layout::Font::Arial975: return arial(9.75);
    case Layout::Font::Arial2775: return arial(27.75);
    case Layout::Font::Default: break;
    }
    return sansSerif(8.25);
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

void setButtonFace(QPushButton *b, const QColor &c)
{
    if (b->palette().color(QPalette::Button) == c)
        return;
    QPalette p = b->palette();
    p.setColor(QPalette::Button, c);
    b->setPalette(p);
}

// One control of the layout table, with what its kind always has: labels may show text from
// outside the program, so they are plain text and never markup.
QWidget *createControl(const Layout::Control &c, QWidget *parent)
{
    using Layout::Kind;
    QWidget *w = nullptr;
    switch (c.kind) {
    case Kind::Frame: {
        auto *f = new QGroupBox(c.text, parent);
        if (c.background != Layout::Unset || (c.flags & Layout::FillBackground))
            f->setAutoFillBackground(true);
        w = f;
        break;
    }
    case Kind::Button: {
        auto *b = new FaceButton(c.text, parent);
        b->setAutoDefault(false);
        w = b;
        break;
    }
    case Kind::Label: {
        auto *l = new ValueLabel(parent);
        l->setText(c.text); // the design text; the first value replaces it at once
        l->setAlignment(Qt::AlignCenter);
        l->setAutoFillBackground(true);
        if (c.flags & Layout::Border)
            l->setFrameStyle(QFrame::Box | QFrame::Plain);
        l->setWrapAnywhere(c.flags & Layout::WrapAnywhere);
        w = l;
        break;
    }
    case Kind::TextBox: {
        auto *t = new QLineEdit(c.text, parent);
        t->setAlignment(((c.flags & Layout::AlignLeft) ? Qt::AlignLeft : Qt::AlignHCenter)
                        | Qt::AlignVCenter);
        t->setTextMargins(0, 0, 0, 0);
        w = t;
        break;
    }
    case Kind::TextArea: {
        auto *t = new QPlainTextEdit(parent);
        t->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setReadOnly(true);
        w = t;
        break;
    }
    }
    w->setObjectName(c.name);
    w->setGeometry(c.pixels());
    w->setFont(fontOf(c.font));
    w->setPalette(standardPalette());
    if (c.kind == Kind::Button) {
        setRole(w, QPalette::Button, c.background == Layout::Unset ? Colors::ButtonFace : c.background);
    } else {
        if (c.background != Layout::Unset)
            setRole(w, QPalette::Window, c.background);
        if (c.foreground != Layout::Unset) {
            setRole(w, QPalette::WindowText, c.foreground);
            if (c.kind == Kind::Frame)
                setRole(w, QPalette::Text, c.foreground);
        }
    }
    if (c.flags & Layout::Disabled)
        w->setEnabled(false);
    if (c.flags & Layout::Hidden)
        w->hide();
    return w;
}

} // namespace

MainWindow::MainWindow(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_throttle(this, [this] { return showReported(); })
{
    buildUi();
    findControls();
    describeUi();
    bindSession();
    forwardInput();
    setWindowTitle(m_session.caption());
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
    setObjectName(QStringLiteral("MainWindow"));
    resize(Layout::WindowSize); // sizable; nothing moves, added area stays black
    setAutoFillBackground(true);
    setRole(this, QPalette::Window, Colors::Black);
    QHash<QString, QWidget *> byName;
    for (const Layout::Control &c : Layout::controls())
        byName.insert(c.name, createControl(c, c.parent.isEmpty() ? this : byName.value(c.parent)));
    // Later panels lie above earlier ones.
    for (const Layout::Control &c : Layout::controls())
        if (c.parent.isEmpty())
            byName.value(c.name)->raise();
}

void MainWindow::findControls()
{
    Ui &u = m_ui;
    const auto get = [this](auto &member, const QString &name) {
        member = findChild<std::remove_reference_t<decltype(*member)> *>(name);
        Q_ASSERT(member);
    };
    const auto at = [](const char *name, int i) { return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i); };
    get(u.cmdSet, QStringLiteral("cmdSet"));
    get(u.lblStatus, QStringLiteral("lblStatus"));
    get(u.FrameF1, QStringLiteral("FrameF1"));
    for (int n = 1; n <= 7; ++n)
        get(u.cmdFpwm[n], QStringLiteral("cmdFpwm%1").arg(n));
    get(u.cmdEnableFreq, QStringLiteral("cmdEnableFreq"));
    for (int i = 1; i <= 2; ++i) {
        get(u.frm1[i], at("frm1", i));
        get(u.lblDis1[i], at("lblDis1", i));
        get(u.lblName1[i], at("lblName1", i));
        get(u.cmd100posto[i], at("cmd100posto", i));
        get(u.cmd50posto[i], at("cmd50posto", i));
        get(u.cmd0posto[i], at("cmd0posto", i));
        get(u.Frame5[i], at("Frame5", i));
        get(u.txtSV1[i], at("txtSV1", i));
        get(u.cmdSend1[i], at("cmdSend1", i));
        get(u.frmTempName[i], at("frmTempName", i));
        get(u.txtTempName[i], at("txtTempName", i));
        u.txtTempName[i]->setMaxLength(MaxUserLabel);
    }
    get(u.cmdHelp, QStringLiteral("cmdHelp"));
    get(u.lblDevCode, QStringLiteral("lblDevCode"));
    get(u.frmHelp, QStringLiteral("frmHelp"));
    get(u.Text1, QStringLiteral("Text1"));
    u.Text1->setPlainText(HelpText);
    get(u.cmdCloseHelp, QStringLiteral("cmdCloseHelp"));
    get(u.frmSet, QStringLiteral("frmSet"));
    get(u.Frame2, QStringLiteral("Frame2"));
    for (int i = 1; i <= 5; ++i)
        get(u.txtSet1[i], at("txtSet1", i));
    get(u.Frame3, QStringLiteral("Frame3"));
    get(u.cmdExit, QStringLiteral("cmdExit"));
}

void MainWindow::bindSession()
{
    const Ui &u = m_ui;
    Session *s = &m_session;
    connect(s, &Session::statusChanged, this, [this](const QString &text, Session::StatusKind kind) {
        m_pending.status = true;
        m_pending.statusText = text;
        m_pending.statusKind = kind;
        m_throttle.request();
    });
    connect(s, &Session::readbackChanged, this, [this](int i, const QString &text) {
        m_pending.readback[i] = text;
        m_throttle.request(0);
    });
    connect(s, &Session::frequencyHighlightChanged, this, [this](int code) {
        m_pending.highlight = code;
        m_throttle.request(0);
    });
    connect(s, &Session::deviceCodeChanged, u.lblDevCode, &ValueLabel::setValue);
    connect(s, &Session::outputLabelChanged, this,
            [this](int i, const QString &text) { m_ui.lblName1[i]->setValue(text); });
    connect(s, &Session::settingsFormChanged, this, &MainWindow::showSettingsForm);
    connect(s, &Session::setpointBoxChanged, this,
            [this](int i, const QString &text) { m_ui.txtSV1[i]->setText(text); });
    connect(s, &Session::viewChanged, this, &MainWindow::showView);
    connect(s, &Session::inputHeldChanged, this, &MainWindow::holdInput);
    connect(s, &Session::frequencyLockChanged, this, &MainWindow::showFrequencyLock);
}

void MainWindow::forwardInput()
{
    const Ui &u = m_ui;
    Session *s = &m_session;
    connect(u.cmdSet, &QPushButton::clicked, s, &Session::openSettings);
    // The history opens in a window of its own; the panel is left as it is.
    u.lblStatus->installEventFilter(this);
    auto *history = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(history, &QShortcut::activated, this, &MainWindow::historyRequested);
    connect(u.cmdExit, &QPushButton::clicked, this, [this] { m_session.saveSettings(settingsForm()); });
    connect(u.cmdHelp, &QPushButton::clicked, s, &Session::showHelp);
    connect(u.cmdCloseHelp, &QPushButton::clicked, s, &Session::closeHelp);
    connect(u.cmdEnableFreq, &QPushButton::clicked, s, &Session::toggleFrequencyLock);
    for (int n = 1; n <= 7; ++n)
        connect(u.cmdFpwm[n], &QPushButton::clicked, s, [s, n] { s->selectFrequency(n); });
    for (int i = 1; i <= 2; ++i) {
        connect(u.cmd100posto[i], &QPushButton::clicked, s, [s, i] { s->pressPreset(i, 100); });
        connect(u.cmd50posto[i], &QPushButton::clicked, s, [s, i] { s->pressPreset(i, 50); });
        connect(u.cmd0posto[i], &QPushButton::clicked, s, [s, i] { s->pressPreset(i, 0); });
        connect(u.cmdSend1[i], &QPushButton::clicked, this,
                [this, i] { m_session.sendSetpoint(i, m_ui.txtSV1[i]->text()); });
    }
}

Session::SettingsForm MainWindow::settingsForm() const
{
    const Ui &u = m_ui;
    return {u.txtSet1[1]->text(), u.txtSet1[2]->text(),     u.txtSet1[3]->text(),
            u.txtSet1[4]->text(), u.txtSet1[5]->text(),     u.txtTempName[1]->text(),
            u.txtTempName[2]->text()};
}

// Puts what the session reported on the controls: true when that changed what is seen.
bool MainWindow::showReported()
{
    const Pending p = std::exchange(m_pending, Pending());
    bool changed = false;
    if (p.status) {
        changed |= m_ui.lblStatus->text() != p.statusText || statusColor() != colorOf(p.statusKind);
        showStatus(p.statusText, p.statusKind);
    }
    for (int i = 1; i <= 2; ++i) {
        if (p.readback[i]) {
            changed |= m_ui.lblDis1[i]->text() != *p.readback[i];
            m_ui.lblDis1[i]->setValue(*p.readback[i]);
        }
    }
    if (p.highlight) {
        changed |= *p.highlight != m_highlightShown;
        m_highlightShown = *p.highlight;
        showFrequencyHighlight(*p.highlight);
    }
    emit pendingShown();
    return changed;
}

QColor MainWindow::colorOf(Session::StatusKind kind)
{
    switch (kind) {
    case Session::StatusKind::Reply: return Colors::resolve(Colors::StatusReply, QApplication::palette());
    case Session::StatusKind::Found: return Colors::resolve(Colors::StatusFound, QApplication::palette());
    case Session::StatusKind::Error: return Colors::resolve(Colors::StatusError, QApplication::palette());
    case Session::StatusKind::Waiting: break;
    }
    return Colors::resolve(Colors::StatusWaiting, QApplication::palette());
}

QColor MainWindow::statusColor() const
{
    return m_ui.lblStatus->palette().color(QPalette::Window);
}

void MainWindow::showStatus(const QString &text, Session::StatusKind kind)
{
    // Every reply line sets the colour again; a new palette for an unchanged colour would
    // cost more than the rest of handling the line.
    const QColor wanted = colorOf(kind);
    const QPalette &current = m_ui.lblStatus->palette();
    if (current.color(QPalette::Active, QPalette::Window) != wanted
        || current.color(QPalette::Inactive, QPalette::Window) != wanted
        || current.color(QPalette::Disabled, QPalette::Window) != wanted) {
        QPalette p = current;
        p.setColor(QPalette::Window, wanted);
        m_ui.lblStatus->setPalette(p);
    }
    m_ui.lblStatus->setValue(text);
}

void MainWindow::showFrequencyHighlight(int code)
{
    const QPalette &pal = QApplication::palette();
    const QColor face = Colors::resolve(Colors::ButtonFace, pal);
    const QColor highlight = Colors::resolve(Colors::Highlight, pal);
    for (int n = 1; n <= 7; ++n)
        setButtonFace(m_ui.cmdFpwm[n], code == n ? highlight : face);
}

void MainWindow::showSettingsForm(const Session::SettingsForm &form)
{
    const Ui &u = m_ui;
    u.txtSet1[1]->setText(form.comPort);
    u.txtSet1[2]->setText(form.baud);
    u.txtSet1[3]->setText(form.devPass);
    u.txtSet1[4]->setText(form.sTime);
    u.txtSet1[5]->setText(form.ucApp);
    const QString labels[] = {{}, form.label1, form.label2};
    for (int i = 1; i <= 2; ++i) {
        // The typing limit never cuts a longer label that came from the file.
        u.txtTempName[i]->setMaxLength(std::max<int>(MaxUserLabel, int(labels[i].size())));
        u.txtTempName[i]->setText(labels[i]);
    }
}

// The help panel lies over the settings panel, which stays as it is beneath it.
void MainWindow::showView(Session::View view)
{
    m_ui.frmHelp->setVisible(view == Session::View::Help);
    if (view != Session::View::Help)
        m_ui.frmSet->setVisible(view == Session::View::Settings);
    updateReachable();
}

void MainWindow::showFrequencyLock(bool unlocked)
{
    m_ui.FrameF1->setEnabled(unlocked);
    m_ui.cmdEnableFreq->setText(unlocked ? QStringLiteral("Disable Set Pwm Freq.")
                                         : QStringLiteral("Enable Set Pwm Freq."));
    m_ui.cmdEnableFreq->setAccessibleName(unlocked ? tr("Lock the frequency buttons")
                                                   : tr("Unlock the frequency buttons"));
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_session.confirmExit())
        event->accept();
    else
        event->ignore();
}

// Names for assistive technology, and the keyboard order: top to bottom, left to right,
// one output panel after the other.
void MainWindow::describeUi()
{
    const Ui &u = m_ui;
    const QString historyHint = tr("Double-click or press Ctrl+L for the history of every line");
    u.lblStatus->setAccessibleDescription(tr("Status line. %1").arg(historyHint));
    u.lblStatus->setToolTip(historyHint);
    u.lblDevCode->setAccessibleDescription(tr("Device code"));
    u.cmdSet->setAccessibleName(tr("Open settings"));
    for (int n = 1; n <= 7; ++n)
        u.cmdFpwm[n]->setAccessibleName(tr("PWM frequency %1 Hz").arg(u.cmdFpwm[n]->text()));
    u.cmdEnableFreq->setAccessibleName(tr("Unlock the frequency buttons"));
    for (int i = 1; i <= 2; ++i) {
        u.lblDis1[i]->setAccessibleDescription(tr("Output %1 readback").arg(i));
        u.lblName1[i]->setAccessibleDescription(tr("Output %1 label").arg(i));
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

// While input is held off (around a poll), the operator's input to this window is dropped.
// Unlike QWidget::setEnabled this does not grey every control for the moment of the poll.
void MainWindow::holdInput(bool held)
{
    if (held == m_inputHeld)
        return;
    m_inputHeld = held;
    if (!held) {
        qApp->removeEventFilter(this);
        return;
    }
    m_droppedButtons = {};
    m_droppedKeys.clear();
    // As a disabled window would, let go of a button held down by mouse or key: its release
    // then neither clicks nor leaves it drawn down.
    for (QAbstractButton *b : findChildren<QAbstractButton *>())
        if (b->isDown())
            b->setDown(false);
    qApp->installEventFilter(this);
}

// A double-click on the status line asks for the history. While input is held off, only what
// the operator starts is dropped: a release whose press came before goes through.
bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui.lblStatus && event->type() == QEvent::MouseButtonDblClick && !m_inputHeld) {
        emit historyRequested();
        return true;
    }
    if (!m_inputHeld || !watched->isWidgetType())
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
