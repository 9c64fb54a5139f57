// Read-back after identification, sample-time polling, and closing the window.
#include "mainwindow.h"

#include "dialogs.h"
#include "link/serialcontrol.h"

#include <QCloseEvent>
#include <QLabel>

// Read-back and polling write straight to the port; a closed port skips the write silently,
// and a device that refuses it is reported on the status line.
void MainWindow::writeDirect(const QString &command)
{
    m_lastWriter = Writer::Direct;
    const int rc = m_serial.output((command + QLatin1Char('\r')).toLatin1());
    if (rc != SerialCode::Ok && rc != SerialCode::PortNotOpen)
        showPortError(rc);
}

void MainWindow::Timer2_Timer()
{
    qint16 &step = m_state.QueryStep;
    if (step < 32767)
        ++step;
    if (step == 1) {
        writeDirect(QStringLiteral("SV01?"));
        cmdKasnjenje_Click();
    }
    if (step == 2) {
        writeDirect(QStringLiteral("SV11?"));
        cmdKasnjenje_Click();
    }
    if (step == 3) {
        writeDirect(QStringLiteral("SV21?"));
        cmdKasnjenje_Click();
        m_timer2.setEnabled(false);
    }
}

void MainWindow::StTimer_Timer()
{
    State &s = m_state;
    setStatusText(QStringLiteral("STime:") + QString::number(s.STime)
                            + QStringLiteral(" STimer:") + QString::number(s.SampleTicks));
    if (s.SampleTicks < 32767)
        ++s.SampleTicks;
    if (s.SampleTicks > s.STime) {
        setFormEnabled(false);
        writeDirect(QStringLiteral("PV01?"));
        cmdKasnjenje_Click();
        setFormEnabled(true);
        s.SampleTicks = 0;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (m_closing)
        return; // the question is already on screen
    m_closing = true;
    const Dialogs::Answer answer = m_dialogs.confirmExit(this);
    m_closing = false;
    if (answer != Dialogs::Answer::Yes)
        return;
    if (m_serial.portOpen())
        m_serial.setPortOpen(false);
    // The timers end with the window.
    for (PanelTimer *t : {&m_timer1, &m_timer2, &m_stTimer, &m_timerCom})
        t->setEnabled(false);
    event->accept();
}
