// Receiving: a flood of reply lines with a heartbeat timer alongside, and single replies timed
// from the board's write to the label showing the value.
#include "benchpanel.h"
#include "measure.h"
#include "scenarios.h"

#include "ui/colors.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr double TargetMBps = 1.0;
constexpr double TargetHeartbeatP99Ms = 20;
constexpr double TargetLatencyP99Ms = 5;

// A stream of reply lines as a busy board might send them, and what it must leave shown.
struct Flood {
    QByteArray bytes;
    qsizetype lines = 0;
    QString lastSv11;  // the last "SV11=" value, as lblDis1[1] must show it
    QString lastSv21;
    int lastSv01 = 3;   // the frequency button that must end up highlighted
    QString marker;     // the final line, which must arrive whole
};

Flood makeFlood(qsizetype size)
{
    static const char *const other[] = {"OK", "BUSY", "ERR 7", "T=23.5C", "PWM RUNNING",
                                        "HELLO FROM THE BOARD 0123456789"};
    std::minstd_rand rng(20240611);
    Flood f;
    f.bytes.reserve(size + 64);
    while (f.bytes.size() < size) {
        const unsigned kind = rng() % 6;
        const unsigned value = rng() % 101;
        QByteArray line;
        switch (kind) {
        case 0:
            f.lastSv01 = int(value % 7 + 1);
            line = "SV01=" + QByteArray::number(f.lastSv01);
            break;
        case 1:
            line = "SV11=" + QByteArray::number(value);
            f.lastSv11 = QString::number(value);
            break;
        case 2:
            line = "SV21=" + QByteArray::number(value);
            f.lastSv21 = QString::number(value);
            break;
        case 3:
        case 4:
            line = (kind == 3 ? "PV01=" : "PV02=") + QByteArray::number(value / 2) + '.'
                   + QByteArray::number(value % 10);
            break;
        default:
            line = other[value % std::size(other)];
            break;
        }
        // Mostly CR, sometimes CR LF, as boards differ.
        f.bytes += line + (rng() % 8 == 0 ? "\r\n" : "\r");
        ++f.lines;
    }
    f.marker = QStringLiteral("END OF FLOOD %1").arg(f.lines + 1);
    f.bytes += f.marker.toLatin1() + '\r';
    ++f.lines;
    return f;
}

// The one highlighted frequency button, 0 for none, -1 for several.
int highlightedButton(const MainWindow::Ui &ui)
{
    const QColor highlight = Colors::resolve(Colors::Highlight, QApplication::palette());
    int found = 0;
    for (int n = 1; n <= 7; ++n)
        if (ui.cmdFpwm[n]->palette().color(QPalette::Button) == highlight)
            found = found ? -1 : n;
    return found;
}

} // namespace

