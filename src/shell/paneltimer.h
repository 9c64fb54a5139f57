#pragma once

#include <QTimer>
#include <chrono>

// A timer that behaves as the window's timers must: its first tick comes one interval after
// it is enabled, and enabling it while it runs does not restart its count (QTimer::start
// would). The interval is fixed at construction.
class PanelTimer : public QTimer
{
    Q_OBJECT
public:
    PanelTimer(const QString &name, std::chrono::milliseconds interval, QObject *parent);

    void setEnabled(bool on);
    bool isEnabled() const { return isActive(); }
};
