// The frequency buttons and the lock that guards them.
#include "shell/mainwindow.h"

#include <QGroupBox>
#include <QPushButton>

void MainWindow::cmdFpwm_Click(int code)
{
    sendCommand(QStringLiteral("SV01=") + QString::number(code));
}

void MainWindow::cmdEnableFreq_Click()
{
    const bool unlock = !m_ui.FrameF1->isEnabled();
    m_ui.FrameF1->setEnabled(unlock);
    m_ui.cmdEnableFreq->setText(unlock ? QStringLiteral("Disable Set Pwm Freq.")
                                       : QStringLiteral("Enable Set Pwm Freq."));
    m_ui.cmdEnableFreq->setAccessibleName(unlock ? tr("Lock the frequency buttons")
                                                 : tr("Unlock the frequency buttons"));
}
