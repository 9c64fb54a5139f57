#include "trend.h"

#include <algorithm>

void Trend::add(Series series, qint64 msecs, double value)
{
    Ring &r = m_series[series];
    if (qsizetype(r.points.size()) < m_maxPoints) {
        if (r.points.size() == r.points.capacity()) // grown up to the bound, never past it
            r.points.reserve(size_t(std::min(m_maxPoints, std::max<qsizetype>(64, 2 * qsizetype(r.points.size())))));
        r.points.push_back({msecs, value});
    } else {
        r.points[size_t(r.first)] = {msecs, value};
        r.first = (r.first + 1) % m_maxPoints;
    }
    ++m_generation;
}

void Trend::clear()
{
    for (Ring &r : m_series) {
        r.points = {};
        r.first = 0;
    }
    ++m_generation;
}

Trend::Point Trend::at(Series series, qsizetype index) const
{
    const Ring &r = m_series[series];
    Q_ASSERT(index >= 0 && index < qsizetype(r.points.size()));
    return r.points[size_t((r.first + index) % qsizetype(r.points.size()))];
}
