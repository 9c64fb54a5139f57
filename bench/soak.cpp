// Long runs: the panel against a board that never stops talking, watching resident memory and
// CPU over time; and a fixed number of frequency highlight changes, each one painted.
#include "benchpanel.h"
#include "measure.h"
#include "scenarios.h"

#include "history/recorder.h"
#include "pwm/frequencyselector.h"

#include <QEvent>
#include <QFileInfo>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <random>

namespace {

using namespace std::chrono_literals;

constexpr double TargetGrowthMB = 2.0;

double mb(qint64 bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

// Mixed reply lines with values 0 to 9, as a chatty board sends them. Now and then the board
// names itself, so that the status line switches between its two colours as well.
class ChattyBoard
{
public:
    QByteArray nextLine()
    {
        const unsigned kind = m_rng() % 64;
        const unsigned value = m_rng() % 10;
        if (kind < 14) {
            const int button = FrequencySelector::highlightedCode(float(value));
            if (button != m_highlighted) {
                m_highlighted = button;
                ++m_highlightChanges;
            }
            return "SV01=" + QByteArray::number(value);
        }
        if (kind < 27)
            return "SV11=" + QByteArray::number(value);
        if (kind < 40)
            return "SV21=" + QByteArray::number(value);
        if (kind < 52)
            return "PV01=" + QByteArray::number(value) + '.' + QByteArray::number(m_rng() % 10);
        if (kind == 52)
            return PtyPeer::BoardName;
        static const char *const text[] = {"OK", "BUSY", "ERR 7", "T=23.5C", "PWM RUNNING",
                                           "HELLO FROM THE BOARD 0123456789"};
        return text[value % std::size(text)];
    }

    qint64 highlightChanges() const { return m_highlightChanges; }

private:
    std::minstd_rand m_rng{20240917};
    int m_highlighted = 3; // what the read-back left shown
    qint64 m_highlightChanges = 0;
};

} // namespace

Rows benchSoak(BenchPanel &panel, const SoakOptions &options)
{
    const QString growthFigure =
        QStringLiteral("Soak %1 s at %2 lines/s, RSS growth after %3 s warm-up")
            .arg(options.seconds).arg(options.rate).arg(options.warmupSeconds);
    const QString growthTarget = QStringLiteral("<= %1 MB").arg(fixed(TargetGrowthMB, 0));
    if (!panel.waitConnected())
        return {{growthFigure, QStringLiteral("board not found"), growthTarget, Row::Verdict::Miss}};

    std::unique_ptr<Recorder> recorder;
    if (options.history) {
        recorder = std::make_unique<Recorder>(panel.dir.filePath(QStringLiteral("soak.csv")));
        if (!recorder->open())
            return {{growthFigure, QStringLiteral("cannot record"), growthTarget, Row::Verdict::Miss}};
        panel.panel->history.setRecorder(recorder.get());
        panel.panel->showHistory();
    }

    qint64 handled = 0;
    const QMetaObject::Connection counting =
        QObject::connect(&panel.session(), &Session::replyHandled, [&handled] { ++handled; });

    // The board writes on this thread, between the panel's own work, in small batches that
    // keep the average rate however late a tick comes.
    ChattyBoard board;
    qint64 sent = 0;
    bool writeFailed = false;
    const Clock::time_point start = Clock::now();
    QTimer writer;
    writer.setTimerType(Qt::PreciseTimer);
    writer.setInterval(10ms);
    QObject::connect(&writer, &QTimer::timeout, [&] {
        const double elapsedS = msBetween(start, Clock::now()) / 1e3;
        const qint64 due = qint64(elapsedS * options.rate) - sent;
        QByteArray batch;
        for (qint64 k = 0; k < due; ++k)
            batch += board.nextLine() + '\r';
        if (batch.isEmpty())
            return;
        if (!PtyPeer::writeAll(panel.peer->masterFd(), batch.constData(), batch.size()))
            writeFailed = true;
        sent += due;
    });

    std::printf("%8s | %9s | %10s | %14s | %10s | %11s\n", "time (s)", "RSS (MB)", "since w-up",
                "CPU (% core)", "lines", "highlights");
    std::fflush(stdout);
    double cpuBefore = processCpuMs();
    Clock::time_point tickBefore = start;
    qint64 warmRss = 0;      // at the end of the warm-up
    qint64 maxAfterWarm = 0; // the highest sample after it
    const double cpuStart = cpuBefore;

    writer.start();
    for (int t = options.interval; t <= options.seconds; t += options.interval) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + std::chrono::seconds(t) - Clock::now());
        runEvents(std::max(left, 0ms));
        const Clock::time_point now = Clock::now();
        const double cpu = processCpuMs();
        const qint64 rss = residentBytes();
        const double share = 100.0 * (cpu - cpuBefore) / msBetween(tickBefore, now);
        if (warmRss == 0 && t >= options.warmupSeconds)
            warmRss = rss; // the reference the growth is counted from
        else if (warmRss != 0)
            maxAfterWarm = std::max(maxAfterWarm, rss);
        const QString sinceWarm = warmRss ? QStringLiteral("%1%2").arg(rss >= warmRss ? "+" : "").arg(fixed(mb(rss - warmRss), 2))
                                          : QStringLiteral("-");
        std::printf("%8d | %9.1f | %10s | %14.1f | %10lld | %11lld\n", t, mb(rss), qPrintable(sinceWarm), share,
                    static_cast<long long>(handled), static_cast<long long>(board.highlightChanges()));
        std::fflush(stdout);
        cpuBefore = cpu;
        tickBefore = now;
    }
    writer.stop();
    const double cpuTotalMs = processCpuMs() - cpuStart;
    const double wallS = msBetween(start, Clock::now()) / 1e3;
    runEvents(300ms); // the last batch
    QObject::disconnect(counting);
    const HistoryRing &ring = panel.panel->history.ring();
    const qint64 recorded = recorder ? QFileInfo(recorder->path()).size() : 0;
    panel.panel->history.setRecorder(nullptr);

    const double growth = maxAfterWarm ? mb(maxAfterWarm - warmRss) : 0;
    const bool kept = !writeFailed && handled >= sent * 99 / 100;
    const double perLineUs = handled ? cpuTotalMs * 1e3 / double(handled) : 0;

    return {{growthFigure,
             maxAfterWarm ? QStringLiteral("%1 MB (%2 MB at warm-up, %3 MB at most after)")
                           .arg(fixed(growth, 2), fixed(mb(warmRss), 1), fixed(mb(maxAfterWarm), 1))
                     : QStringLiteral("run shorter than the warm-up"),
             growthTarget, Row::check(maxAfterWarm && kept && growth <= TargetGrowthMB)},
            {QStringLiteral("  lines handled, highlight changes"),
             QStringLiteral("%1 handled of %2 sent (and answers)%3, %4 highlight changes")
                 .arg(handled).arg(sent).arg(writeFailed ? QStringLiteral(" (a write failed)") : QString())
                 .arg(board.highlightChanges()),
             QStringLiteral("all lines"), Row::check(kept)},
            {QStringLiteral("  CPU over the soak"),
             QStringLiteral("%1 % of a core, %2 us a line").arg(fixed(100.0 * cpuTotalMs / (wallS * 1e3), 1), fixed(perLineUs, 0)),
             {}, Row::Verdict::Info},
            {QStringLiteral("  history kept, recorded"),
             options.history ? QStringLiteral("%1 of %2 lines (%3 kB of text) kept; %4 MB recorded, %5")
                                   .arg(ring.size()).arg(ring.maxEntries()).arg(ring.textBytes() / 1024)
                                   .arg(fixed(mb(recorded), 1))
                                   .arg(recorder->isRecording() ? QStringLiteral("still recording") : QStringLiteral("recording failed"))
                             : QStringLiteral("history window closed, no recording"),
             {}, options.history && !recorder->isRecording() ? Row::Verdict::Miss : Row::Verdict::Info}};
}

