#include "trendtimeline.h"

#include <algorithm>
#include <cmath>

qint64 TrendTimeline::spanMs(Span span)
{
    switch (span) {
    case OneMinute: return 60'000;
    case TenMinutes: return 600'000;
    case OneHour: return 3'600'000;
    case AllKept:
    case SpanCount: break;
    }
    return 0;
}

TrendTimeline::Range TrendTimeline::range(qint64 earliest, qint64 latest) const
{
    if (!m_following)
        return m_held;
    Range r{earliest, latest};
    if (m_span != AllKept)
        r.from = std::max(latest - spanMs(m_span), earliest);
    if (r.width() < LeastFollowedMs)
        r.from = r.to - LeastFollowedMs;
    return r;
}

void TrendTimeline::pause(qint64 earliest, qint64 latest)
{
    m_held = range(earliest, latest);
    m_following = false;
}

// A range no wider than what is kept lies within it; a wider one ends at the latest.
TrendTimeline::Range TrendTimeline::within(Range r, qint64 earliest, qint64 latest)
{
    const qint64 width = r.width();
    if (width >= latest - earliest)
        return {latest - width, latest};
    if (r.to > latest)
        r = {latest - width, latest};
    if (r.from < earliest)
        r = {earliest, earliest + width};
    return r;
}

void TrendTimeline::scroll(qint64 byMs, qint64 earliest, qint64 latest)
{
    pause(earliest, latest);
    m_held = within({m_held.from + byMs, m_held.to + byMs}, earliest, latest);
}

void TrendTimeline::scrollTo(qint64 from, qint64 earliest, qint64 latest)
{
    pause(earliest, latest);
    m_held = within({from, from + m_held.width()}, earliest, latest);
}

void TrendTimeline::zoom(double factor, qint64 around, qint64 earliest, qint64 latest)
{
    pause(earliest, latest);
    const qint64 width = std::max<qint64>(1, m_held.width());
    const qint64 widest = std::max(latest - earliest, LeastFollowedMs);
    const qint64 wanted = std::clamp(qint64(std::llround(double(width) * factor)), LeastZoomedMs, std::max(widest, width));
    const qint64 at = std::clamp(around, m_held.from, m_held.to);
    const qint64 from = at - qint64(std::llround(double(at - m_held.from) * double(wanted) / double(width)));
    m_held = within({from, from + wanted}, earliest, latest);
}

void TrendTimeline::reveal(qint64 at, qint64 earliest, qint64 latest)
{
    const Range shown = range(earliest, latest);
    if (at >= shown.from && at <= shown.to)
        return;
    pause(earliest, latest);
    const qint64 by = at < shown.from ? at - shown.from : at - shown.to;
    m_held = within({m_held.from + by, m_held.to + by}, earliest, latest);
}
