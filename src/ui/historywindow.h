#pragma once

#include "history/trendplot.h"
#include "history/trendtimeline.h"
#include "showthrottle.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class HistoryModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QTableView;
class SessionHistory;
class TrendView;

// The session's history in a window of its own, beside the panel: a trend of the process
// values and the reported setpoints, and a table of every line sent and received, newest at
// the bottom, following new lines unless the operator has scrolled up. It can save the history
// as CSV, copy the selected rows and clear the history. While it is hidden it costs nothing; it
// follows new lines as ShowThrottle decides.
//
// The trend shows a span (a minute to all that is kept), following the latest report or
// paused where the user scrolled, dragged or zoomed it, while every line is still kept; the
// values under the cursor or at the report the arrow keys step to; an axis fitted or fixed;
// the series not hidden from its legend. Save image... and Copy (the trend focused) give the
// picture as shown. None of it is remembered between runs.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int TrendRefreshMs = 500; // the trend is redrawn at most this often
    static constexpr int TrendPointsShown = 600; // per series, about: two a pixel column or so
    static constexpr int TrendMarkersUpTo = 120; // measured values are marked while this few

    explicit HistoryWindow(SessionHistory &history, const QString &caption, QWidget *parent = nullptr);
    ~HistoryWindow() override;

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
    const TrendTimeline &timeline() const { return m_timeline; }
    HistoryModel *model() const { return m_model; }

    // What the table and the trend show, brought up to date now.
    void showPending() { m_throttle.request(0), m_throttle.showPending(); }

    // The bottom line's note of the board being shared at `where` with `clients` clients.
    void showSharing(const QString &where, int clients);
    QString sharingText() const;

    // The selected rows as CSV rows, oldest first.
    QByteArray selectedRows() const;
    bool saveAs(const QString &path);
    // The trend as shown, as a PNG at the screen's pixel density; replaced atomically.
    bool saveImage(const QString &path);

public slots:
    void copySelection();
    void chooseFileAndSave();
    void copyImage();
    void chooseFileAndSaveImage();

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool showNewEntries();
    void refreshTrend();
    void updateCount();
    void buildTrendControls(QWidget *row);
    // What is kept, or nothing before the first value.
    std::optional<TrendTimeline::Range> kept() const;
    // After the user changed the view: redrawn at once.
    void viewChanged();
    void showReadout();
    void stepReadout(bool forward);
    void applyAxis();
    void updateTimeBar(const std::optional<TrendTimeline::Range> &kept, TrendTimeline::Range shown);

    SessionHistory &m_history;
    HistoryModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    TrendView *m_trend = nullptr;
    QLabel *m_count = nullptr;
    QLabel *m_sharing = nullptr;
    QComboBox *m_span = nullptr;
    QPushButton *m_follow = nullptr;
    QLabel *m_viewState = nullptr;
    QComboBox *m_axisMode = nullptr;
    QLineEdit *m_low = nullptr, *m_high = nullptr;
    QLabel *m_axisRefusal = nullptr;
    QScrollBar *m_timeBar = nullptr;
    QWidget *m_lastView = nullptr; // the trend or the table, whichever had the focus last
    QMetaObject::Connection m_focusWatch;
    TrendTimeline m_timeline;
    TrendPlot::Hidden m_hidden{};
    TrendAxis m_axis;
    std::optional<qint64> m_readoutAt;
    std::optional<TrendPlot::View> m_viewShown; // of the plot on screen
    bool m_settingBar = false;
    ShowThrottle m_throttle;
    quint64 m_requestedEnd = 0;
    quint64 m_trendShown = ~quint64(0); // the trend generation on screen
    QElapsedTimer m_trendDrawn;
    QTimer m_trendTimer;
    bool m_placed = false;
};
