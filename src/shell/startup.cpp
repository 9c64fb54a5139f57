// Start-up, the settings file and the settings panel.
#include "mainwindow.h"

#include "colors.h"
#include "dialogs.h"
#include "link/eightbittext.h"
#include "link/serialcontrol.h"
#include "pwm/wholenumber.h"
#include "settingsfile.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace {
const QString DevPassPlaceholder = QStringLiteral("-");
}

void MainWindow::Form_Load()
{
    m_state.UcApp = QStringLiteral("ORVIX7");
    setWindowTitle(Banner + m_exe.baseName);
    StartConnection();
}

void MainWindow::StartConnection()
{
    LoadSettings();
    setStatus(QStringLiteral("wait..."), Colors::StatusWaiting);
    m_timer1.setEnabled(true);
}

void MainWindow::LoadSettings()
{
    State &s = m_state;
    s.IniPath = m_exe.settingsPath();

    bool complete = false;
    if (const auto text = SettingsFile::load(s.IniPath)) {
        const SettingsFile::ReadResult r = SettingsFile::parse(*text);
        // Each value is kept as soon as it has been read, so a file that breaks off after
        // the fifth value still sets UcApp.
        const StoredSettings &v = r.values;
        const int n = r.valuesRead;
        if (n >= 1) s.ComPort = v.comPort;
        if (n >= 2) s.Baud = v.baud;
        if (n >= 3) s.DevPass = v.devPass;
        if (n >= 4) s.STime = v.sTime;
        if (n >= 5) s.UcApp = v.ucApp;
        if (n >= 6) s.UserLabels[1] = v.userLabel1;
        if (n >= 7) s.UserLabels[2] = v.userLabel2;
        complete = r.complete();
    }
    if (complete && applySettings())
        return;

    const StoredSettings defaults;
    s.ComPort = defaults.comPort;
    s.Baud = defaults.baud;
    s.DevPass = DevPassPlaceholder;
    s.STime = defaults.sTime;
    s.UserLabels[1] = defaults.userLabel1;
    s.UserLabels[2] = defaults.userLabel2;
    applySettings(); // port 1 and 9600 are always accepted while the port is closed
}

bool MainWindow::applySettings()
{
    const State &s = m_state;
    m_ui.txtSet1[1]->setText(QString::number(s.ComPort));
    if (m_serial.setCommPort(s.ComPort) != SerialCode::Ok)
        return false;
    m_ui.txtSet1[2]->setText(s.Baud);
    if (m_serial.setSettings(s.Baud + QStringLiteral(",N,8,1")) != SerialCode::Ok)
        return false;
    m_ui.txtSet1[3]->setText(s.DevPass);
    m_ui.txtSet1[4]->setText(QString::number(s.STime));
    m_ui.txtSet1[5]->setText(s.UcApp);
    for (int i = 1; i <= 2; ++i) {
        // The typing limit never cuts a longer label that came from the file.
        m_ui.txtTempName[i]->setMaxLength(std::max<int>(MaxUserLabel, int(s.UserLabels[i].size())));
        m_ui.txtTempName[i]->setText(s.UserLabels[i]);
        m_ui.lblName1[i]->setValue(s.UserLabels[i]);
    }
    return true;
}

// Returns false when the save was refused; the panel then stays open and nothing is written.
bool MainWindow::SaveSettings()
{
    if (m_serial.portOpen())
        m_serial.setPortOpen(false);

    const auto refuse = [this](const QString &why) {
        m_dialogs.saveRefused(this, why);
        return false;
    };
    const QChar decimal = WholeNumber::systemDecimal();
    const auto comPort = WholeNumber::toInt16(m_ui.txtSet1[1]->text(), decimal);
    if (!comPort)
        return refuse(tr("The COM box must hold a whole number from -32768 to 32767."));
    const auto sTime = WholeNumber::toInt16(m_ui.txtSet1[4]->text(), decimal);
    if (!sTime)
        return refuse(tr("The STime box must hold a whole number from -32768 to 32767."));

    const std::pair<QLineEdit *, QString> texts[] = {
        {m_ui.txtSet1[2], QStringLiteral("Baud")},
        {m_ui.txtSet1[3], QStringLiteral("DevPas")},
        {m_ui.txtSet1[5], QStringLiteral("ucApp")},
        {m_ui.txtTempName[1], QStringLiteral("MyLabel1")},
        {m_ui.txtTempName[2], QStringLiteral("MyLabel2")},
    };
    for (const auto &[box, name] : texts) {
        const QString t = box->text();
        if (t.contains(QLatin1Char('"')) || t.contains(QLatin1Char('\r')) || t.contains(QLatin1Char('\n')))
            return refuse(tr("The %1 box cannot hold a double quote or a line break.").arg(name));
        if (!EightBitText::representable(t))
            return refuse(tr("The %1 box holds a character the settings file cannot store.").arg(name));
    }

    StoredSettings v;
    v.comPort = *comPort;
    v.baud = m_ui.txtSet1[2]->text();
    v.devPass = m_ui.txtSet1[3]->text();
    v.sTime = *sTime;
    v.ucApp = m_ui.txtSet1[5]->text();
    v.userLabel1 = m_ui.txtTempName[1]->text();
    v.userLabel2 = m_ui.txtTempName[2]->text();

    QString error;
    if (!SettingsFile::save(m_state.IniPath, SettingsFile::compose(v), &error))
        return refuse(tr("The settings file %1 could not be written: %2").arg(m_state.IniPath, error));

    State &s = m_state;
    s.ComPort = v.comPort;
    s.Baud = v.baud;
    s.DevPass = v.devPass;
    s.STime = v.sTime;
    s.UcApp = v.ucApp;
    s.UserLabels[1] = v.userLabel1;
    s.UserLabels[2] = v.userLabel2;
    StartConnection();
    return true;
}

void MainWindow::cmdSet_Click()
{
    m_ui.frmSet->show();
    updateReachable();
    m_stTimer.setEnabled(false);
}

void MainWindow::cmdExit_Click()
{
    if (SaveSettings()) {
        m_ui.frmSet->hide();
        updateReachable();
    }
}
