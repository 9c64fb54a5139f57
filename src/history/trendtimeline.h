#pragma once

#include <QtGlobal>

// The stretch of time the trend shows. Following, its right edge is the latest report and it
// reaches back the chosen span; paused, it stands still wherever it was, while values go on
// being kept, and moves only when the user scrolls or zooms it. Scrolling and zooming pause
// it; follow() returns to the chosen span at the latest report.
//
// Every call that moves it is told what is kept (`earliest` to `latest`, the times of the
// oldest and newest values), and keeps the range within it where the range is narrower.
class TrendTimeline
{
public:
    enum Span { OneMinute, TenMinutes, OneHour, AllKept, SpanCount };
    struct Range {
        qint64 from = 0, to = 0;
        qint64 width() const { return to - from; }
        bool operator==(const Range &) const = default;
    };
    static constexpr qint64 LeastFollowedMs = 60'000; // following shows at least a minute
    static constexpr qint64 LeastZoomedMs = 5'000;    // zoomed in, at least five seconds

    static qint64 spanMs(Span span); // 0 for AllKept

    Span span() const { return m_span; }
    bool following() const { return m_following; }

    // Chooses the span, and follows at it.
    void setSpan(Span span) { m_span = span, m_following = true; }
    void follow() { m_following = true; }
    // Stands still at what it shows now.
    void pause(qint64 earliest, qint64 latest);

    // What it shows while `earliest` to `latest` is kept.
    Range range(qint64 earliest, qint64 latest) const;

    // Pause at what is shown, then move the range by `byMs` (to later times where positive).
    void scroll(qint64 byMs, qint64 earliest, qint64 latest);
    // Pause, then show from `from` at the same width.
    void scrollTo(qint64 from, qint64 earliest, qint64 latest);
    // Pause, then make the range `factor` times as wide (below 1 zooms in), `around` staying
    // where it is across it; never narrower than LeastZoomedMs nor wider than what is kept.
    void zoom(double factor, qint64 around, qint64 earliest, qint64 latest);
    // Pause where `at` lies outside what is shown, and scroll it in.
    void reveal(qint64 at, qint64 earliest, qint64 latest);

private:
    static Range within(Range range, qint64 earliest, qint64 latest);

    Span m_span = OneHour;
    bool m_following = true;
    Range m_held; // while paused
};
