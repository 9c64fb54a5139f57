// The history of a session: the bounded ring, the trend, CSV out and back in, and recording.
#include "history/csvformat.h"
#include "history/recorder.h"
#include "history/sessionhistory.h"
#include "history/trendplot.h"
#include "history/trendreadout.h"
#include "support/csvreader.h"
#ifdef Q_OS_LINUX
#include "support/filesizelimit.h"
#endif
#include "support/sessionfixture.h"
#include "support/unprivileged.h"

#include <QDateTime>
#include <QDir>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTest>

#include <ctime>
#include <functional>
#include <optional>
#include <random>

using Feed = std::function<void(Trend &)>;
Q_DECLARE_METATYPE(Feed)
using Moves = std::function<void(TrendTimeline &)>;
Q_DECLARE_METATYPE(Moves)
Q_DECLARE_METATYPE(TrendPlot::View)

namespace {

QByteArray textsOf(const HistoryRing &ring)
{
    QByteArray all;
    for (qsizetype i = 0; i < ring.size(); ++i)
        all += ring.at(i).text.toByteArray() + '|';
    return all;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT
private slots:
    void ringKeepsTheNewestWithinBothBounds_data();
    void ringKeepsTheNewestWithinBothBounds();
    void ringKeepsAllItsBoundsAllow_data();
    void ringKeepsAllItsBoundsAllow();
    void ringMemoryFollowsWhatIsKept();
    void trendKeepsItsBound();
    void trendDrawsWhatWasMeasured_data();
    void trendDrawsWhatWasMeasured();
    void trendDrawsAFewPointsAColumn_data();
    void trendDrawsAFewPointsAColumn();
    void trendShowsTheTimeChosen_data();
    void trendShowsTheTimeChosen();
    void trendFitsOrFixesItsAxis_data();
    void trendFitsOrFixesItsAxis();
    void trendAxisIsFixedOnlyToARange_data();
    void trendAxisIsFixedOnlyToARange();
    void trendReadsTheValueAtATime_data();
    void trendReadsTheValueAtATime();
    void hostileTextComesBackFromCsv_data();
    void hostileTextComesBackFromCsv();
    void timesAreLocalIsoWithMilliseconds();
#ifdef Q_OS_UNIX // other zones than the machine's are set through TZ
    void timesAreLocalWithTheirOffset_data();
    void timesAreLocalWithTheirOffset();
#endif
    void failedSaveLeavesTheOldFile();
    void linkLinesAndCommandsAreRecordedInOrder();
    void recordingReachesTheFileBeforeTheEventLoop();
    void recordingFailureIsReportedOnce_data();
    void recordingFailureIsReportedOnce();
#ifdef Q_OS_UNIX // Windows lets no other program remove or replace the file while it is open
    void recordingStopsWhenTheFileIsRemoved_data();
    void recordingStopsWhenTheFileIsRemoved();
#endif
};

void TestHistory::ringKeepsTheNewestWithinBothBounds_data()
{
    QTest::addColumn<int>("maxEntries");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArrayList>("appended");
    QTest::addColumn<QByteArray>("kept");

    QTest::newRow("under both bounds") << 4 << 64 << QByteArrayList{"a", "bb", "ccc"} << QByteArray("a|bb|ccc|");
    QTest::newRow("entry bound") << 3 << 64 << QByteArrayList{"1", "2", "3", "4", "5"} << QByteArray("3|4|5|");
    QTest::newRow("byte bound") << 100 << 10 << QByteArrayList{"aaaa", "bbbb", "cccc"} << QByteArray("bbbb|cccc|");
    QTest::newRow("wraps around the byte ring")
        << 100 << 10 << QByteArrayList{"aaa", "bbb", "ccc", "dd", "eeee", "f"} << QByteArray("ccc|dd|eeee|f|");
    QTest::newRow("a longer line after a wrap")
        << 100 << 10 << QByteArrayList{"aaa", "bbb", "ccc", "ddd", "eee", "fffff"} << QByteArray("eee|fffff|");
    QTest::newRow("entry bound first, then longer lines")
        << 5 << 100 << QByteArrayList{"ab", "ab", "ab", "ab", "ab", "ab", "ab", QByteArray(30, 'x'), QByteArray(30, 'y')}
        << QByteArray("ab|ab|ab|" + QByteArray(30, 'x') + '|' + QByteArray(30, 'y') + '|');
    // Growing from 1 KiB while the kept text wraps exactly at the old end: d at 768, e at 0.
    QTest::newRow("grows while wrapped at its end")
        << 3 << 4096 << QByteArrayList{QByteArray(256, 'a'), QByteArray(256, 'b'), QByteArray(256, 'c'), QByteArray(256, 'd'), QByteArray(256, 'e'), QByteArray(600, 'f')}
        << QByteArray(QByteArray(256, 'd') + '|' + QByteArray(256, 'e') + '|' + QByteArray(600, 'f') + '|');
    // An empty line added to a full ring sits at its end; the ring then grows past it.
    QTest::newRow("grows after an empty line in a full ring")
        << 4 << 4096 << QByteArrayList{QByteArray(1024, 'a'), "", QByteArray(10, 'b'), QByteArray(10, 'c'), QByteArray(1600, 'd')}
        << QByteArray('|' + QByteArray(10, 'b') + '|' + QByteArray(10, 'c') + '|' + QByteArray(1600, 'd') + '|');
    QTest::newRow("a line longer than the ring keeps its beginning")
        << 100 << 4 << QByteArrayList{"xy", "123456789"} << QByteArray("1234|");
    QTest::newRow("empty lines count as entries")
        << 3 << 4 << QByteArrayList{"", "ab", "", "cd", ""} << QByteArray("|cd||");
    QTest::newRow("exactly full") << 100 << 6 << QByteArrayList{"abc", "def"} << QByteArray("abc|def|");
}

// Every text kept is whole and in order, the newest always kept, both bounds held.
void TestHistory::ringKeepsTheNewestWithinBothBounds()
{
    QFETCH(int, maxEntries);
    QFETCH(int, maxBytes);
    QFETCH(QByteArrayList, appended);
    QFETCH(QByteArray, kept);

    HistoryRing ring(maxEntries, maxBytes);
    qint64 t = 1000;
    for (const QByteArray &a : appended)
        ring.append(HistoryRing::Direction::Received, a, t++);
    QCOMPARE(textsOf(ring), kept);
    QVERIFY(ring.size() <= maxEntries);
    QVERIFY(ring.textBytes() <= maxBytes);
    QCOMPARE(ring.at(ring.size() - 1).msecs, t - 1);
}

using Phases = QList<std::pair<int, int>>; // so many lines of so many bytes

void TestHistory::ringKeepsAllItsBoundsAllow_data()
{
    QTest::addColumn<int>("maxEntries");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<Phases>("phases"); // a length of -1: uneven lines of up to 40 bytes
    QTest::addColumn<int>("kept");      // at the end

    constexpr int Mi = 1024 * 1024;
    QTest::newRow("uneven lines, small ring") << 50 << 300 << Phases{{5000, -1}} << -1;
    QTest::newRow("growing with longer and longer lines")
        << 2000 << 64 * 1024 << Phases{{3000, 3}, {500, 200}, {100, 1500}, {300, -1}, {3000, 1}} << -1;
    QTest::newRow("short poll lines, then noise lines")
        << 100'000 << 16 * Mi << Phases{{120'000, 8}, {20, 32'768}} << 100'000;
    QTest::newRow("a value that grows by a digit")
        << 100'000 << 16 * Mi << Phases{{120'000, 6}, {60'000, 8}} << 100'000;
    QTest::newRow("lines up to the byte bound") << 100'000 << 16 * Mi << Phases{{600, 32'768}} << 512;
}

