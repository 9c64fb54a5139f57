#include "pacingwait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

void PacingWait::run(std::chrono::milliseconds interval)
{
    using namespace std::chrono;
    QElapsedTimer clock;
    clock.start();
    const qint64 endNs = duration_cast<nanoseconds>(interval).count();
    QEventLoop loop;
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wake, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Events run at least once; we return at the first check that is past the end.
    do {
        const qint64 leftMs = (endNs - clock.nsecsElapsed() + 999999) / 1000000;
        wake.start(int(std::max<qint64>(leftMs, 1)));
        loop.exec();
    } while (clock.nsecsElapsed() <= endNs);
}
