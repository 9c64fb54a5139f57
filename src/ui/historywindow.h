#pragma once

#include "showthrottle.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class HistoryModel;
class QLabel;
class QTableView;
class SessionHistory;
class TrendView;

// The session's history in a window of its own, beside the panel: a trend of the process
// values and the reported setpoints over the last hour, and a table of every line sent and
// received, newest at the bottom, following new lines unless the operator has scrolled up.
// It can save the history as CSV, copy the selected rows and clear the history. While it is
// hidden it costs nothing; it follows new lines as ShowThrottle decides.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr qint64 TrendSpanMs = 60 * 60 * 1000;
    static constexpr int TrendRefreshMs = 500; // the trend is redrawn at most this often
    static constexpr int TrendPointsShown = 600; // per series, about: two a pixel column or so
    static constexpr int TrendMarkersUpTo = 120; // measured values are marked while this few

    explicit HistoryWindow(SessionHistory &history, const QString &caption, QWidget *parent = nullptr);

    // Shows and raises the window, the first time placed beside `panel` without covering it.
    void showBeside(const QWidget *panel);
    // The smallest the window is made to fit beside the panel, frame included: the trend and
    // a few rows of the table still readable.
    static constexpr QSize ReadableSize{360, 240};

    // Where a window of `wanted` size (frame included) goes on `screen` beside `panel`: in the
    // free stretch that gives it the most room, shorter or narrower where it must be but no
    // smaller than `minimum`, as near the panel as it can be. Only where no stretch is that
    // large does it cover the panel: at `minimum` across the edge of the panel where it covers
    // the least of it; of edges alike, below first (the panel's help button and device line),
    // then the sides, and above (the status line) last.
    static QRect placeBeside(const QRect &panel, const QRect &screen, QSize wanted, QSize minimum);

    QTableView *table() const { return m_table; }
    TrendView *trend() const { return m_trend; }
    HistoryModel *model() const { return m_model; }

    // What the table and the trend show, brought up to date now.
    void showPending() { m_throttle.request(0), m_throttle.showPending(); }

    // The bottom line's note of the board being shared at `where` with `clients` clients.
    void showSharing(const QString &where, int clients);
    QString sharingText() const;

    // The selected rows as CSV rows, oldest first.
    QByteArray selectedRows() const;
    bool saveAs(const QString &path);

public slots:
    void copySelection();
    void chooseFileAndSave();

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool showNewEntries();
    void refreshTrend();
    void updateCount();

    SessionHistory &m_history;
    HistoryModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    TrendView *m_trend = nullptr;
    QLabel *m_count = nullptr;
    QLabel *m_sharing = nullptr;
    ShowThrottle m_throttle;
    quint64 m_requestedEnd = 0;
    quint64 m_trendShown = ~quint64(0); // the trend generation on screen
    QElapsedTimer m_trendDrawn;
    QTimer m_trendTimer;
    bool m_placed = false;
};
