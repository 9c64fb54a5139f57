#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// A timer as the panel's timers behave: its first tick comes one interval after it is
// enabled, and enabling it while it runs does not restart its count. It wraps its QTimer, so
// nothing can restart a running count by calling start(). The interval is fixed.
class PanelTimer
{
public:
    PanelTimer(const QString &name, std::chrono::milliseconds interval, QObject *owner,
               std::function<void()> onTick);

    void setEnabled(bool on);
    bool isEnabled() const { return m_timer.isActive(); }
    std::chrono::milliseconds interval() const { return m_timer.intervalAsDuration(); }
    QString name() const { return m_timer.objectName(); }

private:
    QTimer m_timer;
};
