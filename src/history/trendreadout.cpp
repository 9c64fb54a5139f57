#include "trendreadout.h"

#include "link/replynumber.h"

#include <QDateTime>

namespace {

// The index of the first point after `at`, or at or after it where `orAt`.
qsizetype firstAfter(const Trend &trend, Trend::Series series, qint64 at, bool orAt = false)
{
    qsizetype lo = 0, hi = trend.size(series);
    while (lo < hi) {
        const qsizetype mid = (lo + hi) / 2;
        const qint64 t = trend.at(series, mid).msecs;
        if (orAt ? t < at : t <= at)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

} // namespace

std::optional<Trend::Point> TrendReadout::inForce(const Trend &trend, Trend::Series series, qint64 at)
{
    const qsizetype after = firstAfter(trend, series, at);
    if (after == 0)
        return std::nullopt;
    return trend.at(series, after - 1);
}

std::optional<Trend::Point> TrendReadout::nearest(const Trend &trend, Trend::Series series, qint64 at)
{
    const qsizetype after = firstAfter(trend, series, at);
    const std::optional<Trend::Point> before = inForce(trend, series, at);
    if (after == trend.size(series))
        return before;
    const Trend::Point next = trend.at(series, after);
    if (!before || next.msecs - at < at - before->msecs)
        return next;
    return before;
}

TrendReadout TrendReadout::of(const Trend &trend, qint64 at, const TrendPlot::Hidden &hidden)
{
    TrendReadout r;
    r.at = at;
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        if (hidden[size_t(c)])
            continue;
        const Trend::Series s = TrendPlot::SeriesOf[size_t(c)];
        const std::optional<Trend::Point> p = TrendPlot::heldAt(c) ? inForce(trend, s, at) : nearest(trend, s, at);
        if (p)
            r.values[size_t(c)] = p->value;
    }
    return r;
}

std::optional<qint64> TrendReadout::step(const Trend &trend, qint64 at, bool forward, const TrendPlot::Hidden &hidden,
                                         TrendTimeline::Range range)
{
    std::optional<qint64> best;
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        if (hidden[size_t(c)])
            continue;
        const Trend::Series s = TrendPlot::SeriesOf[size_t(c)];
        std::optional<qint64> t;
        if (forward) {
            const qsizetype after = firstAfter(trend, s, at);
            if (after < trend.size(s))
                t = trend.at(s, after).msecs;
        } else if (const qsizetype from = firstAfter(trend, s, at, true); from > 0) {
            t = trend.at(s, from - 1).msecs;
        }
        if (t && *t >= range.from && *t <= range.to && (!best || (forward ? *t < *best : *t > *best)))
            best = t;
    }
    return best;
}

QStringList TrendReadout::lines(const TrendPlot::Hidden &hidden) const
{
    QStringList out{QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("HH:mm:ss.zzz"))};
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        if (hidden[size_t(c)])
            continue;
        const std::optional<double> &v = values[size_t(c)];
        out << TrendPlot::shortName(c) + u' ' + (v ? ReplyNumber::format(float(*v)) : QStringLiteral("-"));
    }
    return out;
}

QString TrendReadout::text(const TrendPlot::Hidden &hidden) const
{
    return lines(hidden).join(QStringLiteral(", "));
}
