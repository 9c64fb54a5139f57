// Port set-up, the search for the board and link errors.
#include "shell/colors.h"
#include "shell/mainwindow.h"

#include "serialcontrol.h"

#include <QLabel>

void MainWindow::Timer1_Timer()
{
    cmdInicijalizacija_Click();
}

void MainWindow::cmdInicijalizacija_Click()
{
    int rc = m_serial.setSettings(m_state.Baud + QStringLiteral(",n,8,1"));
    if (rc == SerialCode::Ok)
        rc = m_serial.setHandshaking(0);
    if (rc != SerialCode::Ok)
        return showPortError(rc);

    setStatus(QStringLiteral("Searching for uc code..."), Colors::StatusWaiting);
    m_timerCom.setEnabled(true);

    if (!m_serial.portOpen())
        rc = m_serial.setPortOpen(true);
    if (rc == SerialCode::Ok)
        rc = m_serial.setDTREnable(false);
    if (rc == SerialCode::Ok)
        rc = m_serial.setRTSEnable(false);
    if (rc == SerialCode::Ok)
        rc = m_serial.setRThreshold(1);
    if (rc == SerialCode::Ok)
        rc = m_serial.setInputLen(1);
    if (rc == SerialCode::Ok) {
        m_lastWriter = Writer::Search;
        rc = m_serial.output(QByteArrayLiteral("I?\r"));
    }
    if (rc != SerialCode::Ok)
        showPortError(rc);
}

void MainWindow::showPortError(int code)
{
    QString text;
    switch (code) {
    case SerialCode::NoSuchPort: text = QStringLiteral("Invalid Port Number!"); break;
    case SerialCode::PortInUse: text = QStringLiteral("Port already open!"); break;
    default: text = QStringLiteral("COM Port comm-error! ") + QString::number(code); break;
    }
    setStatus(text, Colors::StatusError);
}

void MainWindow::TimerCom_Timer()
{
    m_timerCom.setEnabled(false);
    setStatus(QStringLiteral("No response!"), Colors::StatusError);
}

// The device went away while the port was open; the serial layer has closed the port, so
// the next command raises the no-response dialog, and a search still running reopens it.
void MainWindow::linkLost(int code)
{
    showPortError(code);
}

// The device refused bytes after output() had taken them. A command of the operator's gets
// the no-response question as if its write had failed at once; the search, the read-back and
// the polling report it on the status line.
void MainWindow::writeRefused()
{
    if (m_lastWriter == Writer::Sender)
        transmissionFailed();
    else
        showPortError(SerialCode::WriteFailed);
}
