#include "trendplot.h"

#include <QCoreApplication>
#include <QLocale>

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

// The window's time cut into columns, each about two drawn points wide. Whatever falls within
// one column is drawn as its lowest and highest value, so that what is drawn stays a few points
// a column however many values the window holds.
struct Columns {
    qint64 from = 0;
    double msEach = 1;
    qsizetype count = 1;

    qsizetype at(qint64 msecs) const
    {
        return std::clamp<qsizetype>(qsizetype(double(msecs - from) / msEach), 0, count - 1);
    }
};

// Points [from, to) of `points`, each column's lowest and highest value in time order. A flat
// column keeps its first and last point where `flatKeepsLength` (a line), one point otherwise
// (a mark). The lowest and highest are told apart by their place, not their time: the lines of
// one read share a time.
void appendThinned(QList<QPointF> &out, const std::vector<Trend::Point> &points, size_t from, size_t to,
                   const Columns &columns, bool flatKeepsLength)
{
    const auto point = [&points](size_t k) {
        return QPointF(double(points[k].msecs), points[k].value);
    };
    for (size_t b = from; b < to;) {
        const qsizetype column = columns.at(points[b].msecs);
        size_t lo = b, hi = b;
        size_t end = b + 1;
        for (; end < to && columns.at(points[end].msecs) == column; ++end) {
            if (points[end].value < points[lo].value)
                lo = end;
            if (points[end].value > points[hi].value)
                hi = end;
        }
        if (lo == hi && end - b > 1 && flatKeepsLength)
            hi = end - 1;
        out.append(point(std::min(lo, hi)));
        if (hi != lo)
            out.append(point(std::max(lo, hi)));
        b = end;
    }
}

// Measured values: lines along steady runs of readings, marks for values on their own (and
// for all of them where they are few). Readings are steady where at least SteadyGaps gaps in a
// row are each like the next, as polling gives and an operator's clicks hardly do; a reading
// that came within a steady run (asked for between polls) stays on the line. A run that stays
// within one column is drawn as marks, and marks are thinned by column as lines are.
TrendPlot::Lines measured(const Trend &trend, Trend::Series series, qsizetype from, qsizetype to,
                          const Columns &columns, bool markAll)
{
    TrendPlot::Lines lines;
    std::vector<Trend::Point> points;
    points.reserve(size_t(to - from));
    for (qsizetype i = from; i < to; ++i)
        points.push_back(trend.at(series, i));
    const size_t count = points.size();
    std::vector<qint64> gap(std::max<size_t>(count, 1)); // gap[k]: before reading k
    for (size_t k = 1; k < count; ++k)
        gap[k] = points[k].msecs - points[k - 1].msecs;
    std::vector<char> steady(gap.size() + 1, 0);
    for (size_t k = 1; k < count;) {
        size_t end = k + 1; // gaps [k, end) are each like the next
        while (end < count && alike(gap[end - 1], gap[end]))
            ++end;
        if (end - k >= size_t(SteadyGaps))
            std::fill(steady.begin() + qsizetype(k), steady.begin() + qsizetype(end), 1);
        k = end;
    }
    const auto joined = [&](size_t k) {
        return steady[k]
               || (k > 1 && k + 1 < count && steady[k - 1] && steady[k + 1]
                   && gap[k] <= SteadyFactor * double(std::min(gap[k - 1], gap[k + 1])));
    };
    std::vector<Trend::Point> alone; // in time order
    size_t runStart = 0;
    for (size_t k = 1; k <= count; ++k) {
        if (k < count && joined(k))
            continue;
        if (k - runStart >= 2 && columns.at(points[runStart].msecs) != columns.at(points[k - 1].msecs)) {
            QList<QPointF> run;
            appendThinned(run, points, runStart, k, columns, true);
            lines.runs.append(run);
        } else {
            alone.insert(alone.end(), points.begin() + qsizetype(runStart), points.begin() + qsizetype(k));
        }
        runStart = k;
    }
    if (markAll) {
        for (const Trend::Point &p : points)
            lines.marks.append(QPointF(double(p.msecs), p.value));
    } else {
        appendThinned(lines.marks, alone, 0, alone.size(), columns, false);
    }
    return lines;
}

// A setting as steps, held from the last report before `since` (drawn from `since`) to `until`.
// Where it changed more than once within a column, the column shows the range it took at the
// first change, then holds the last value.
TrendPlot::Lines held(const Trend &trend, Trend::Series series, qsizetype from, qsizetype n, qint64 since,
                      qint64 until, const Columns &columns)
{
    TrendPlot::Lines lines;
    QList<QPointF> run;
    const auto stepTo = [&run](qint64 msecs, double value) {
        const QPointF p(double(msecs), value);
        if (run.isEmpty() || run.constLast() != p)
            run.append(p);
    };
    if (from > 0)
        stepTo(since, trend.at(series, from - 1).value);
    for (qsizetype i = from; i < n;) {
        const Trend::Point p = trend.at(series, i++);
        if (run.isEmpty()) {
            stepTo(p.msecs, p.value);
            continue;
        }
        const double before = run.constLast().y();
        if (p.value == before)
            continue;
        const qsizetype column = columns.at(p.msecs);
        double lo = std::min(before, p.value), hi = std::max(before, p.value), last = p.value;
        for (; i < n && columns.at(trend.at(series, i).msecs) == column; ++i) {
            last = trend.at(series, i).value;
            lo = std::min(lo, last), hi = std::max(hi, last);
        }
        stepTo(p.msecs, before);
        stepTo(p.msecs, last >= before ? lo : hi);
        stepTo(p.msecs, last >= before ? hi : lo);
        stepTo(p.msecs, last);
    }
    if (!run.isEmpty() && run.constLast().x() < double(until))
        stepTo(until, run.constLast().y());
    if (run.size() == 1)
        lines.marks.append(run);
    else if (!run.isEmpty())
        lines.runs.append(run);
    return lines;
}

