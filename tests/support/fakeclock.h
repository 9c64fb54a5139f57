#pragma once

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QList>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <limits>

// The event dispatcher of a test program whose timers run on a clock of its own, so that
// nothing waits for the wall clock. advanceTo() moves the clock on and fires each timer that
// falls due on the way, in order; timers due at the same moment fire in the order they were
// started, as a timer started inside another's tick comes due a little later on a real clock.
// An event loop with nothing else to do moves the clock on to the next timer. Posted events
// are delivered as usual; socket notifiers are not watched.
//
// Install it before the application exists: QCoreApplication::setEventDispatcher(new FakeClock).
class FakeClock final : public QAbstractEventDispatcher
{
public:
    using Ms = std::chrono::milliseconds;

    static FakeClock &instance()
    {
        return *static_cast<FakeClock *>(QCoreApplication::eventDispatcher());
    }

    Ms now() const { return Ms(m_now); }
    void advanceTo(Ms when)
    {
        while (fireNext(when.count())) {
        }
        m_now = std::max(m_now, qint64(when.count()));
    }

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override
    {
        m_interrupted = false;
        emit awake();
        QCoreApplication::sendPostedEvents();
        bool fired = false;
        while (!m_interrupted && fireNext(m_now))
            fired = true;
        if (!fired && !m_interrupted && (flags & QEventLoop::WaitForMoreEvents))
            fired = fireNext(std::numeric_limits<qint64>::max());
        return fired;
    }
    void registerSocketNotifier(QSocketNotifier *) override {}
    void unregisterSocketNotifier(QSocketNotifier *) override {}
    void registerTimer(int id, qint64 interval, Qt::TimerType type, QObject *object) override
    {
        m_timers.append({id, interval, type, object, m_now + interval, ++m_started});
    }
    bool unregisterTimer(int id) override
    {
        return m_timers.removeIf([id](const Timer &t) { return t.id == id; }) > 0;
    }
    bool unregisterTimers(QObject *object) override
    {
        return m_timers.removeIf([object](const Timer &t) { return t.object == object; }) > 0;
    }
    QList<TimerInfo> registeredTimers(QObject *object) const override
    {
        QList<TimerInfo> out;
        for (const Timer &t : m_timers)
            if (t.object == object)
                out.append(TimerInfo(t.id, int(t.interval), t.type));
        return out;
    }
    int remainingTime(int id) override
    {
        for (const Timer &t : m_timers)
            if (t.id == id)
                return int(t.due - m_now);
        return -1;
    }
    void wakeUp() override {}
    void interrupt() override { m_interrupted = true; }

private:
    struct Timer {
        int id;
        qint64 interval;
        Qt::TimerType type;
        QObject *object;
        qint64 due;
        quint64 started;
    };

    // Fires the first timer due by `until`; false when there is none.
    bool fireNext(qint64 until)
    {
        const auto next =
            std::min_element(m_timers.begin(), m_timers.end(), [](const Timer &a, const Timer &b) {
                return a.due != b.due ? a.due < b.due : a.started < b.started;
            });
        if (next == m_timers.end() || next->due > until)
            return false;
        m_now = std::max(m_now, next->due);
        next->due = m_now + std::max<qint64>(next->interval, 1); // it may be stopped in its tick
        QTimerEvent tick(next->id);
        QCoreApplication::sendEvent(next->object, &tick);
        return true;
    }

    QList<Timer> m_timers;
    qint64 m_now = 0;
    quint64 m_started = 0;
    bool m_interrupted = false;
};
