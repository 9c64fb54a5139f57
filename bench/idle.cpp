// Idle cost: connected, polling every STime + 1 seconds, nothing else happening.
#include "benchpanel.h"
#include "measure.h"
#include "scenarios.h"

namespace {
constexpr double TargetCpuPercent = 0.5;
constexpr double TargetRssMB = 40;
} // namespace

Rows benchIdle(BenchPanel &panel, std::chrono::milliseconds span)
{
    const QString cpuFigure = QStringLiteral("Idle CPU, connected and polling (%1 s)").arg(span.count() / 1000);
    const QString rssFigure = QStringLiteral("Resident memory after start (VmRSS)");
    if (!panel.waitConnected())
        return {{cpuFigure, QStringLiteral("board not found"), QStringLiteral("<= 0.5 % of a core"), Row::Verdict::Miss},
                {rssFigure, QStringLiteral("board not found"), QStringLiteral("<= 40 MB"), Row::Verdict::Miss}};

    const int polls0 = panel.peer->received("PV01?");
    const double cpu0 = processCpuMs();
    const Clock::time_point wall0 = Clock::now();
    runEvents(span);
    const double cpuMs = processCpuMs() - cpu0;
    const double wallMs = msBetween(wall0, Clock::now());
    const int polls = panel.peer->received("PV01?") - polls0;
    const double share = 100.0 * cpuMs / wallMs;
    const double rssMB = double(residentBytes()) / 1e6;

    return {{cpuFigure,
             QStringLiteral("%1 % of a core (%2 ms CPU, %3 polls)").arg(fixed(share, 3), fixed(cpuMs, 0)).arg(polls),
             QStringLiteral("<= 0.5 % of a core"), Row::check(share <= TargetCpuPercent && polls > 0)},
            {rssFigure, QStringLiteral("%1 MB").arg(fixed(rssMB, 1)), QStringLiteral("<= 40 MB"),
             Row::check(rssMB > 0 && rssMB <= TargetRssMB)}};
}