// Each point of `lines` within [low, high], those that were not listed as clipped.
void clip(TrendPlot::Lines &lines, double low, double high)
{
    const auto pin = [&](QPointF &p) {
        if (p.y() >= low && p.y() <= high)
            return;
        p.setY(std::clamp(p.y(), low, high));
        lines.clipped.append(p);
    };
    for (QList<QPointF> &run : lines.runs)
        for (QPointF &p : run)
            pin(p);
    for (QPointF &p : lines.marks)
        pin(p);
}

} // namespace

std::optional<TrendAxis> TrendAxis::fixedFrom(const QString &low, const QString &high, QString *refusal)
{
    const auto number = [](const QString &text) -> std::optional<double> {
        bool ok = false;
        double v = QLocale().toDouble(text.trimmed(), &ok);
        if (!ok)
            v = QLocale::c().toDouble(text.trimmed(), &ok);
        return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
    };
    const std::optional<double> lo = number(low), hi = number(high);
    QString why;
    if (!lo || !hi)
        why = QCoreApplication::translate("TrendAxis", "The lowest and the highest value must both be numbers.");
    else if (*lo >= *hi)
        why = QCoreApplication::translate("TrendAxis", "The lowest value must be below the highest.");
    if (refusal)
        *refusal = why;
    if (!why.isEmpty())
        return std::nullopt;
    return TrendAxis{true, *lo, *hi};
}

QString TrendPlot::shortName(int curve)
{
    static const char *const Names[CurveCount] = {"PV01", "PV02", "SV11", "SV21"};
    return curve >= 0 && curve < CurveCount ? QString::fromLatin1(Names[curve]) : QString();
}

std::optional<TrendTimeline::Range> TrendPlot::kept(const Trend &trend)
{
    std::optional<TrendTimeline::Range> r;
    for (const Trend::Series s : SeriesOf) {
        if (trend.size(s) == 0)
            continue;
        const qint64 first = trend.at(s, 0).msecs, last = trend.at(s, trend.size(s) - 1).msecs;
        r = r ? TrendTimeline::Range{std::min(r->from, first), std::max(r->to, last)} : TrendTimeline::Range{first, last};
    }
    return r;
}

TrendPlot TrendPlot::of(const Trend &trend, qint64 spanMs, int pointsPerSeries, int marksUpTo)
{
    const std::optional<TrendTimeline::Range> all = kept(trend);
    View view;
    if (all) {
        view.range = {std::max(all->to - spanMs, all->from), all->to};
        if (view.range.width() < LeastSpanMs)
            view.range.from = view.range.to - LeastSpanMs;
    }
    return of(trend, view, pointsPerSeries, marksUpTo);
}

TrendPlot TrendPlot::of(const Trend &trend, const View &view, int pointsPerSeries, int marksUpTo)
{
    TrendPlot plot;
    plot.hidden = view.hidden;
    plot.fixedAxis = view.axis.fixed;
    const std::optional<TrendTimeline::Range> all = kept(trend);
    if (!all)
        return plot;
    plot.empty = false;
    plot.from = view.range.from;
    plot.to = std::max(view.range.to, view.range.from + 1);
    // A setting holds up to the latest report, not into a time that has not come.
    const qint64 until = std::min(plot.to, all->to);

    const int columnCount = std::max(1, pointsPerSeries / 2);
    const Columns columns{plot.from, double(plot.to - plot.from) / columnCount, columnCount};
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < CurveCount; ++c) {
        if (view.hidden[size_t(c)])
            continue;
        const Trend::Series s = SeriesOf[size_t(c)];
        const qsizetype from = firstSince(trend, s, plot.from);
        const qsizetype to = firstSince(trend, s, plot.to + 1);
        Lines &lines = plot.curves[size_t(c)];
        lines = heldAt(c) ? held(trend, s, from, to, plot.from, until, columns)
                          : measured(trend, s, from, to, columns, to - from <= marksUpTo);
        for (const QList<QPointF> &run : std::as_const(lines.runs))
            for (const QPointF &p : run)
                lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
        for (const QPointF &p : std::as_const(lines.marks))
            lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
    }
    if (view.axis.fixed) {
        plot.low = view.axis.low;
        plot.high = view.axis.high;
        for (Lines &lines : plot.curves)
            clip(lines, plot.low, plot.high);
    } else {
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
    }
    plot.valueTicks = ticksFor(plot.low, plot.high, 4);
    plot.valueLabels = labelsFor(plot.valueTicks);
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

QStringList TrendPlot::labelsFor(const QList<double> &ticks)
{
    QStringList labels;
    if (ticks.size() < 2) {
        for (const double v : ticks)
            labels << QString::number(v, 'g', 6);
        return labels;
    }
    // The step's power of ten is the last digit each label needs; all in one form, plain
    // unless that takes more than seven digits before the point or five after it.
    const double step = (ticks.constLast() - ticks.constFirst()) / double(ticks.size() - 1);
    const int last = int(std::floor(std::log10(step) + 1e-9));
    double size = 0;
    for (const double v : ticks)
        size = std::max(size, std::abs(v));
    const bool plain = size < 1e7 && last > -6;
    for (const double v : ticks) {
        if (plain)
            labels << QString::number(v, 'f', std::max(0, -last));
        else if (v == 0)
            labels << QStringLiteral("0");
        else
            labels << QString::number(v, 'e',
                                      std::max(0, int(std::floor(std::log10(std::abs(v)))) - last));
    }
    return labels;
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
