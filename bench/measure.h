#pragma once

#include <QEvent>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <vector>

using Clock = std::chrono::steady_clock;

// Milliseconds between two instants, as a fraction.
double msBetween(Clock::time_point from, Clock::time_point to);

// CPU time of the whole process (all threads, user and system) in milliseconds.
double processCpuMs();

// The process's resident set (VmRSS) in bytes; 0 when it cannot be read.
qint64 residentBytes();

// Nearest-rank percentile (p in 0..100) of the samples; 0 for none.
double percentile(std::vector<double> samples, double p);

// Runs the event loop until `done` holds or `timeout` passes; true when `done` held.
// `done` is checked every few milliseconds and after each nested return.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout);

// Runs the event loop for `span`.
void runEvents(std::chrono::milliseconds span);

// "12.3" with the given number of decimals.
QString fixed(double value, int decimals = 1);

// Installed as an event filter: calls `onPaint` with each widget it watches as it paints.
class PaintWatch : public QObject
{
public:
    std::function<void(QObject *)> onPaint;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && onPaint)
            onPaint(watched);
        return QObject::eventFilter(watched, event);
    }
};