Rows benchHighlight(BenchPanel &panel, int changes)
{
    const QString figure = QStringLiteral("RSS growth over %1 painted highlight changes").arg(changes);
    const QString target = QStringLiteral("<= %1 MB").arg(fixed(TargetGrowthMB, 0));
    if (!panel.waitConnected())
        return {{figure, QStringLiteral("board not found"), target, Row::Verdict::Miss}};
    panel.peer->setAnswering(false);
    const MainWindow::Ui &ui = panel.ui();

    // Each change is written as one line and waited for until both buttons whose face it
    // changes have been painted: every change costs a repaint, as when the board reports
    // now and then.
    PaintWatch watch;
    bool waitingFor[8] = {};
    int pending = 0;
    QEventLoop *loop = nullptr;
    watch.onPaint = [&](QObject *w) {
        for (int n = 1; n <= 7; ++n) {
            if (ui.cmdFpwm[n] == w && waitingFor[n]) {
                waitingFor[n] = false;
                if (--pending == 0 && loop)
                    loop->quit();
            }
        }
    };
    for (int n = 1; n <= 7; ++n)
        ui.cmdFpwm[n]->installEventFilter(&watch);

    int highlighted = 3; // what the read-back left shown
    int painted = 0;
    QTimer timeout; // one timer for all the waits: the bench must not grow by itself
    timeout.setSingleShot(true);
    timeout.setInterval(2s);
    std::minstd_rand rng(99);
    const auto change = [&] {
        int next;
        do
            next = int(rng() % 8); // 0: none highlighted
        while (next == highlighted);
        for (int n : {highlighted, next})
            if (n != 0 && !waitingFor[n]) {
                waitingFor[n] = true;
                ++pending;
            }
        highlighted = next;
        const QByteArray line = "SV01=" + QByteArray::number(next) + '\r';
        if (!PtyPeer::writeAll(panel.peer->masterFd(), line.constData(), line.size()))
            return false;
        QEventLoop wait;
        loop = &wait;
        const QMetaObject::Connection giveUp = QObject::connect(&timeout, &QTimer::timeout, &wait, &QEventLoop::quit);
        timeout.start();
        if (pending > 0)
            wait.exec();
        timeout.stop();
        QObject::disconnect(giveUp);
        loop = nullptr;
        if (pending > 0)
            return false;
        ++painted;
        return true;
    };

    // Warm-up: every button highlighted and plain several times over.
    const int warmup = 1000;
    bool ok = true;
    for (int k = 0; k < warmup && ok; ++k)
        ok = change();
    runEvents(200ms);
    const qint64 before = residentBytes();
    const double cpu0 = processCpuMs();
    const Clock::time_point t0 = Clock::now();
    painted = 0;
    for (int k = 0; k < changes && ok; ++k)
        ok = change();
    const double wallMs = msBetween(t0, Clock::now());
    const double cpuMs = processCpuMs() - cpu0;
    runEvents(200ms);
    const qint64 after = residentBytes();
    for (int n = 1; n <= 7; ++n)
        ui.cmdFpwm[n]->removeEventFilter(&watch);
    panel.peer->setAnswering(true);

    const double growth = mb(after - before);
    return {{figure,
             QStringLiteral("%1 MB (%2 -> %3 MB%4)")
                 .arg(fixed(growth, 2), fixed(mb(before), 1), fixed(mb(after), 1))
                 .arg(ok ? QString() : QStringLiteral(", only %1 painted").arg(painted)),
             target, Row::check(ok && growth <= TargetGrowthMB)},
            {QStringLiteral("  time and CPU a painted change"),
             QStringLiteral("%1 ms, %2 ms CPU").arg(fixed(wallMs / std::max(painted, 1), 3), fixed(cpuMs / std::max(painted, 1), 3)),
             {}, Row::Verdict::Info}};
}
