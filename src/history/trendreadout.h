#pragma once

#include "trendplot.h"

#include <QStringList>

#include <optional>

// What the trend holds at one moment, as the readout under the cursor gives it: for a process
// value the reading nearest in time (of two equally near, the earlier), for a setting the one
// in force then (the last report at or before it; none before the first). Hidden series are
// left out.
struct TrendReadout {
    qint64 at = 0;
    std::array<std::optional<double>, TrendPlot::CurveCount> values;

    static TrendReadout of(const Trend &trend, qint64 at, const TrendPlot::Hidden &hidden);

    static std::optional<Trend::Point> nearest(const Trend &trend, Trend::Series series, qint64 at);
    static std::optional<Trend::Point> inForce(const Trend &trend, Trend::Series series, qint64 at);
    // The time of the next report of a shown series after `at` (`forward`) or before it, within
    // `range`; nothing when there is none.
    static std::optional<qint64> step(const Trend &trend, qint64 at, bool forward, const TrendPlot::Hidden &hidden,
                                      TrendTimeline::Range range);

    // The time as the history's table shows it (with milliseconds), then each shown series'
    // name and value ("-" for none), a line each.
    QStringList lines(const TrendPlot::Hidden &hidden) const;
    // The same on one line, for a screen reader.
    QString text(const TrendPlot::Hidden &hidden) const;
};
