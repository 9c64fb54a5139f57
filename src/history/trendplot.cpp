#include "trendplot.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr qint64 LeastSpanMs = 60'000; // the time axis is at least a minute across
constexpr double SteadyFactor = 1.5;
constexpr qsizetype SteadyGaps = 4;

// Two gaps between readings that are alike: within half again of each other.
bool alike(qint64 a, qint64 b)
{
    return a <= SteadyFactor * double(b) && b <= SteadyFactor * double(a);
}

// The index of the first point at or after `since`.
qsizetype firstSince(const Trend &trend, Trend::Series series, qint64 since)
{
    qsizetype lo = 0, hi = trend.size(series);
    while (lo < hi) {
        const qsizetype mid = (lo + hi) / 2;
        if (trend.at(series, mid).msecs < since)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// Points [from, to) thinned to about `limit`: each stretch keeps its lowest and highest value,
// in time order.
void appendThinned(QList<QPointF> &out, const Trend &trend, Trend::Series series, qsizetype from, qsizetype to,
                   qsizetype per)
{
    for (qsizetype b = from; b < to; b += per) {
        const qsizetype end = std::min(to, b + per);
        Trend::Point lo = trend.at(series, b), hi = lo;
        for (qsizetype i = b + 1; i < end; ++i) {
            const Trend::Point p = trend.at(series, i);
            if (p.value < lo.value)
                lo = p;
            if (p.value > hi.value)
                hi = p;
        }
        if (lo.value == hi.value && end - b > 1)
            hi = trend.at(series, end - 1); // a flat stretch keeps its length
        out.append(QPointF(double(lo.msecs), lo.value));
        if (hi.msecs != lo.msecs) {
            const QPointF h(double(hi.msecs), hi.value);
            if (hi.msecs < lo.msecs)
                out.insert(out.size() - 1, h);
            else
                out.append(h);
        }
    }
}

// Measured values: lines along steady runs of readings, marks for values on their own (and
// for all of them where they are few). Readings are steady where at least SteadyGaps gaps in a
// row are each like the next, as polling gives and an operator's clicks hardly do; a reading
// that came within a steady run (asked for between polls) stays on the line.
TrendPlot::Lines measured(const Trend &trend, Trend::Series series, qsizetype from, qsizetype per, bool markAll)
{
    TrendPlot::Lines lines;
    const qsizetype count = trend.size(series) - from;
    std::vector<qint64> gap(size_t(std::max<qsizetype>(count, 1))); // gap[k]: before reading k
    for (qsizetype k = 1; k < count; ++k)
        gap[size_t(k)] = trend.at(series, from + k).msecs - trend.at(series, from + k - 1).msecs;
    std::vector<char> steady(gap.size() + 1, 0);
    for (qsizetype k = 1; k < count;) {
        qsizetype end = k + 1; // gaps [k, end) are each like the next
        while (end < count && alike(gap[size_t(end - 1)], gap[size_t(end)]))
            ++end;
        if (end - k >= SteadyGaps)
            std::fill(steady.begin() + k, steady.begin() + end, 1);
        k = end;
    }
    const auto joined = [&](qsizetype k) {
        return steady[size_t(k)]
               || (k > 1 && k + 1 < count && steady[size_t(k - 1)] && steady[size_t(k + 1)]
                   && gap[size_t(k)] <= SteadyFactor * double(std::min(gap[size_t(k - 1)], gap[size_t(k + 1)])));
    };
    qsizetype runStart = 0;
    for (qsizetype k = 1; k <= count; ++k) {
        if (k < count && joined(k))
            continue;
        if (k - runStart >= 2) {
            QList<QPointF> run;
            appendThinned(run, trend, series, from + runStart, from + k, per);
            if (run.size() > 1)
                lines.runs.append(run);
            else
                lines.marks.append(run);
        } else {
            const Trend::Point p = trend.at(series, from + runStart);
            lines.marks.append(QPointF(double(p.msecs), p.value));
        }
        runStart = k;
    }
    if (markAll)
        for (const QList<QPointF> &run : std::as_const(lines.runs))
            lines.marks.append(run);
    return lines;
}

// A setting as steps, held from the last report before `since` (drawn from `since`) to `until`.
TrendPlot::Lines held(const Trend &trend, Trend::Series series, qsizetype from, qint64 since, qint64 until)
{
    TrendPlot::Lines lines;
    const qsizetype n = trend.size(series);
    QList<QPointF> run;
    if (from > 0)
        run.append(QPointF(double(since), trend.at(series, from - 1).value));
    for (qsizetype i = from; i < n; ++i) {
        const Trend::Point p = trend.at(series, i);
        if (!run.isEmpty()) {
            if (run.constLast().y() == p.value)
                continue;
            run.append(QPointF(double(p.msecs), run.constLast().y()));
        }
        run.append(QPointF(double(p.msecs), p.value));
    }
    if (!run.isEmpty() && run.constLast().x() < double(until))
        run.append(QPointF(double(until), run.constLast().y()));
    if (run.size() == 1)
        lines.marks.append(run);
    else if (!run.isEmpty())
        lines.runs.append(run);
    return lines;
}

} // namespace

TrendPlot TrendPlot::of(const Trend &trend, qint64 spanMs, int pointsPerSeries, int marksUpTo)
{
    TrendPlot plot;
    bool any = false;
    qint64 latest = 0, earliest = std::numeric_limits<qint64>::max();
    for (const Trend::Series s : SeriesOf) {
        if (trend.size(s) == 0)
            continue;
        any = true;
        latest = std::max(latest, trend.at(s, trend.size(s) - 1).msecs);
        earliest = std::min(earliest, trend.at(s, 0).msecs);
    }
    if (!any)
        return plot;
    plot.empty = false;
    plot.to = latest;
    plot.from = std::max(latest - spanMs, earliest);
    if (plot.to - plot.from < LeastSpanMs)
        plot.from = plot.to - LeastSpanMs;

    const qsizetype buckets = std::max(1, pointsPerSeries / 2);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < CurveCount; ++c) {
        const Trend::Series s = SeriesOf[size_t(c)];
        const qsizetype from = firstSince(trend, s, plot.from);
        const qsizetype count = trend.size(s) - from;
        const qsizetype per = count > 2 * buckets ? (count + buckets - 1) / buckets : 1;
        Lines &lines = plot.curves[size_t(c)];
        lines = heldAt(c) ? held(trend, s, from, plot.from, plot.to) : measured(trend, s, from, per, count <= marksUpTo);
        for (const QList<QPointF> &run : std::as_const(lines.runs))
            for (const QPointF &p : run)
                lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
        for (const QPointF &p : std::as_const(lines.marks))
            lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
    }
    if (lo > hi) // reports, but none in the window: nothing to scale to
        lo = 0, hi = 100;
    // A flat line sits in the middle of a range that suits its size, whatever its size.
    const double size = std::max(std::abs(lo), std::abs(hi));
    if (hi - lo <= size * 1e-6) {
        const double half = std::max(1.0, size * 0.05);
        const double mid = (lo + hi) / 2;
        lo = mid - half, hi = mid + half;
    }
    const double pad = (hi - lo) * 0.05;
    plot.low = lo - pad;
    plot.high = hi + pad;
    plot.valueTicks = ticksFor(plot.low, plot.high, 4);
    plot.timeTicks = timeTicksFor(plot.from, plot.to, 5);
    return plot;
}

