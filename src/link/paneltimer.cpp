#include "paneltimer.h"

PanelTimer::PanelTimer(const QString &name, std::chrono::milliseconds interval, QObject *owner,
                       std::function<void()> onTick)
{
    m_timer.setObjectName(name);
    m_timer.setInterval(interval);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, owner, std::move(onTick));
}

void PanelTimer::setEnabled(bool on)
{
    if (!on)
        m_timer.stop();
    else if (!m_timer.isActive())
        m_timer.start();
}