// After every append the ring holds exactly the newest lines that fit both bounds, each whole
// and in order: nothing is dropped that the bounds leave room for.
void TestHistory::ringKeepsAllItsBoundsAllow()
{
    QFETCH(int, maxEntries);
    QFETCH(int, maxBytes);
    QFETCH(Phases, phases);
    QFETCH(int, kept);

    HistoryRing ring(maxEntries, maxBytes);
    QList<QByteArray> all;
    qsizetype first = 0, bytes = 0; // what the bounds allow: all[first..] with `bytes` of text
    for (const auto &[count, length] : phases) {
        for (int i = 0; i < count; ++i) {
            const int serial = int(all.size());
            QByteArray line = QByteArray::number(serial) + QByteArray(length < 0 ? serial % 41 : 0, 'a' + serial % 26);
            if (length >= 0)
                line = line.leftJustified(length, char('a' + serial % 26), true);
            all << line;
            ring.append(serial % 3 ? HistoryRing::Direction::Received : HistoryRing::Direction::Sent, line, serial);
            bytes += line.size();
            while (all.size() - first > maxEntries || bytes > maxBytes)
                bytes -= all[first++].size();
            if (ring.firstSerial() != quint64(first) || ring.textBytes() != bytes)
                QFAIL(qPrintable(u"after line %1: %2 lines, %3 bytes kept; %4 lines, %5 bytes fit"_s.arg(serial)
                                     .arg(ring.size()).arg(ring.textBytes()).arg(all.size() - first).arg(bytes)));
        }
    }
    if (kept >= 0)
        QCOMPARE(ring.size(), kept);
    QCOMPARE(ring.endSerial(), quint64(all.size()));
    for (qsizetype k = 0; k < ring.size(); ++k) {
        const quint64 serial = ring.firstSerial() + quint64(k);
        QCOMPARE(ring.at(k).text, all[qsizetype(serial)]);
        QCOMPARE(ring.at(k).msecs, qint64(serial));
    }
    QVERIFY(ring.reach() <= 2 * qsizetype(maxBytes));
    ring.clear();
    QCOMPARE(ring.size(), 0);
    QCOMPARE(ring.firstSerial(), quint64(all.size())); // a view sees everything dropped
}

// Where the entry bound is reached first, memory in use follows what is kept.
void TestHistory::ringMemoryFollowsWhatIsKept()
{
    QList<QByteArray> all;
    for (int i = 0; i < 5000; ++i)
        all << QByteArray::number(i) + QByteArray(i % 23, char('a' + i % 26));

    // 50 lines of up to 26 bytes, not the byte bound.
    HistoryRing roomy(50, 1024 * 1024);
    for (qsizetype i = 0; i < all.size(); ++i)
        roomy.append(HistoryRing::Direction::Received, all[i], i);
    QCOMPARE(roomy.size(), 50);
    for (qsizetype k = 0; k < roomy.size(); ++k)
        QCOMPARE(roomy.at(k).text.toByteArray(), all[qsizetype(roomy.firstSerial()) + k]);
    QVERIFY2(roomy.reach() <= 2 * 50 * 26, qPrintable(QString::number(roomy.reach())));
}

