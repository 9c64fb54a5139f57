#include "session.h"

#include "link/eightbittext.h"
#include "link/replynumber.h"
#include "link/serialcontrol.h"
#include "prompts.h"
#include "pwm/dutycontrol.h"
#include "pwm/wholenumber.h"
#include "settingsfile.h"

const QString Session::Banner = QStringLiteral("PWM Panel: ");
const QString Session::DevPassPlaceholder = QStringLiteral("-");
const QString Session::DefaultName = QStringLiteral("ORVIX7");

Session::Session(ExecutableIdentity exe, BoardLink &link, Prompts &prompts, QObject *parent)
    : QObject(parent), m_exe(std::move(exe)), m_link(link), m_prompts(prompts),
      m_readback(QStringLiteral("Timer2"), ReadbackInterval, this, [this] { readbackStep(); }),
      m_sample(QStringLiteral("StTimer"), SampleTick, this, [this] { pollTick(); })
{
    connect(&m_link, &BoardLink::searching, this,
            [this] { setStatus(QStringLiteral("Searching for uc code..."), StatusKind::Waiting); });
    connect(&m_link, &BoardLink::searchFailed, this, &Session::showSearchFailure);
    connect(&m_link, &BoardLink::replyTimedOut, this,
            [this] { setStatus(QStringLiteral("No response!"), StatusKind::Error); });
    connect(&m_link, &BoardLink::replyReceived, this, &Session::onReply);
    // The port is closed already: the next command raises the no-response question, and a
    // search still running opens it again.
    connect(&m_link, &BoardLink::linkLost, this, [this](int code) {
        lostBoard();
        showSearchFailure(code);
    });
    connect(&m_link, &BoardLink::writeRefused, this, &Session::onWriteRefused);
}

Session::Busy::~Busy()
{
    if (--m_s.m_busy == 0 && !m_s.m_clientCommands.empty())
        m_s.postDrain();
}

void Session::lostBoard()
{
    m_boardFound = false;
}

Session::View Session::view() const
{
    return m_helpOpen ? View::Help : m_settingsOpen ? View::Settings : View::Main;
}

void Session::start()
{
    m_state.ucApp = DefaultName;
    startConnection();
}

// Every caller has the port closed, so that the settings can set the port number.
void Session::startConnection()
{
    lostBoard();
    loadSettings();
    setStatus(QStringLiteral("wait..."), StatusKind::Waiting);
    m_link.startSearch();
}

void Session::loadSettings()
{
    State &s = m_state;
    s.iniPath = m_exe.settingsPath();

    bool complete = false;
    if (const auto text = SettingsFile::load(s.iniPath)) {
        const SettingsFile::ReadResult r = SettingsFile::parse(*text);
        // Each value is kept as soon as it has been read, so a file that breaks off after
        // the fifth value still sets the expected name.
        const StoredSettings &v = r.values;
        const int n = r.valuesRead;
        if (n >= 1) s.comPort = v.comPort;
        if (n >= 2) s.baud = v.baud;
        if (n >= 3) s.devPass = v.devPass;
        if (n >= 4) s.sTime = v.sTime;
        if (n >= 5) s.ucApp = v.ucApp;
        if (n >= 6) s.userLabels[1] = v.userLabel1;
        if (n >= 7) s.userLabels[2] = v.userLabel2;
        complete = r.complete();
    }
    if (complete && applySettings())
        return;

    const StoredSettings defaults;
    s.comPort = defaults.comPort;
    s.baud = defaults.baud;
    s.devPass = DevPassPlaceholder;
    s.sTime = defaults.sTime;
    s.userLabels[1] = defaults.userLabel1;
    s.userLabels[2] = defaults.userLabel2;
    applySettings(); // port 1 and 9600 are always accepted while the port is closed
}

// The settings to the panel, the output labels and the port; false when the port refuses
// its number or speed.
bool Session::applySettings()
{
    const State &s = m_state;
    m_replyPrefix = QStringLiteral("COM:") + QString::number(s.comPort) + QStringLiteral(" Baud:")
                    + s.baud + QStringLiteral(" COM data: ");
    const bool accepted = m_link.setPort(s.comPort) == SerialCode::Ok
                          && m_link.setSpeed(s.baud) == SerialCode::Ok;
    m_link.setExpectedName(s.ucApp);
    emit settingsFormChanged({QString::number(s.comPort), s.baud, s.devPass,
                              QString::number(s.sTime), s.ucApp, s.userLabels[1], s.userLabels[2]});
    emit outputLabelChanged(1, s.userLabels[1]);
    emit outputLabelChanged(2, s.userLabels[2]);
    return accepted;
}

