// Sending a command and the pause after it.
#include "shell/dialogs.h"
#include "shell/mainwindow.h"

#include "pacingwait.h"
#include "serialcontrol.h"

void MainWindow::sendCommand(const QString &text)
{
    m_state.PendingCommand = text;
    cmdUPort_Click();
    cmdKasnjenje_Click();
}

// Writes PendingCommand and one CR in a single write. A failed write asks whether to go on:
// Yes closes the port and starts the connection over, No ends the program at once.
void MainWindow::cmdUPort_Click()
{
    const QByteArray bytes = (m_state.PendingCommand + QLatin1Char('\r')).toLatin1();
    m_lastWriter = Writer::Sender;
    if (m_serial.output(bytes) != SerialCode::Ok)
        transmissionFailed();
}

// A command did not reach the board, now or when the device refused it later. Never a
// status text: the operator is asked whether to go on.
void MainWindow::transmissionFailed()
{
    if (m_dialogs.noResponse(this) == Dialogs::Answer::Yes) {
        if (m_serial.portOpen())
            m_serial.setPortOpen(false);
        m_stTimer.setEnabled(false);
        setFormEnabled(true);
        StartConnection();
        return;
    }
    if (m_serial.portOpen())
        m_serial.setPortOpen(false); // release the device and its lock before leaving
    m_dialogs.endProgram();
}

void MainWindow::cmdKasnjenje_Click()
{
    PacingWait::run();
}
