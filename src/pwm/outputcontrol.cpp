// The two outputs' duty controls: three presets and a typed setpoint each.
#include "shell/mainwindow.h"

#include "wholenumber.h"

#include <QLineEdit>

namespace {

QString setCommand(int index)
{
    return index == 1 ? QStringLiteral("SV11=") : QStringLiteral("SV21=");
}

} // namespace

void MainWindow::presetClick(int index, int percent)
{
    sendCommand(setCommand(index) + QString::number(percent));
    sendCommand(index == 1 ? QStringLiteral("PV01?") : QStringLiteral("PV02?"));
}

void MainWindow::cmdSend1_Click(int index)
{
    QLineEdit *box = m_ui.txtSV1[index];
    const auto value = WholeNumber::toInt16(box->text(), WholeNumber::systemDecimal());
    if (!value) {
        box->setText(QStringLiteral("error"));
        return;
    }
    m_state.SetpointValue = *value;
    if (m_state.SetpointValue < 0 || m_state.SetpointValue > 100) {
        box->setText(QStringLiteral("error"));
        return;
    }
    sendCommand(setCommand(index) + QString::number(m_state.SetpointValue));
}
