#pragma once

#include <QtGlobal>

#include <array>
#include <vector>

// The values the board reported, each series a bounded ring of (time, value) in the order they
// came: the process values PV01 and PV02, the setpoints of both outputs and the frequency code.
class Trend
{
public:
    enum Series { ProcessValue1, ProcessValue2, Setpoint1, Setpoint2, FrequencyCode, SeriesCount };

    struct Point {
        qint64 msecs;
        double value;
    };

    // An hour at ten values a second.
    static constexpr qsizetype DefaultPoints = 36'000;

    explicit Trend(qsizetype maxPoints = DefaultPoints) : m_maxPoints(std::max<qsizetype>(1, maxPoints)) {}

    void add(Series series, qint64 msecs, double value);
    void clear();

    qsizetype size(Series series) const { return qsizetype(m_series[series].points.size()); }
    Point at(Series series, qsizetype index) const; // 0 is the oldest kept
    // Bumped by every change, so a view can tell whether it is up to date.
    quint64 generation() const { return m_generation; }

private:
    struct Ring {
        std::vector<Point> points; // grows to maxPoints, then circular from `first`
        qsizetype first = 0;
    };

    qsizetype m_maxPoints;
    std::array<Ring, SeriesCount> m_series;
    quint64 m_generation = 0;
};
