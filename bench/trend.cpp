// Drawing the history window's trend: four full series (36,000 values each, an hour at ten a
// second), at each span and zoomed to 10 s inside them, beside the same with 100 values.
#include "measure.h"
#include "scenarios.h"

#include "history/trendplot.h"
#include "ui/historywindow.h"
#include "ui/trendview.h"

#include <QImage>

#include <random>

namespace {

constexpr double TargetMs = 40; // a draw every 500 ms then costs at most 8 % of a core
constexpr int Draws = 15;

// `count` values in each series, `gapMs` apart, ending at `end`: process values wandering,
// the setpoints changed at every report.
Trend fullTrend(qsizetype count, qint64 gapMs, qint64 end)
{
    Trend trend;
    std::minstd_rand rng(33);
    double pv1 = 50, pv2 = 20;
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 at = end - (count - 1 - i) * gapMs;
        pv1 += double(int(rng() % 201) - 100) / 100;
        pv2 += double(int(rng() % 201) - 100) / 100;
        trend.add(Trend::ProcessValue1, at, pv1);
        trend.add(Trend::ProcessValue2, at, pv2);
        trend.add(Trend::Setpoint1, at, double(rng() % 101));
        trend.add(Trend::Setpoint2, at + gapMs / 2, double(rng() % 101));
    }
    return trend;
}

// The median time to work out the plot and paint it, as the window does, in milliseconds.
double drawMs(const Trend &trend, TrendTimeline::Range range)
{
    TrendView view;
    view.resize(748, 300);
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> times;
    for (int i = 0; i < Draws; ++i) {
        const Clock::time_point start = Clock::now();
        view.setPlot(TrendPlot::of(trend, TrendPlot::View{range, {}, {}}, HistoryWindow::TrendPointsShown,
                                   HistoryWindow::TrendMarkersUpTo));
        view.render(&image);
        times.push_back(msBetween(start, Clock::now()));
    }
    return percentile(times, 50);
}

} // namespace

Rows benchTrend()
{
    constexpr qint64 End = 1'800'000'000'000; // any time will do
    const Trend full = fullTrend(Trend::DefaultPoints, 100, End);
    const Trend few = fullTrend(100, 36'000, End);
    const TrendTimeline::Range kept = *TrendPlot::kept(full);
    const QString target = QStringLiteral("<= %1 ms").arg(TargetMs);

    const double small = drawMs(few, *TrendPlot::kept(few));
    Rows rows{{QStringLiteral("Trend drawn, 4 series of 100 values, 1 h"), QStringLiteral("%1 ms").arg(fixed(small, 2)),
               {}, Row::Verdict::Info}};
    const struct {
        const char *name;
        TrendTimeline::Span span;
    } spans[] = {{"1 min", TrendTimeline::OneMinute}, {"10 min", TrendTimeline::TenMinutes},
                 {"1 h", TrendTimeline::OneHour}, {"all kept", TrendTimeline::AllKept}};
    for (const auto &s : spans) {
        TrendTimeline timeline;
        timeline.setSpan(s.span);
        const double ms = drawMs(full, timeline.range(kept.from, kept.to));
        rows.push_back({QStringLiteral("Trend drawn, 4 series of 36,000 values, %1").arg(QLatin1String(s.name)),
                        QStringLiteral("%1 ms").arg(fixed(ms, 2)), target, Row::check(ms <= TargetMs)});
    }
    const qint64 middle = kept.from + kept.width() / 2;
    const double zoomed = drawMs(full, {middle - 5'000, middle + 5'000});
    rows.push_back({QStringLiteral("Trend drawn, 4 series of 36,000 values, zoomed to 10 s"),
                    QStringLiteral("%1 ms").arg(fixed(zoomed, 2)), target, Row::check(zoomed <= TargetMs)});
    return rows;
}
