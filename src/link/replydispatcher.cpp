// Received bytes to reply lines, and what each line does.
#include "shell/colors.h"
#include "shell/mainwindow.h"

#include "eightbittext.h"
#include "replynumber.h"
#include "serialcontrol.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace {

void setButtonFace(QPushButton *b, const QColor &c)
{
    if (b->palette().color(QPalette::Button) == c)
        return;
    QPalette p = b->palette();
    p.setColor(QPalette::Button, c);
    b->setPalette(p);
}

} // namespace

void MainWindow::MSComm1_OnComm()
{
    if (m_serial.commEvent() != SerialControl::EventReceive)
        return;
    const LineAssembler::Sink sink = [this](const LineAssembler::Line &line) { dispatchReply(line); };
    QByteArray chunk = m_serial.input(); // the first read does not look at the count
    for (;;) {
        m_rxLine.feed(chunk, sink);
        if (m_serial.inBufferCount() == 0)
            break;
        chunk = m_serial.input();
    }
}

void MainWindow::dispatchReply(const LineAssembler::Line &line)
{
    m_timerCom.setEnabled(false);
    setStatusColor(Colors::StatusReply);
    bool ok = false;
    try {
        // A line past 32767 characters cannot be handled; its text would be replaced at once.
        if (!line.tooLong) {
            const QString L = EightBitText::decode(line.bytes);
            const State &s = m_state;
            setStatusText(QStringLiteral("COM:") + QString::number(s.ComPort)
                                    + QStringLiteral(" Baud:") + s.Baud
                                    + QStringLiteral(" COM data: ") + L);
            if (L == s.UcApp) {
                m_ui.lblDevCode->setValue(QStringLiteral("Korvendi: uc=") + L + QStringLiteral("  pc=")
                                         + m_exe.baseName);
                setStatusText(QStringLiteral("Found: ") + L);
                m_timer1.setEnabled(false);
                setStatusColor(Colors::StatusFound);
                // An STime of 32767 could never be reached without overflow: no polling.
                if (s.STime > 0 && s.STime < 32767) {
                    m_state.SampleTicks = qint16(s.STime - 1);
                    m_stTimer.setEnabled(true);
                }
                m_state.QueryStep = 0;
                m_timer2.setEnabled(true);
            }
            ok = routeReply(L);
        }
    } catch (...) {
        ok = false;
    }
    if (!ok)
        setStatusText(QStringLiteral("???"));
    emit replyHandled();
}

// Shows "SV01=", "SV11=" and "SV21=" reports; false when the value cannot be stored.
bool MainWindow::routeReply(const QString &line)
{
    const QStringView prefix = QStringView(line).left(5);
    int index = -1;
    if (prefix == u"SV01=")
        index = 0;
    else if (prefix == u"SV11=")
        index = 1;
    else if (prefix == u"SV21=")
        index = 2;
    else
        return true;

    const auto value = ReplyNumber::toSingle(ReplyNumber::read(QStringView(line).mid(5)));
    if (!value)
        return false;
    m_state.DeviceValues[index] = *value;
    if (index == 0)
        showFrequencySelection();
    else
        showReadback(index);
    return true;
}

void MainWindow::showReadback(int index)
{
    m_ui.lblDis1[index]->setValue(ReplyNumber::format(m_state.DeviceValues[index]));
}

void MainWindow::showFrequencySelection()
{
    const QPalette &pal = QApplication::palette();
    const QColor face = Colors::resolve(Colors::ButtonFace, pal);
    const QColor highlight = Colors::resolve(Colors::Highlight, pal);
    const float code = m_state.DeviceValues[0];
    for (int n = 1; n <= 7; ++n)
        setButtonFace(m_ui.cmdFpwm[n], code == float(n) ? highlight : face);
}
