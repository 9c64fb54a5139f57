// The pause after each command, against a busy loop of the same length.
#include "measure.h"
#include "scenarios.h"

#include "link/pacingwait.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

struct Sample {
    double wallMs;
    double cpuMs;
};

template<class F>
std::vector<Sample> timeRuns(int runs, F &&f)
{
    std::vector<Sample> out;
    for (int i = 0; i < runs; ++i) {
        const double cpu0 = processCpuMs();
        const Clock::time_point t0 = Clock::now();
        f();
        out.push_back({msBetween(t0, Clock::now()), processCpuMs() - cpu0});
    }
    return out;
}

// A 50 ms wait written the naive way: spin on processEvents until the time is up.
void busyWait()
{
    const Clock::time_point end = Clock::now() + PacingWait::Interval;
    while (Clock::now() < end)
        QCoreApplication::processEvents();
}

} // namespace

Rows benchPacing(int waits)
{
    const std::vector<Sample> paced = timeRuns(waits, [] { PacingWait::run(); });
    const std::vector<Sample> busy = timeRuns(10, busyWait);

    std::vector<double> wall, cpu, busyCpu;
    for (const Sample &s : paced) {
        wall.push_back(s.wallMs);
        cpu.push_back(s.cpuMs);
    }
    for (const Sample &s : busy)
        busyCpu.push_back(s.cpuMs);
    const double lo = *std::min_element(wall.begin(), wall.end());
    const double hi = *std::max_element(wall.begin(), wall.end());
    const double median = percentile(wall, 50);
    double cpuTotal = 0;
    for (double c : cpu)
        cpuTotal += c;
    const double cpuPerWait = cpuTotal / double(cpu.size());
    const QString n = QString::number(waits);

    return {{QStringLiteral("Pacing wait, shortest of %1").arg(n), QStringLiteral("%1 ms").arg(fixed(lo, 2)),
             QStringLiteral(">= 50 ms"), Row::check(lo >= 50.0)},
            {QStringLiteral("Pacing wait, median"), QStringLiteral("%1 ms").arg(fixed(median, 2)),
             QStringLiteral("<= 51 ms"), Row::check(median <= 51.0)},
            {QStringLiteral("Pacing wait, longest"), QStringLiteral("%1 ms").arg(fixed(hi, 2)), {}, Row::Verdict::Info},
            {QStringLiteral("Pacing wait, CPU per wait"), QStringLiteral("%1 ms").arg(fixed(cpuPerWait, 3)),
             QStringLiteral("< 2 ms"), Row::check(cpuPerWait < 2.0)},
            {QStringLiteral("  for comparison: processEvents spin, 50 ms"),
             QStringLiteral("%1 ms CPU per wait").arg(fixed(percentile(busyCpu, 50), 1)), {}, Row::Verdict::Info}};
}