void TestHistory::trendDrawsWhatWasMeasured_data()
{
    QTest::addColumn<Feed>("feed"); // times in seconds
    QTest::addColumn<int>("curve");
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("marks");
    QTest::addColumn<QPointF>("start"); // of the first run: seconds before the latest report, value

    const auto poll = [](Trend &t, Trend::Series s, int from, int to, double value) {
        for (int at = from; at <= to; at += 2)
            t.add(s, at * 1000LL, value);
    };
    QTest::newRow("a setting reported over an hour ago holds from the left edge")
        << Feed([=](Trend &t) { t.add(Trend::Setpoint1, 0, 40), poll(t, Trend::ProcessValue1, 0, 3660, 5); })
        << int(TrendPlot::Setpoint1) << 1 << 0 << QPointF(3600, 40);
    QTest::newRow("a setting steps at each report")
        << Feed([=](Trend &t) { t.add(Trend::Setpoint2, 0, 10), t.add(Trend::Setpoint2, 30'000, 20), t.add(Trend::Setpoint1, 90'000, 5); })
        << int(TrendPlot::Setpoint2) << 1 << 0 << QPointF(90, 10);
    QTest::newRow("a constant large value")
        << Feed([=](Trend &t) { poll(t, Trend::ProcessValue1, 0, 60, 1e20); })
        << int(TrendPlot::ProcessValue1) << 1 << 0 << QPointF(60, 1e20);
    QTest::newRow("two reports minutes apart are marks")
        << Feed([](Trend &t) { t.add(Trend::ProcessValue2, 0, 1), t.add(Trend::ProcessValue2, 300'000, 2); })
        << int(TrendPlot::ProcessValue2) << 0 << 2 << QPointF();
    QTest::newRow("reports at even times, too few for polling, are marks")
        << Feed([](Trend &t) { t.add(Trend::ProcessValue2, 0, 1), t.add(Trend::ProcessValue2, 9'000, 2), t.add(Trend::ProcessValue2, 20'000, 3); })
        << int(TrendPlot::ProcessValue2) << 0 << 3 << QPointF();
    QTest::newRow("a pause in polling breaks the line")
        << Feed([=](Trend &t) { poll(t, Trend::ProcessValue1, 0, 20, 1), poll(t, Trend::ProcessValue1, 320, 340, 2); })
        << int(TrendPlot::ProcessValue1) << 2 << 0 << QPointF(340, 1);
    QTest::newRow("a reading between polls stays on the line")
        << Feed([=](Trend &t) { poll(t, Trend::ProcessValue1, 0, 10, 1), t.add(Trend::ProcessValue1, 10'500, 3), poll(t, Trend::ProcessValue1, 12, 20, 1); })
        << int(TrendPlot::ProcessValue1) << 1 << 0 << QPointF(20, 1);
    QTest::newRow("a reading on its own beside polling")
        << Feed([=](Trend &t) { poll(t, Trend::ProcessValue1, 0, 20, 1), t.add(Trend::ProcessValue1, 200'000, 7); })
        << int(TrendPlot::ProcessValue1) << 1 << 1 << QPointF(200, 1);
    const auto readTwiceAt100 = [](double first, double second) { // the lines of one read
        return Feed([=](Trend &t) {
            for (int at = 0; at <= 200; ++at) {
                t.add(Trend::ProcessValue1, at * 1000LL, at == 100 ? first : 50);
                if (at == 100)
                    t.add(Trend::ProcessValue1, at * 1000LL, second);
            }
        });
    };
    QTest::newRow("a spike read at the time of another reading, after it")
        << readTwiceAt100(50, 95) << int(TrendPlot::ProcessValue1) << 1 << 0 << QPointF(200, 50);
    QTest::newRow("a spike read at the time of another reading, before it")
        << readTwiceAt100(95, 50) << int(TrendPlot::ProcessValue1) << 1 << 0 << QPointF(200, 50);
    const auto swing = [](double a, double b) {
        return Feed([=](Trend &t) {
            for (int at = 0; at <= 60; at += 2)
                t.add(Trend::ProcessValue1, at * 1000LL, at % 4 ? b : a);
        });
    };
    QTest::newRow("a value swinging within tenths of 1234.5")
        << swing(1234.4, 1234.6) << int(TrendPlot::ProcessValue1) << 1 << 0 << QPointF(60, 1234.4);
    QTest::newRow("a value swinging within hundredths of 25.32")
        << swing(25.31, 25.33) << int(TrendPlot::ProcessValue1) << 1 << 0 << QPointF(60, 25.31);
}

// Lines join only steady readings, settings hold across the window, no value is thinned away,
// and the value axis has a range and round ticks whatever the values.
void TestHistory::trendDrawsWhatWasMeasured()
{
    QFETCH(Feed, feed);
    QFETCH(int, curve);
    QFETCH(int, runs);
    QFETCH(int, marks);
    QFETCH(QPointF, start);

    Trend trend;
    feed(trend);
    const TrendPlot plot = TrendPlot::of(trend, 3'600'000, 600, 0);
    const TrendPlot::Lines &lines = plot.curves[size_t(curve)];
    QCOMPARE(lines.runs.size(), runs);
    QCOMPARE(lines.marks.size(), marks);
    if (runs > 0) {
        QCOMPARE((plot.to - lines.runs[0][0].x()) / 1000, start.x());
        QCOMPARE(lines.runs[0][0].y(), start.y());
        if (TrendPlot::heldAt(curve))
            QCOMPARE(lines.runs.constLast().constLast().x(), double(plot.to));
    }
    // Nothing in the window is thinned away: the curve reaches its lowest and highest value.
    const Trend::Series series = TrendPlot::SeriesOf[size_t(curve)];
    double drawnLow = qInf(), drawnHigh = -qInf(), low = qInf(), high = -qInf();
    for (const QList<QPointF> &run : lines.runs + QList<QList<QPointF>>{lines.marks})
        for (const QPointF &p : run)
            drawnLow = std::min(drawnLow, p.y()), drawnHigh = std::max(drawnHigh, p.y());
    for (qsizetype i = 0; i < trend.size(series); ++i)
        if (trend.at(series, i).msecs >= plot.from)
            low = std::min(low, trend.at(series, i).value), high = std::max(high, trend.at(series, i).value);
    QCOMPARE_LE(drawnLow, low);
    QCOMPARE_GE(drawnHigh, high);
    QVERIFY(plot.low < plot.high);
    QVERIFY(plot.valueTicks.size() >= 2);
    // Each label names its tick, so neighbours differ.
    QCOMPARE(plot.valueLabels.size(), plot.valueTicks.size());
    const double step = plot.valueTicks[1] - plot.valueTicks[0];
    for (qsizetype i = 0; i < plot.valueTicks.size(); ++i) {
        QVERIFY(plot.valueTicks[i] >= plot.low && plot.valueTicks[i] <= plot.high);
        QVERIFY(i == 0 || plot.valueTicks[i] > plot.valueTicks[i - 1]);
        QVERIFY2(std::abs(plot.valueLabels[i].toDouble() - plot.valueTicks[i]) < step / 1000,
                 qPrintable(plot.valueLabels.join(u", ")));
    }
    QVERIFY(!plot.timeTicks.isEmpty());
}

void TestHistory::trendDrawsAFewPointsAColumn_data()
{
    QTest::addColumn<Feed>("feed"); // an hour of reports, one of them 1000 half an hour in
    QTest::addColumn<int>("curve");
    QTest::addColumn<qint64>("zoomedMs"); // the time shown around the 1000; 0: the whole hour

    // Gaps of 50 to 150 ms, sometimes a few alike in a row, values 0 to 9.9.
    const auto hour = [](Trend &t, Trend::Series s, int gapFrom, int gapTo) {
        std::minstd_rand rng(7);
        bool spiked = false;
        for (qint64 at = 0; at < 3'600'000; at += gapFrom + qint64(rng() % unsigned(gapTo - gapFrom + 1))) {
            const bool spike = !spiked && at >= 1'800'000;
            spiked = spiked || spike;
            t.add(s, at, spike ? 1000 : double(rng() % 100) / 10);
        }
    };
    for (const qint64 zoomed : {qint64(0), qint64(10'000)}) {
        const QByteArray in = zoomed ? ", zoomed to 10 s" : "";
        QTest::newRow("readings at uneven times" + in)
            << Feed([=](Trend &t) { hour(t, Trend::ProcessValue1, 50, 150); }) << int(TrendPlot::ProcessValue1) << zoomed;
        QTest::newRow("steady polling" + in)
            << Feed([=](Trend &t) { hour(t, Trend::ProcessValue2, 100, 100); }) << int(TrendPlot::ProcessValue2) << zoomed;
        QTest::newRow("a setting changed at every report" + in)
            << Feed([=](Trend &t) { hour(t, Trend::Setpoint1, 50, 150); }) << int(TrendPlot::Setpoint1) << zoomed;
    }
}

// However many values an hour holds, what is drawn stays a few points a column of time (the
// window's trend is painted in time that follows that count), and keeps each column's extremes.
void TestHistory::trendDrawsAFewPointsAColumn()
{
    QFETCH(Feed, feed);
    QFETCH(int, curve);
    QFETCH(qint64, zoomedMs);

    Trend trend;
    feed(trend);
    const int shown = 600;
    TrendPlot::View view;
    view.range = {0, 3'600'000};
    if (zoomedMs > 0)
        view.range = {1'800'000 - zoomedMs / 2, 1'800'000 + zoomedMs / 2};
    const TrendPlot plot = TrendPlot::of(trend, view, shown, 120);
    QCOMPARE(plot.from, view.range.from);
    const TrendPlot::Lines &lines = plot.curves[size_t(curve)];
    qsizetype points = lines.marks.size();
    for (const QList<QPointF> &run : lines.runs)
        points += run.size();
    QVERIFY2(points > 0 && points <= 3 * shown, qPrintable(QString::number(points)));
    double low = qInf();
    for (qsizetype i = 0; i < trend.size(TrendPlot::SeriesOf[size_t(curve)]); ++i)
        if (const Trend::Point p = trend.at(TrendPlot::SeriesOf[size_t(curve)], i); p.msecs >= view.range.from && p.msecs <= view.range.to)
            low = std::min(low, p.value);
    QCOMPARE(plot.high > 1000, true);
    QCOMPARE_LE(plot.low, low);
}

void TestHistory::trendShowsTheTimeChosen_data()
{
    QTest::addColumn<Moves>("moves"); // over two hours kept, from 0 to 7,200 s
    QTest::addColumn<qint64>("latest"); // kept up to then when asked what it shows
    QTest::addColumn<qint64>("from");   // seconds
    QTest::addColumn<qint64>("to");
    QTest::addColumn<bool>("following");

    using T = TrendTimeline;
    constexpr qint64 Kept = 7'200'000;
    const auto span = [](T::Span s) { return Moves([=](T &t) { t.setSpan(s); }); };
    QTest::newRow("an hour, as it starts") << Moves([](T &) {}) << Kept << 3600LL << 7200LL << true;
    QTest::newRow("a minute") << span(T::OneMinute) << Kept << 7140LL << 7200LL << true;
    QTest::newRow("all kept") << span(T::AllKept) << Kept << 0LL << 7200LL << true;
    QTest::newRow("all of 10 s kept: still a minute across") << span(T::AllKept) << 10'000LL << -50LL << 10LL << true;
    QTest::newRow("paused, stands still while more is kept")
        << Moves([](T &t) { t.pause(0, Kept); }) << Kept + 60'000 << 3600LL << 7200LL << false;
    QTest::newRow("following again: at the latest")
        << Moves([](T &t) { t.pause(0, Kept), t.follow(); }) << Kept + 60'000 << 3660LL << 7260LL << true;
    QTest::newRow("a span chosen while paused follows")
        << Moves([](T &t) { t.pause(0, Kept), t.setSpan(T::OneMinute); }) << Kept << 7140LL << 7200LL << true;
    QTest::newRow("scrolled back a minute: paused")
        << Moves([](T &t) { t.scroll(-60'000, 0, Kept); }) << Kept + 60'000 << 3540LL << 7140LL << false;
    QTest::newRow("scrolled past the oldest: at the oldest")
        << Moves([](T &t) { t.scroll(-100 * Kept, 0, Kept); }) << Kept << 0LL << 3600LL << false;
    QTest::newRow("zoomed in around the middle")
        << Moves([](T &t) { t.zoom(0.5, 5'400'000, 0, Kept); }) << Kept << 4500LL << 6300LL << false;
    QTest::newRow("zoomed in no further than five seconds")
        << Moves([](T &t) { t.setSpan(T::OneMinute), t.zoom(1e-6, Kept - 36'000, 0, Kept); }) << Kept << 7162LL << 7167LL << false;
    QTest::newRow("zoomed out no wider than what is kept")
        << Moves([](T &t) { t.setSpan(T::OneMinute), t.zoom(1000, Kept - 30'000, 0, Kept); }) << Kept << 0LL << 7200LL << false;
    QTest::newRow("zoomed to 10 s, scrolled along")
        << Moves([](T &t) { t.setSpan(T::OneMinute), t.zoom(10.0 / 60, Kept, 0, Kept), t.scroll(-5'000, 0, Kept); })
        << Kept << 7185LL << 7195LL << false;
    QTest::newRow("a time before what is shown is scrolled in")
        << Moves([](T &t) { t.reveal(1'000'000, 0, Kept); }) << Kept << 1000LL << 4600LL << false;
}

// The span chosen, following or paused, scrolled and zoomed: what the trend shows, in seconds.
void TestHistory::trendShowsTheTimeChosen()
{
    QFETCH(Moves, moves);
    QFETCH(qint64, latest);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(bool, following);

    TrendTimeline timeline;
    moves(timeline);
    const TrendTimeline::Range r = timeline.range(0, latest);
    QCOMPARE(QPair(r.from, r.to), QPair(from * 1000, to * 1000));
    QCOMPARE(timeline.following(), following);
}

void TestHistory::trendFitsOrFixesItsAxis_data()
{
    QTest::addColumn<TrendPlot::View>("view"); // of a trend with PV01 from 0 to 10, PV02 at 1000
    QTest::addColumn<double>("low");           // the axis' ends, or NaN for any
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("clipped"); // points of PV01 drawn at an edge

    const TrendTimeline::Range all{0, 60'000};
    const auto hidden = [](std::initializer_list<int> curves) {
        TrendPlot::Hidden h{};
        for (const int c : curves)
            h[size_t(c)] = true;
        return h;
    };
    using View = TrendPlot::View;
    QTest::newRow("fitted to every series") << View{all, {}, {}} << -50.0 << 1050.0 << 0;
    QTest::newRow("fitted to what is shown, PV02 hidden")
        << View{all, hidden({TrendPlot::ProcessValue2}), {}} << -0.5 << 10.5 << 0;
    QTest::newRow("fitted to the time shown, the last 10 s")
        << View{{50'000, 60'000}, hidden({TrendPlot::ProcessValue2}), {}} << 8.95 << 10.05 << 0;
    QTest::newRow("all hidden: a placeholder range")
        << View{all, hidden({0, 1, 2, 3}), {}} << -5.0 << 105.0 << 0;
    QTest::newRow("fixed around all: nothing clipped") << View{all, {}, {true, -20, 2000}} << -20.0 << 2000.0 << 0;
    QTest::newRow("fixed, PV01 below it at the start")
        << View{all, {}, {true, 3, 2000}} << 3.0 << 2000.0 << 3;
    QTest::newRow("fixed, PV01 above it at the end, and PV02")
        << View{all, {}, {true, -1, 8.5}} << -1.0 << 8.5 << 2;
}

// The value axis fits the series shown in the time shown, or is fixed, values beyond it
// drawn at its edge.
void TestHistory::trendFitsOrFixesItsAxis()
{
    QFETCH(TrendPlot::View, view);
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, clipped);

    Trend trend;
    for (int s = 0; s <= 10; ++s) // a reading every 6 s, steady
        trend.add(Trend::ProcessValue1, s * 6'000, s);
    trend.add(Trend::ProcessValue2, 30'000, 1000);
    const TrendPlot plot = TrendPlot::of(trend, view, 600, 0);
    QCOMPARE(plot.low, low);
    QCOMPARE(plot.high, high);
    QVERIFY(plot.hidden == view.hidden);
    QCOMPARE(plot.curves[TrendPlot::ProcessValue1].clipped.size(), clipped);
    for (int c = 0; c < TrendPlot::CurveCount; ++c) {
        const TrendPlot::Lines &lines = plot.curves[size_t(c)];
        if (view.hidden[size_t(c)])
            QVERIFY(lines.runs.isEmpty() && lines.marks.isEmpty());
        for (const QList<QPointF> &run : lines.runs + QList<QList<QPointF>>{lines.marks})
            for (const QPointF &p : run)
                QVERIFY2(p.y() >= plot.low && p.y() <= plot.high, qPrintable(QString::number(p.y())));
    }
}

void TestHistory::trendAxisIsFixedOnlyToARange_data()
{
    QTest::addColumn<QString>("low");
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("refusal"); // empty: taken
    const QString numbers = u"The lowest and the highest value must both be numbers."_s;
    const QString below = u"The lowest value must be below the highest."_s;
    QTest::newRow("0 to 100") << u"0"_s << u"100"_s << QString();
    QTest::newRow("blanks, a sign and an exponent") << u" -1.5 "_s << u"2e3"_s << QString();
    QTest::newRow("empty") << QString() << u"100"_s << numbers;
    QTest::newRow("a word") << u"0"_s << u"high"_s << numbers;
    QTest::newRow("infinite") << u"0"_s << u"inf"_s << numbers;
    QTest::newRow("equal") << u"5"_s << u"5"_s << below;
}

void TestHistory::trendAxisIsFixedOnlyToARange()
{
    QFETCH(QString, low);
    QFETCH(QString, high);
    QFETCH(QString, refusal);
    QString why = u"unset"_s;
    const std::optional<TrendAxis> axis = TrendAxis::fixedFrom(low, high, &why);
    QCOMPARE(why, refusal);
    QCOMPARE(axis.has_value(), refusal.isEmpty());
    if (axis)
        QVERIFY(axis->fixed && axis->low == low.toDouble() && axis->high == high.toDouble());
}

void TestHistory::trendReadsTheValueAtATime_data()
{
    QTest::addColumn<qint64>("at"); // in a trend of PV01 10 at 10 s, 20 at 20 s, 30 at 50 s,
                                    // and SV11 5 at 15 s, 7 at 40 s
    QTest::addColumn<QString>("readout");
    QTest::addColumn<qint64>("next"); // the next report's time, -1 for none
    QTest::addColumn<qint64>("previous");

    QTest::newRow("before the first value") << 0LL << u"PV01 10, SV11 -"_s << 10'000LL << -1LL;
    QTest::newRow("just after the first setting") << 15'001LL << u"PV01 20, SV11 5"_s << 20'000LL << 15'000LL;
    QTest::newRow("exactly between two readings: the earlier") << 15'000LL << u"PV01 10, SV11 5"_s << 20'000LL << 10'000LL;
    QTest::newRow("in a gap, nearer the later") << 36'000LL << u"PV01 30, SV11 5"_s << 40'000LL << 20'000LL;
    QTest::newRow("in a gap, nearer the earlier") << 30'000LL << u"PV01 20, SV11 5"_s << 40'000LL << 20'000LL;
    QTest::newRow("a setting in force since its last report") << 41'000LL << u"PV01 30, SV11 7"_s << 50'000LL << 40'000LL;
    QTest::newRow("after the last value") << 90'000LL << u"PV01 30, SV11 7"_s << -1LL << 50'000LL;
}

// Under the cursor: a process value's nearest reading, the setting in force; the arrow keys
// step from report to report of the shown series.
void TestHistory::trendReadsTheValueAtATime()
{
    QFETCH(qint64, at);
    QFETCH(QString, readout);
    QFETCH(qint64, next);
    QFETCH(qint64, previous);

    Trend trend;
    trend.add(Trend::ProcessValue1, 10'000, 10);
    trend.add(Trend::ProcessValue1, 20'000, 20);
    trend.add(Trend::ProcessValue1, 50'000, 30);
    trend.add(Trend::Setpoint1, 15'000, 5);
    trend.add(Trend::Setpoint1, 40'000, 7);
    const TrendPlot::Hidden hidden{false, true, false, true};
    const QStringList lines = TrendReadout::of(trend, at, hidden).lines(hidden);
    QCOMPARE(lines.first(), QDateTime::fromMSecsSinceEpoch(at).toString(u"HH:mm:ss.zzz"_s));
    QCOMPARE(lines.sliced(1).join(u", "), readout);
    const TrendTimeline::Range all{0, 90'000};
    QCOMPARE(TrendReadout::step(trend, at, true, hidden, all).value_or(-1), next);
    QCOMPARE(TrendReadout::step(trend, at, false, hidden, all).value_or(-1), previous);
}

void TestHistory::hostileTextComesBackFromCsv_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("read");

    QTest::newRow("plain") << QByteArray("SV11=50") << u"SV11=50"_s;
    QTest::newRow("comma") << QByteArray("a,b,,c") << u"a,b,,c"_s;
    QTest::newRow("quotes") << QByteArray("say \"hi\" \"\"") << u"say \"hi\" \"\""_s;
    QTest::newRow("line feeds") << QByteArray("one\ntwo\n") << u"one\ntwo\n"_s;
    QTest::newRow("carriage return") << QByteArray("x\ry") << u"x\ry"_s;
    QTest::newRow("carriage return last") << QByteArray("x\r") << u"x\r"_s;
    QTest::newRow("line feed alone") << QByteArray("x\ny") << u"x\ny"_s;
    QTest::newRow("markup") << QByteArray("<b>x</b><img src=/etc/passwd>") << u"<b>x</b><img src=/etc/passwd>"_s;
    QTest::newRow("control bytes") << QByteArray("\x01\x1b[31m\x7f\t", 8) << u"\x01\x1b[31m\x7f\t"_s;
    QTest::newRow("NUL") << QByteArray("a\0b", 3) << QString(u"a\0b"_s);
    QTest::newRow("8-bit bytes as the panel shows them")
        << QByteArray("25\xb0" "C \xb5s \xd6\xff") << u"25°C µs Öÿ"_s;
    QTest::newRow("8-bit with a quote") << QByteArray("\xe9\"") << u"é\""_s;
    QTest::newRow("leading blanks kept") << QByteArray("  7 ") << u"  7 "_s;
    QTest::newRow("empty") << QByteArray() << QString();
}

// A row per entry, whatever the text: an ordinary reader gets the same text back.
void TestHistory::hostileTextComesBackFromCsv()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, read);

    HistoryRing ring;
    ring.append(HistoryRing::Direction::Received, line, 1'700'000'000'123);
    ring.append(HistoryRing::Direction::Sent, "PV01?", 1'700'000'000'124);
    // A client's lines and notes keep the four columns; the direction says whose they are.
    ring.append(HistoryRing::Direction::Sent, line, 1'700'000'000'125, false, 3);
    ring.append(HistoryRing::Direction::Refused, line, 1'700'000'000'126, true, 3);
    ring.append(HistoryRing::Direction::Note, "dropped", 1'700'000'000'127, false, 70000);
    const QByteArray csv = CsvFormat::header() + CsvFormat::rows(ring, 0, ring.size());
    const QList<QStringList> rows = readCsv(csv);
    QCOMPARE(rows.size(), 6);
    QCOMPARE(rows[3].mid(1), (QStringList{u"sent (client 3)"_s, read, rows[1][3]}));
    QCOMPARE(rows[4].mid(1), (QStringList{u"refused (client 3; cut)"_s, read, rows[1][3]}));
    QCOMPARE(rows[5].mid(1), (QStringList{u"note (client 65535)"_s, u"dropped"_s, rows[1][3]}));
    QCOMPARE(rows[0], (QStringList{u"time"_s, u"direction"_s, u"text"_s, u"utc_offset"_s}));
    QCOMPARE(rows[1].size(), 4);
    QCOMPARE(rows[1][1], u"received"_s);
    QCOMPARE(rows[1][2], read);
    QCOMPARE(rows[2].mid(1), (QStringList{u"sent"_s, u"PV01?"_s, rows[1][3]}));
}

// Each row's time is the entry's local time to the millisecond, also across a second
// boundary, where the formatter works the date out again.
void TestHistory::timesAreLocalIsoWithMilliseconds()
{
    CsvFormat format;
    const qint64 base = QDateTime(QDate(2026, 12, 7), QTime(18, 5, 30)).toMSecsSinceEpoch();
    for (const qint64 offset : {0, 7, 999, 1000, 1042, 61'005, 86'400'000 + 3}) {
        QByteArray out;
        format.appendLocalTime(out, base + offset);
        const QDateTime expected = QDateTime::fromMSecsSinceEpoch(base + offset);
        QCOMPARE(QString::fromLatin1(out), expected.toString(u"yyyy-MM-ddTHH:mm:ss.zzz"_s));
    }
}

#ifdef Q_OS_UNIX
void TestHistory::timesAreLocalWithTheirOffset_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("utc");
    QTest::addColumn<QString>("local"); // time and offset
    QTest::newRow("02:30 in Berlin before the clocks go back")
        << QByteArray("Europe/Berlin") << u"2026-10-25T00:30:00Z"_s << u"2026-10-25T02:30:00.000 +02:00"_s;
    QTest::newRow("02:30 in Berlin again after")
        << QByteArray("Europe/Berlin") << u"2026-10-25T01:30:00Z"_s << u"2026-10-25T02:30:00.000 +01:00"_s;
    QTest::newRow("half an hour off")
        << QByteArray("Asia/Kolkata") << u"2026-12-07T12:35:31.042Z"_s << u"2026-12-07T18:05:31.042 +05:30"_s;
    QTest::newRow("behind UTC, the day before")
        << QByteArray("America/New_York") << u"2026-01-01T04:59:59.999Z"_s << u"2025-12-31T23:59:59.999 -05:00"_s;
}

// The time the clock on the wall showed, and its offset, which tells apart the hour that
// repeats in autumn.
void TestHistory::timesAreLocalWithTheirOffset()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, utc);
    QFETCH(QString, local);
    const QByteArray oldZone = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", zone);
    tzset();
    HistoryRing ring;
    const qint64 msecs = QDateTime::fromString(utc, Qt::ISODateWithMs).toMSecsSinceEpoch();
    ring.append(HistoryRing::Direction::Received, "PV01=1", msecs);
    const QStringList row = readCsv(CsvFormat::rows(ring, 0, ring.size())).value(0);
    hadZone ? qputenv("TZ", oldZone) : qunsetenv("TZ");
    tzset();
    QCOMPARE(row.value(0) + u' ' + row.value(3), local);
}
#endif

void TestHistory::failedSaveLeavesTheOldFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"history.csv"_s);
    HistoryRing ring;
    ring.append(HistoryRing::Direction::Received, "first", 1);
    QString error;
    QVERIFY(CsvFormat::save(ring, path, &error));
    const QByteArray saved = fileBytes(path);
    QVERIFY(saved.startsWith(CsvFormat::header()));
    QCOMPARE(readCsv(saved).constLast().mid(1, 2), (QStringList{u"received"_s, u"first"_s}));

    ring.append(HistoryRing::Direction::Received, "second", 2);
#ifdef Q_OS_WIN
    {
        // Open in another program (a spreadsheet holds the file): it cannot be replaced.
        QFile open(path);
        QVERIFY(open.open(QIODevice::ReadOnly));
        QVERIFY(!CsvFormat::save(ring, path, &error));
    }
#else
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        Unprivileged asUser;
        QVERIFY(!CsvFormat::save(ring, path, &error));
    }
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
    QVERIFY(!error.isEmpty());
    QCOMPARE(fileBytes(path), saved);
}

// Both directions in the order they crossed, the reported values in the trend, and lines of
// one read sharing its time.
void TestHistory::linkLinesAndCommandsAreRecordedInOrder()
{
    SessionFixture f;
    qint64 clock = 5000;
    SessionHistory history(SessionHistory::Limits{}, [&clock] { return clock++; });
    f.link.setTap(&history);
    QSignalSpy changed(&history, &SessionHistory::changed);

    f.identify();
    f.serial.feedNow("PV01=12.5\rSV11=40\rSV21=1e40\rSV21=60\rjunk\rSV01=3\rPV02= -7\r");
    f.s().pressPreset(2, 100);

    const HistoryRing &ring = history.ring();
    QStringList seen;
    for (qsizetype i = 0; i < ring.size(); ++i)
        seen << (ring.at(i).direction == HistoryRing::Direction::Sent ? u">"_s : u"<"_s)
                    + QString::fromLatin1(ring.at(i).text);
    QCOMPARE(seen, (QStringList{u">I?"_s, u"<"_s + f.s().state().ucApp, u"<PV01=12.5"_s, u"<SV11=40"_s, u"<SV21=1e40"_s,
                                u"<SV21=60"_s, u"<junk"_s, u"<SV01=3"_s, u"<PV02= -7"_s, u">SV21=100"_s, u">PV02?"_s}));
    QCOMPARE(ring.at(2).msecs, ring.at(8).msecs); // one read
    QVERIFY(ring.at(9).msecs > ring.at(8).msecs);
    QVERIFY(changed.count() >= 4); // per read and per command, not per line

    const Trend &trend = history.trend();
    QCOMPARE(trend.size(Trend::ProcessValue1), 1);
    QCOMPARE(trend.at(Trend::ProcessValue1, 0).value, 12.5);
    QCOMPARE(trend.at(Trend::ProcessValue2, 0).value, -7.0);
    QCOMPARE(trend.size(Trend::Setpoint1), 1);
    QCOMPARE(trend.at(Trend::Setpoint1, 0).value, 40.0);
    QCOMPARE(trend.size(Trend::Setpoint2), 1); // 1e40 is beyond single precision: no value
    QCOMPARE(trend.at(Trend::Setpoint2, 0).value, 60.0);
    QCOMPARE(trend.at(Trend::FrequencyCode, 0).value, 3.0);
    QCOMPARE(trend.at(Trend::FrequencyCode, 0).msecs, ring.at(7).msecs);

    // A line too long to handle is kept as its beginning, marked; one that fits is whole.
    f.serial.feedNow(QByteArray(40'000, 'A') + '\r' + QByteArray(LineAssembler::MaxLine, 'B') + '\r');
    const HistoryRing::Entry cut = ring.at(ring.size() - 2), whole = ring.at(ring.size() - 1);
    QVERIFY(cut.cut && cut.text == QByteArray(LineAssembler::MaxLine + 1, 'A'));
    QVERIFY(!whole.cut && whole.text.size() == LineAssembler::MaxLine);
    const QList<QStringList> rows = readCsv(CsvFormat::rows(ring, ring.size() - 2, ring.size()));
    QCOMPARE(rows[0][1], u"received (cut)"_s);
    QCOMPARE(rows[1][1], u"received"_s);
}

// Each series keeps its newest values up to its bound, in order.
void TestHistory::trendKeepsItsBound()
{
    Trend trend(3);
    for (int i = 0; i < 5; ++i)
        trend.add(Trend::ProcessValue1, i, i);
    QCOMPARE(trend.size(Trend::ProcessValue1), 3);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(trend.at(Trend::ProcessValue1, k).value, double(k + 2));
}

// What one read brought is in the file when the read has been handled, before anything else
// runs; a command is in the file before its pause.
void TestHistory::recordingReachesTheFileBeforeTheEventLoop()
{
    SessionFixture f;
    SessionHistory history;
    f.link.setTap(&history);
    const QString path = f.dir.filePath(u"run.csv"_s);
    Recorder recorder(path);
    QVERIFY(recorder.open());
    history.setRecorder(&recorder);
    QCOMPARE(fileBytes(path), CsvFormat::header());

    f.identify();
    f.serial.feedNow("a,b\rline 2\r");
    QList<QStringList> rows = readCsv(fileBytes(path));
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows[3].mid(1, 2), (QStringList{u"received"_s, u"a,b"_s}));

    QByteArray inPause;
    f.pacer.actions << [&] { inPause = fileBytes(path); };
    f.s().pressPreset(1, 50);
    QCOMPARE(readCsv(inPause).constLast().mid(1, 2), (QStringList{u"sent"_s, u"SV11=50"_s}));

    // Each further recording of the same file appends without a second header, on a row of its
    // own also after a row an earlier run left torn.
    for (const QByteArray &torn : {QByteArray(), QByteArray("2026-12-07T18:05:31.042,received,PV")}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append) && file.write(torn) == torn.size() && file.flush());
        const qsizetype before = readCsv(fileBytes(path)).size();
        Recorder again(path);
        QVERIFY(again.open());
        again.add({1, HistoryRing::Direction::Received, "more"});
        again.flush();
        rows = readCsv(fileBytes(path));
        QCOMPARE(rows.size(), before + 1);
        QCOMPARE(rows.constLast().value(2), u"more"_s);
    }
    QCOMPARE(rows.count(QStringList{u"time"_s, u"direction"_s, u"text"_s, u"utc_offset"_s}), 1);
    QCOMPARE(rows[rows.size() - 2].value(2), u"PV"_s);
}

void TestHistory::recordingFailureIsReportedOnce_data()
{
    QTest::addColumn<QString>("path"); // a relative one in a new folder
    QTest::addColumn<int>("sizeLimit"); // 0: none
    QTest::addColumn<QString>("reason");
#ifdef Q_OS_WIN
    QTest::newRow("no such folder") << u"/nonexistent-folder/run.csv"_s << 0 << u"path"_s;
#else
    QTest::newRow("no such folder") << u"/nonexistent-folder/run.csv"_s << 0 << u"No such file or directory"_s;
#endif
#ifdef Q_OS_LINUX
    QTest::newRow("full disk") << u"/dev/full"_s << 0 << u"the disk is full"_s;
    // The header and the first row fit, the next row only in part.
    QTest::newRow("file full in the middle of a row") << u"run.csv"_s << 100 << u"File too large"_s;
#endif
}

// The recording stops with one report that says why; the lines go on into the history. What
// is in the file is whole rows.
void TestHistory::recordingFailureIsReportedOnce()
{
    QFETCH(QString, path);
    QFETCH(int, sizeLimit);
    QFETCH(QString, reason);
    SessionFixture f;
    SessionHistory history;
    f.link.setTap(&history);
    path = QDir(f.dir.path()).filePath(path);
    Recorder recorder(path);
    QSignalSpy failed(&recorder, &Recorder::failed);
    {
#ifdef Q_OS_LINUX
        std::optional<FileSizeLimit> limit;
        if (sizeLimit > 0)
            QVERIFY(limit.emplace(sizeLimit).set);
#endif
        QCOMPARE(recorder.open(), sizeLimit > 0);
        history.setRecorder(&recorder);
        f.identify();
        for (int i = 0; i < 5; ++i)
            f.serial.feedNow("PV01=" + QByteArray::number(i) + '\r');
    }
    QCOMPARE(failed.count(), 1);
    const QString message = failed[0][0].toString();
    QVERIFY2(message.contains(path) && message.contains(reason, Qt::CaseInsensitive), qPrintable(message));
    QVERIFY(!recorder.isRecording());
    QCOMPARE(history.ring().size(), 7);
    if (sizeLimit > 0) // the torn row taken back
        QCOMPARE(readCsv(fileBytes(path)).constLast().value(2), u"I?"_s);
}

#ifdef Q_OS_UNIX
void TestHistory::recordingStopsWhenTheFileIsRemoved_data()
{
    QTest::addColumn<bool>("renamedOver"); // else removed
    QTest::newRow("removed") << false;
    QTest::newRow("another file renamed over it") << true;
}

void TestHistory::recordingStopsWhenTheFileIsRemoved()
{
    QFETCH(bool, renamedOver);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"run.csv"_s);
    Recorder recorder(path);
    QSignalSpy failed(&recorder, &Recorder::failed);
    QVERIFY(recorder.open());
    QSaveFile other(path); // written aside, then renamed over the path
    if (renamedOver)
        QVERIFY(other.open(QIODevice::WriteOnly) && other.write("other\r\n") == 7 && other.commit());
    else
        QVERIFY(QFile::remove(path));
    QTest::qWait(1100); // the path is looked at once a second
    for (int i = 0; i < 3; ++i) {
        recorder.add({i, HistoryRing::Direction::Received, "x"});
        recorder.flush();
    }
    QCOMPARE(failed.count(), 1);
    QVERIFY(failed[0][0].toString().contains(u"removed or replaced"_s));
    QCOMPARE(fileBytes(path), renamedOver ? QByteArray("other\r\n") : QByteArray());
}
#endif

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