bool Session::saveSettings(const SettingsForm &form)
{
    m_link.close();
    lostBoard();

    const auto refuse = [this](const QString &why) {
        m_prompts.saveRefused(why);
        return false;
    };
    const QChar decimal = WholeNumber::systemDecimal();
    const auto comPort = WholeNumber::toInt16(form.comPort, decimal);
    if (!comPort)
        return refuse(tr("The COM box must hold a whole number from -32768 to 32767."));
    const auto sTime = WholeNumber::toInt16(form.sTime, decimal);
    if (!sTime)
        return refuse(tr("The STime box must hold a whole number from -32768 to 32767."));

    const std::pair<const QString *, QString> texts[] = {
        {&form.baud, QStringLiteral("Baud")},     {&form.devPass, QStringLiteral("DevPas")},
        {&form.ucApp, QStringLiteral("ucApp")},   {&form.label1, QStringLiteral("MyLabel1")},
        {&form.label2, QStringLiteral("MyLabel2")},
    };
    for (const auto &[text, name] : texts) {
        if (text->contains(QLatin1Char('"')) || text->contains(QLatin1Char('\r'))
            || text->contains(QLatin1Char('\n')))
            return refuse(tr("The %1 box cannot hold a double quote or a line break.").arg(name));
        if (!EightBitText::representable(*text))
            return refuse(tr("The %1 box holds a character the settings file cannot store.").arg(name));
    }

    StoredSettings v;
    v.comPort = *comPort;
    v.baud = form.baud;
    v.devPass = form.devPass;
    v.sTime = *sTime;
    v.ucApp = form.ucApp;
    v.userLabel1 = form.label1;
    v.userLabel2 = form.label2;

    QString error;
    if (!SettingsFile::save(m_state.iniPath, SettingsFile::compose(v), &error))
        return refuse(tr("The settings file %1 could not be written: %2").arg(m_state.iniPath, error));

    State &s = m_state;
    s.comPort = v.comPort;
    s.baud = v.baud;
    s.devPass = v.devPass;
    s.sTime = v.sTime;
    s.ucApp = v.ucApp;
    s.userLabels[1] = v.userLabel1;
    s.userLabels[2] = v.userLabel2;
    startConnection();
    m_settingsOpen = false;
    emit viewChanged(view());
    return true;
}

// Polling stops while the settings are open; SAVE-CLOSE starts it again with the board.
void Session::openSettings()
{
    m_settingsOpen = true;
    emit viewChanged(view());
    m_sample.setEnabled(false);
}

void Session::showHelp()
{
    m_helpOpen = true;
    emit viewChanged(view());
}

void Session::closeHelp()
{
    m_helpOpen = false;
    emit viewChanged(view());
}

void Session::setStatus(const QString &text, StatusKind kind)
{
    m_statusText = text;
    m_statusKind = kind;
    emit statusChanged(text, kind);
}

void Session::setStatusText(const QString &text)
{
    setStatus(text, m_statusKind);
}

QString Session::searchFailureText(int code)
{
    switch (code) {
    case SerialCode::NoSuchPort: return QStringLiteral("Invalid Port Number!");
    case SerialCode::PortInUse: return QStringLiteral("Port already open!");
    default: return QStringLiteral("COM Port comm-error! ") + QString::number(code);
    }
}

void Session::showSearchFailure(int code)
{
    setStatus(searchFailureText(code), StatusKind::Error);
}

// Every line is shown; the expected name starts the read-back and the polling; the reports
// are kept and shown. A line that cannot be handled shows "???".
void Session::onReply(const Protocol::Reply &reply)
{
    StatusKind kind = StatusKind::Reply;
    QString text;
    if (!reply.text.isEmpty())
        text = m_replyPrefix + reply.text;
    if (reply.identifies) {
        emit deviceCodeChanged(QStringLiteral("Korvendi: uc=") + reply.text + QStringLiteral("  pc=")
                               + m_exe.baseName);
        text = QStringLiteral("Found: ") + reply.text;
        kind = StatusKind::Found;
        // An STime of 32767 could never be reached without overflow: no polling.
        if (m_state.sTime > 0 && m_state.sTime < 32767) {
            m_state.sampleTicks = qint16(m_state.sTime - 1);
            m_sample.setEnabled(true);
        }
        m_state.queryStep = 0;
        m_readback.setEnabled(true);
        m_boardFound = true;
        if (!m_clientCommands.empty())
            postDrain();
    }
    if (reply.failed) {
        text = QStringLiteral("???");
    } else if (reply.kind == Protocol::Reply::Kind::FrequencyCode) {
        m_state.deviceValues[0] = reply.value;
        const int code = FrequencySelector::highlightedCode(reply.value);
        if (code != m_highlighted) {
            m_highlighted = code;
            emit frequencyHighlightChanged(code);
        }
    } else if (reply.kind == Protocol::Reply::Kind::Setpoint) {
        m_state.deviceValues[reply.output] = reply.value;
        emit readbackChanged(reply.output, ReplyNumber::format(reply.value));
    }
    setStatus(text, kind);
    emit replyHandled();
}

void Session::sendCommand(const QString &command)
{
    // A sender that resumes after its pause once the close was confirmed sends nothing more
    // and asks nothing more.
    if (m_exiting)
        return;
    const Busy busy(*this);
    if (!m_link.transmit(command))
        transmissionFailed();
    m_link.pause();
}

