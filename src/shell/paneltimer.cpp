#include "paneltimer.h"

PanelTimer::PanelTimer(const QString &name, std::chrono::milliseconds interval, QObject *parent)
    : QTimer(parent)
{
    setObjectName(name);
    setInterval(interval);
    setTimerType(Qt::PreciseTimer);
}

void PanelTimer::setEnabled(bool on)
{
    if (!on)
        stop();
    else if (!isActive())
        start();
}
