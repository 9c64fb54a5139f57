#pragma once

#include "trend.h"
#include "trendtimeline.h"

#include <QList>
#include <QPointF>
#include <QStringList>

#include <array>
#include <optional>

// The value axis: fitted to what is shown, or fixed to a range the user chose.
struct TrendAxis {
    bool fixed = false;
    double low = 0, high = 100; // while fixed

    // A fixed axis from the user's lowest and highest, or nothing with `refusal` saying why:
    // both must be numbers (in the user's locale or with a point), the lowest below the highest.
    static std::optional<TrendAxis> fixedFrom(const QString &low, const QString &high, QString *refusal);
    bool operator==(const TrendAxis &) const = default;
};

// What the trend shows of the reported values, in the values' own units (x: milliseconds since
// the epoch, y: the value), worked out without a widget: the lines and marks of each series,
// the ranges of both axes and their ticks. A view only scales and paints it.
//
// The process values (PV01, PV02) are drawn as measured: two values are joined by a line only
// where they belong to a steady run of readings (several gaps in a row alike within half
// again, as polling gives); a value on its own is a mark. The setpoints (SV11,
// SV21) hold until their next report, so each is drawn as steps, from the left edge of the
// window (the last report before it) to the latest report of any series.
//
// A hidden series draws nothing and takes no part in the fitted axis. On a fixed axis a value
// outside it is drawn at the edge it passed, and listed among the curve's clipped points.
struct TrendPlot {
    enum Curve { ProcessValue1, ProcessValue2, Setpoint1, Setpoint2, CurveCount };
    static constexpr std::array<Trend::Series, CurveCount> SeriesOf{
        Trend::ProcessValue1, Trend::ProcessValue2, Trend::Setpoint1, Trend::Setpoint2};
    static constexpr bool heldAt(int curve) { return curve >= Setpoint1; }

    struct Lines {
        QList<QList<QPointF>> runs; // each a line of two or more points
        QList<QPointF> marks;       // values marked where they were taken
        QList<QPointF> clipped;     // points of both drawn at an edge of a fixed axis
    };
    using Hidden = std::array<bool, CurveCount>;

    // What to show: the time range, the series hidden, the value axis.
    struct View {
        TrendTimeline::Range range;
        Hidden hidden{};
        TrendAxis axis;
        bool operator==(const View &) const = default;
    };

    std::array<Lines, CurveCount> curves;
    bool empty = true; // nothing reported yet: the ranges are placeholders
    Hidden hidden{};
    bool fixedAxis = false;
    qint64 from = 0, to = 0;
    double low = 0, high = 100;
    QList<qint64> timeTicks;
    QList<double> valueTicks;
    QStringList valueLabels; // one for each value tick

    // The last `spanMs` up to the latest report, cut into `pointsPerSeries` / 2 columns of time.
    // Each series shows at most the lowest and highest value of a column in its lines and in
    // its marks (for a setting, the range it took), so that drawing costs the same however
    // many values the window holds; it marks every value while it shows no more than
    // `marksUpTo` of them.
    static TrendPlot of(const Trend &trend, qint64 spanMs, int pointsPerSeries, int marksUpTo);
    // The same for the time range, hidden series and axis of `view`.
    static TrendPlot of(const Trend &trend, const View &view, int pointsPerSeries, int marksUpTo);
    // From the oldest to the newest value of the drawn series, or nothing before the first.
    static std::optional<TrendTimeline::Range> kept(const Trend &trend);
    // The series' name as the board reports it: PV01, PV02, SV11, SV21.
    static QString shortName(int curve);

    // Round steps: 1, 2 or 5 times a power of ten for values, and whole seconds, minutes or
    // hours for times, about `count` of them across the range.
    static QList<double> ticksFor(double low, double high, int count);
    // A label for each of `ticks` (evenly spaced, as ticksFor gives them) that names its value:
    // as many decimals as the step needs, in exponent form where those would be many digits.
    static QStringList labelsFor(const QList<double> &ticks);
    static QList<qint64> timeTicksFor(qint64 from, qint64 to, int count);
};