void Session::clientLine(int client, const QByteArray &line, bool cut)
{
    int &waiting = m_waiting[client];
    if (cut || !m_boardFound || m_exiting || waiting >= ClientLinesWaiting) {
        if (waiting == 0)
            m_waiting.remove(client);
        return emit clientCommandRefused(client, line, cut);
    }
    ++waiting;
    m_clientCommands.push_back({client, line});
    if (m_busy == 0)
        postDrain();
}

// Run from the event loop, so that the client's read is over before its command is sent.
void Session::postDrain()
{
    if (m_drainPosted)
        return;
    m_drainPosted = true;
    QMetaObject::invokeMethod(this, [this] {
        m_drainPosted = false;
        drainClientCommands();
    }, Qt::QueuedConnection);
}

void Session::drainClientCommands()
{
    if (m_draining || m_busy > 0)
        return;
    m_draining = true;
    while (!m_clientCommands.empty() && m_busy == 0) {
        const ClientCommand c = std::move(m_clientCommands.front());
        m_clientCommands.pop_front();
        if (--m_waiting[c.client] <= 0)
            m_waiting.remove(c.client);
        if (!m_boardFound || m_exiting) {
            emit clientCommandRefused(c.client, c.line, false);
            continue;
        }
        const Busy busy(*this);
        if (!m_link.transmit(QString::fromLatin1(c.line), c.client))
            transmissionFailed();
        m_link.pause();
    }
    m_draining = false;
}

// A command did not reach the board, now or when the device refused it later. Never a
// status text: the operator is asked whether to go on. Yes starts the connection over and
// the sender goes on; No ends the program at once.
void Session::transmissionFailed()
{
    if (m_prompts.noResponse() == Prompts::Answer::Yes) {
        m_link.close();
        m_sample.setEnabled(false);
        holdInput(false);
        startConnection();
        return;
    }
    m_link.close(); // release the device and its lock before leaving
    m_prompts.endProgram();
}

// The search, the read-back and the polling report a later refusal on the status line.
void Session::onWriteRefused(BoardLink::Writer writer)
{
    lostBoard();
    if (writer == BoardLink::Writer::Sender)
        transmissionFailed();
    else
        showSearchFailure(SerialCode::WriteFailed);
}

// Read-back and polling write straight to the port: a closed port skips the write silently,
// and a device that refuses it is reported on the status line.
void Session::writeQuery(const QString &command)
{
    const int rc = m_link.writeDirect(command);
    if (rc != SerialCode::Ok && rc != SerialCode::PortNotOpen)
        showSearchFailure(rc);
}

void Session::readbackStep()
{
    const Busy busy(*this);
    if (m_state.queryStep < 32767)
        ++m_state.queryStep;
    // The step is read afresh after each pause: an identification inside one starts over.
    if (m_state.queryStep == 1) {
        writeQuery(Protocol::QueryFrequency);
        m_link.pause();
    }
    if (m_state.queryStep == 2) {
        writeQuery(Protocol::QuerySetpoint1);
        m_link.pause();
    }
    if (m_state.queryStep == 3) {
        writeQuery(Protocol::QuerySetpoint2);
        m_link.pause();
        m_readback.setEnabled(false);
    }
}

void Session::pollTick()
{
    const Busy busy(*this);
    setStatusText(QStringLiteral("STime:") + QString::number(m_state.sTime) + QStringLiteral(" STimer:")
                  + QString::number(m_state.sampleTicks));
    if (m_state.sampleTicks < 32767)
        ++m_state.sampleTicks;
    if (m_state.sampleTicks > m_state.sTime) {
        holdInput(true);
        writeQuery(Protocol::QueryProcessValue1);
        m_link.pause();
        holdInput(false);
        m_state.sampleTicks = 0;
    }
}

void Session::holdInput(bool held)
{
    if (held == m_inputHeld)
        return;
    m_inputHeld = held;
    emit inputHeldChanged(held);
}

void Session::pressPreset(int output, int percent)
{
    for (const QString &command : DutyControl::presetCommands(output, percent))
        sendCommand(command);
}

void Session::sendSetpoint(int output, const QString &typed)
{
    const auto command = DutyControl::setpointCommand(output, typed, WholeNumber::systemDecimal());
    if (!command)
        return emit setpointBoxChanged(output, DutyControl::Refused);
    sendCommand(*command);
}

void Session::selectFrequency(int code)
{
    sendCommand(Protocol::setFrequency(code));
}

void Session::toggleFrequencyLock()
{
    m_frequency.toggleLock();
    emit frequencyLockChanged(m_frequency.isUnlocked());
}

bool Session::confirmExit()
{
    if (m_closing)
        return false; // the question is already on screen
    m_closing = true;
    const Prompts::Answer answer = m_prompts.confirmExit();
    m_closing = false;
    if (answer != Prompts::Answer::Yes)
        return false;
    m_exiting = true;
    lostBoard();
    m_link.shutDown();
    m_readback.setEnabled(false);
    m_sample.setEnabled(false);
    return true;
}