QList<double> TrendPlot::ticksFor(double low, double high, int count)
{
    QList<double> ticks;
    const double rough = (high - low) / std::max(1, count);
    if (!(rough > 0) || !std::isfinite(rough))
        return ticks;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double r = rough / power;
    const double step = (r < 1.5 ? 1 : r < 3.5 ? 2 : r < 7.5 ? 5 : 10) * power;
    for (double k = std::ceil(low / step); k * step <= high && ticks.size() <= 2 * count; ++k)
        ticks.append(k * step == 0 ? 0.0 : k * step); // never -0
    return ticks;
}

QList<qint64> TrendPlot::timeTicksFor(qint64 from, qint64 to, int count)
{
    static constexpr qint64 Steps[] = {1'000, 2'000, 5'000, 10'000, 15'000, 30'000, 60'000, 120'000, 300'000,
                                       600'000, 900'000, 1'800'000, 3'600'000, 7'200'000, 21'600'000, 86'400'000};
    QList<qint64> ticks;
    if (to <= from)
        return ticks;
    qint64 step = Steps[std::size(Steps) - 1];
    for (const qint64 s : Steps) {
        if ((to - from) / s <= count) {
            step = s;
            break;
        }
    }
    for (qint64 t = (from + step - 1) / step * step; t <= to; t += step)
        ticks.append(t);
    return ticks;
}