Rows benchFlood(BenchPanel &panel, bool connected, qsizetype size)
{
    const QString mbTarget = QStringLiteral(">= 1 MB/s");
    if (!connected)
        return {{QStringLiteral("Receive throughput"), QStringLiteral("board not found"), mbTarget, Row::Verdict::Miss}};

    const Flood flood = makeFlood(size);
    panel.peer->setAnswering(false);
    const MainWindow::Ui &ui = panel.ui();

    qsizetype handled = 0;
    qsizetype unhandled = 0; // lines the panel showed as "???"
    Clock::time_point lastHandled;
    QEventLoop loop;
    const QMetaObject::Connection counting = QObject::connect(&panel.session(), &Session::replyHandled, [&] {
        ++handled;
        if (panel.session().statusText() == u"???")
            ++unhandled;
        if (handled == flood.lines) {
            lastHandled = Clock::now();
            loop.quit();
        }
    });

    // The heartbeat: how late each 10 ms tick comes while the lines pour in. Each tick is due
    // one interval after the previous due time, or after the tick itself when that has
    // already passed, as Qt schedules a repeating timer.
    std::vector<double> lateness;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(10ms);
    Clock::time_point due;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        lateness.push_back(std::max(0.0, msBetween(due, now)));
        due += 10ms;
        if (due < now)
            due = now + 10ms;
    });

    std::atomic<bool> written{false};
    const Clock::time_point start = Clock::now();
    due = start + 10ms;
    heartbeat.start();
    std::thread writer([&] {
        written = PtyPeer::writeAll(panel.peer->masterFd(), flood.bytes.constData(), flood.bytes.size());
        if (!written) // the panel stopped reading: no use waiting for the rest
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    QTimer::singleShot(120s, &loop, &QEventLoop::quit);
    loop.exec();
    heartbeat.stop();
    writer.join();
    const double elapsedMs = msBetween(start, lastHandled);
    const bool finished = handled == flood.lines;

    // Anything split in two would show up as extra lines now.
    runEvents(300ms);
    QObject::disconnect(counting);
    panel.peer->setAnswering(true);

    const QString status = ui.lblStatus->text();
    const bool markerWhole = status.endsWith(QStringLiteral("COM data: ") + flood.marker);
    const bool labelsRight = ui.lblDis1[1]->text() == flood.lastSv11 && ui.lblDis1[2]->text() == flood.lastSv21
                             && highlightedButton(ui) == flood.lastSv01;
    const bool intact = finished && written && handled == flood.lines && unhandled == 0 && markerWhole && labelsRight;

    const double mb = double(flood.bytes.size()) / 1e6;
    const double mbps = finished ? mb / (elapsedMs / 1e3) : 0;
    const double linesPerS = finished ? double(flood.lines) / (elapsedMs / 1e3) : 0;
    const double p99 = percentile(lateness, 99);
    const double worst = percentile(lateness, 100);

    QString integrity = QStringLiteral("%1 of %2 lines, %3 \"???\"").arg(handled).arg(flood.lines).arg(unhandled);
    integrity += markerWhole ? QStringLiteral(", last line whole") : QStringLiteral(", last line NOT whole");
    if (!labelsRight)
        integrity += QStringLiteral(", labels wrong");

    return {{QStringLiteral("Receive throughput, %1 MB of reply lines").arg(fixed(mb, 1)),
             finished ? QStringLiteral("%1 MB/s, %2 lines/s").arg(fixed(mbps, 2), fixed(linesPerS, 0))
                      : QStringLiteral("unfinished (%1 of %2 lines)").arg(handled).arg(flood.lines),
             mbTarget, Row::check(finished && mbps >= TargetMBps)},
            {QStringLiteral("  every line dispatched once, none split"), integrity,
             QStringLiteral("all, whole"), Row::check(intact)},
            {QStringLiteral("Heartbeat 10 ms during flood, lateness p99"), QStringLiteral("%1 ms").arg(fixed(p99, 2)),
             QStringLiteral("<= 20 ms"), Row::check(!lateness.empty() && p99 <= TargetHeartbeatP99Ms)},
            {QStringLiteral("Heartbeat 10 ms during flood, lateness max"),
             QStringLiteral("%1 ms (%2 ticks)").arg(fixed(worst, 2)).arg(lateness.size()), {}, Row::Verdict::Info}};
}

Rows benchLatency(BenchPanel &panel, bool connected, int replies)
{
    const QString target = QStringLiteral("<= 5 ms");
    if (!connected)
        return {{QStringLiteral("Reply latency"), QStringLiteral("board not found"), target, Row::Verdict::Miss}};
    panel.peer->setAnswering(false);
    QLabel *const label = panel.ui().lblDis1[1];

    // The board's thread writes reply k, then waits until the panel has shown and painted it.
    std::vector<Clock::time_point> sent(replies), shown(replies), painted(replies);
    std::vector<bool> wasShown(replies, false), wasPainted(replies, false);
    std::atomic<int> current{-1};
    std::mutex mutex;
    std::condition_variable cv;
    int finishedUpTo = 0; // replies [0, finishedUpTo) are shown and painted; under mutex
    const auto valueOf = [](int k) { return QString::number(k + 1); };

    const QMetaObject::Connection onHandled = QObject::connect(&panel.window(), &MainWindow::pendingShown, [&] {
        const int k = current;
        if (k >= 0 && !wasShown[k] && label->text() == valueOf(k)) {
            shown[k] = Clock::now();
            wasShown[k] = true;
        }
    });
    PaintWatch watch;
    watch.onPaint = [&](QObject *) {
        const int k = current;
        if (k >= 0 && wasShown[k] && !wasPainted[k]) {
            painted[k] = Clock::now();
            wasPainted[k] = true;
            std::lock_guard lock(mutex);
            finishedUpTo = k + 1;
            cv.notify_one();
        }
    };
    label->installEventFilter(&watch);

    std::atomic<bool> writerDone{false};
    std::thread writer([&] {
        std::minstd_rand rng(7);
        for (int k = 0; k < replies; ++k) {
            // Replies come at uneven moments, never in step with the panel's timers.
            std::this_thread::sleep_for(std::chrono::microseconds(500 + rng() % 1500));
            const QByteArray line = "SV11=" + valueOf(k).toLatin1() + '\r';
            current = k;
            sent[k] = Clock::now();
            if (!PtyPeer::writeAll(panel.peer->masterFd(), line.constData(), line.size()))
                break;
            std::unique_lock lock(mutex);
            if (!cv.wait_for(lock, 1s, [&] { return finishedUpTo > k; }))
                break; // never shown: the count below tells
        }
        writerDone = true;
    });
    waitUntil([&] { return writerDone.load(); }, std::chrono::milliseconds(replies * 20 + 5000));
    writer.join();
    runEvents(50ms);
    label->removeEventFilter(&watch);
    QObject::disconnect(onHandled);
    panel.peer->setAnswering(true);

    std::vector<double> toShown, toPainted;
    for (int k = 0; k < replies; ++k) {
        if (wasShown[k])
            toShown.push_back(msBetween(sent[k], shown[k]));
        if (wasPainted[k])
            toPainted.push_back(msBetween(sent[k], painted[k]));
    }
    const bool all = int(toShown.size()) == replies && int(toPainted.size()) == replies;
    const double p50 = percentile(toShown, 50);
    const double p99 = percentile(toShown, 99);
    const QString count = all ? QString() : QStringLiteral(", only %1 of %2").arg(toPainted.size()).arg(replies);

    return {{QStringLiteral("Reply latency, write to label set, p50"), QStringLiteral("%1 ms").arg(fixed(p50, 3)), {},
             Row::Verdict::Info},
            {QStringLiteral("Reply latency, write to label set, p99"),
             QStringLiteral("%1 ms (%2 replies%3)").arg(fixed(p99, 3)).arg(replies).arg(count), target,
             Row::check(all && p99 <= TargetLatencyP99Ms)},
            {QStringLiteral("Reply latency, write to label painted, p99"),
             QStringLiteral("%1 ms (p50 %2 ms)").arg(fixed(percentile(toPainted, 99), 3), fixed(percentile(toPainted, 50), 3)),
             target, Row::check(all && percentile(toPainted, 99) <= TargetLatencyP99Ms)}};
}
