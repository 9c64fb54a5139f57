#include "historywindow.h"

#include "history/csvformat.h"
#include "history/sessionhistory.h"
#include "historymodel.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

struct Plotted {
    Trend::Series series;
    const char *name;
    bool steps; // a setting that holds until the next report
};
constexpr Plotted plotted[] = {
    {Trend::ProcessValue1, QT_TRANSLATE_NOOP("HistoryWindow", "PV01 process value 1"), false},
    {Trend::ProcessValue2, QT_TRANSLATE_NOOP("HistoryWindow", "PV02 process value 2"), false},
    {Trend::Setpoint1, QT_TRANSLATE_NOOP("HistoryWindow", "SV11 output 1 setpoint"), true},
    {Trend::Setpoint2, QT_TRANSLATE_NOOP("HistoryWindow", "SV21 output 2 setpoint"), true},
};

// The points of one series from `since` on, at most about `limit` of them: where there are
// more, each stretch keeps its lowest and highest value, in time order. A setting is drawn as
// steps, held until `until`.
QList<QPointF> pointsOf(const Trend &trend, Trend::Series series, qint64 since, qint64 until, int limit, bool steps)
{
    const qsizetype n = trend.size(series);
    qsizetype from = n;
    while (from > 0 && trend.at(series, from - 1).msecs >= since)
        --from;
    QList<QPointF> out;
    const qsizetype count = n - from;
    const qsizetype buckets = std::max<qsizetype>(1, limit / 2);
    const qsizetype per = count > limit ? (count + buckets - 1) / buckets : 1;
    for (qsizetype b = from; b < n; b += per) {
        const qsizetype end = std::min(n, b + per);
        Trend::Point lo = trend.at(series, b), hi = lo;
        for (qsizetype i = b + 1; i < end; ++i) {
            const Trend::Point p = trend.at(series, i);
            if (p.value < lo.value)
                lo = p;
            if (p.value > hi.value)
                hi = p;
        }
        for (const Trend::Point &p : lo.msecs <= hi.msecs ? std::array{lo, hi} : std::array{hi, lo}) {
            if (!out.isEmpty() && out.constLast().x() == double(p.msecs) && out.constLast().y() == p.value)
                continue;
            if (steps && !out.isEmpty())
                out.append(QPointF(double(p.msecs), out.constLast().y()));
            out.append(QPointF(double(p.msecs), p.value));
        }
    }
    if (steps && !out.isEmpty() && out.constLast().x() < double(until))
        out.append(QPointF(double(until), out.constLast().y())); // it holds until the latest report
    return out;
}

} // namespace

HistoryWindow::HistoryWindow(SessionHistory &history, const QString &caption, QWidget *parent)
    : QWidget(parent, Qt::Window), m_history(history), m_throttle(this, [this] { return showNewEntries(); })
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(tr("History - %1").arg(caption));
    resize(760, 560);

    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_chart->setMargins(QMargins(4, 4, 4, 4));
    m_timeAxis = new QDateTimeAxis;
    m_timeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    m_timeAxis->setTickCount(5);
    m_timeAxis->setTitleText(tr("Time"));
    m_valueAxis = new QValueAxis;
    m_valueAxis->setTitleText(tr("Value"));
    m_valueAxis->setLabelFormat(QStringLiteral("%.4g"));
    m_valueAxis->setTickType(QValueAxis::TicksDynamic);
    m_valueAxis->setTickAnchor(0);
    m_chart->addAxis(m_timeAxis, Qt::AlignBottom);
    m_chart->addAxis(m_valueAxis, Qt::AlignLeft);
    for (size_t k = 0; k < m_series.size(); ++k) {
        auto *s = new QLineSeries;
        s->setName(tr(plotted[k].name));
        m_chart->addSeries(s);
        s->attachAxis(m_timeAxis);
        s->attachAxis(m_valueAxis);
        m_series[k] = s;
    }
    m_chartView = new QChartView(m_chart);
    m_chartView->setObjectName(QStringLiteral("trend"));
    m_chartView->setAccessibleName(tr("Trend of the reported values"));
    m_chartView->setMinimumHeight(140);

    m_model = new HistoryModel(history.ring(), this);
    m_table = new QTableView;
    m_table->setObjectName(QStringLiteral("historyTable"));
    m_table->setAccessibleName(tr("Every line sent and received"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->setColumnWidth(HistoryModel::TimeColumn, m_table->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 16);
    m_table->setColumnWidth(HistoryModel::DirectionColumn, m_table->fontMetrics().horizontalAdvance(tr("received")) + 16);

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(m_chartView);
    splitter->addWidget(m_table);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 230});

    m_count = new QLabel;
    m_count->setObjectName(QStringLiteral("historyCount"));
    m_count->setTextFormat(Qt::PlainText);
    auto *copy = new QPushButton(tr("&Copy"));
    copy->setObjectName(QStringLiteral("historyCopy"));
    auto *clear = new QPushButton(tr("C&lear"));
    clear->setObjectName(QStringLiteral("historyClear"));
    auto *save = new QPushButton(tr("&Save as CSV..."));
    save->setObjectName(QStringLiteral("historySave"));
    connect(copy, &QPushButton::clicked, this, &HistoryWindow::copySelection);
    connect(clear, &QPushButton::clicked, &m_history, &SessionHistory::clear);
    connect(save, &QPushButton::clicked, this, &HistoryWindow::chooseFileAndSave);
    auto *copyKey = new QShortcut(QKeySequence::Copy, m_table, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, &HistoryWindow::copySelection);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_count, 1);
    buttons->addWidget(copy);
    buttons->addWidget(clear);
    buttons->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);

    m_trendTimer.setSingleShot(true);
    connect(&m_trendTimer, &QTimer::timeout, this, &HistoryWindow::refreshTrend);
    connect(&m_history, &SessionHistory::changed, this, [this] {
        if (!isVisible())
            return;
        const quint64 end = m_history.ring().endSerial();
        m_throttle.request(int(std::min<quint64>(end - m_requestedEnd, 1'000'000)));
        m_requestedEnd = end;
    });
    updateCount();
}

QRect HistoryWindow::placeBeside(const QRect &panel, const QRect &screen, QSize wanted, QSize minimum)
{
    constexpr int gap = 8;
    // The free stretches of the screen to the right of the panel, to its left, below and above.
    const QRect free[] = {
        QRect(QPoint(panel.right() + 1 + gap, screen.top()), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(panel.left() - 1 - gap, screen.bottom())),
        QRect(QPoint(screen.left(), panel.bottom() + 1 + gap), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(screen.right(), panel.top() - 1 - gap)),
    };
    QRect best;
    for (const QRect &room : free) {
        if (room.width() < minimum.width() || room.height() < minimum.height())
            continue;
        const QSize size = wanted.boundedTo(room.size());
        if (best.isValid() && size.width() * size.height() <= best.width() * best.height())
            continue;
        // As close to the panel as the room allows.
        const bool side = room.height() == screen.height();
        const int x = side ? (room.left() > panel.left() ? room.left() : room.right() + 1 - size.width())
                           : std::clamp(panel.left(), room.left(), room.right() + 1 - size.width());
        const int y = side ? std::clamp(panel.top(), room.top(), room.bottom() + 1 - size.height())
                           : (room.top() > panel.top() ? room.top() : room.bottom() + 1 - size.height());
        best = QRect(QPoint(x, y), size);
    }
    return best.isValid() ? best : QRect(screen.topLeft(), wanted.boundedTo(screen.size()));
}

void HistoryWindow::showBeside(const QWidget *panel)
{
    if (!m_placed && panel) {
        m_placed = true;
        const QScreen *screen = panel->screen();
        const QSize frame = frameGeometry().size() - size(); // what the window manager adds
        if (screen) {
            const QRect at = placeBeside(panel->frameGeometry(), screen->availableGeometry(), size() + frame,
                                         minimumSizeHint() + frame);
            resize(at.size() - frame);
            move(at.topLeft());
        }
    }
    show();
    raise();
    activateWindow();
}

// What came while it was hidden, at once.
void HistoryWindow::showEvent(QShowEvent *event)
{
    m_requestedEnd = m_history.ring().endSerial();
    showPending();
    m_table->scrollToBottom();
    QWidget::showEvent(event);
}

bool HistoryWindow::showNewEntries()
{
    QScrollBar *bar = m_table->verticalScrollBar();
    const bool following = bar->value() >= bar->maximum();
    const qsizetype added = m_model->refresh();
    if (following && added > 0)
        m_table->scrollToBottom();
    updateCount();
    if (m_history.trend().generation() != m_trendShown && !m_trendTimer.isActive()) {
        const qint64 since = m_trendDrawn.isValid() ? m_trendDrawn.elapsed() : TrendRefreshMs;
        if (since >= TrendRefreshMs)
            refreshTrend();
        else
            m_trendTimer.start(int(TrendRefreshMs - since));
    }
    return true;
}

void HistoryWindow::updateCount()
{
    const HistoryRing &ring = m_history.ring();
    m_count->setText(tr("%1 lines kept (at most %2)")
                         .arg(QLocale().toString(qlonglong(ring.size())), QLocale().toString(qlonglong(ring.maxEntries()))));
}

void HistoryWindow::refreshTrend()
{
    const Trend &trend = m_history.trend();
    m_trendShown = trend.generation();
    m_trendDrawn.start();
    qint64 latest = 0;
    for (const Plotted &p : plotted)
        if (trend.size(p.series) > 0)
            latest = std::max(latest, trend.at(p.series, trend.size(p.series) - 1).msecs);
    const qint64 since = latest - TrendSpanMs;
    double lo = qInf(), hi = -qInf();
    qint64 first = latest;
    for (size_t k = 0; k < m_series.size(); ++k) {
        const QList<QPointF> points = pointsOf(trend, plotted[k].series, since, latest, TrendPointsShown, plotted[k].steps);
        for (const QPointF &p : points) {
            lo = std::min(lo, p.y());
            hi = std::max(hi, p.y());
        }
        if (!points.isEmpty())
            first = std::min(first, qint64(points.constFirst().x()));
        m_series[k]->replace(points);
        m_series[k]->setVisible(!points.isEmpty());
        // Where measured values are few, each is marked where it was taken.
        m_series[k]->setPointsVisible(!plotted[k].steps && points.size() <= TrendMarkersUpTo);
    }
    if (lo > hi) { // nothing reported yet
        lo = 0, hi = 100;
        first = latest = QDateTime::currentMSecsSinceEpoch();
    }
    if (lo == hi)
        lo -= 1, hi += 1;
    const double pad = (hi - lo) * 0.05;
    m_valueAxis->setRange(lo - pad, hi + pad);
    // Ticks at round values: 1, 2 or 5 times a power of ten, about four across.
    const double rough = (hi - lo) / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    const double step = rough / power < 1.5 ? power : rough / power < 3.5 ? 2 * power : rough / power < 7.5 ? 5 * power : 10 * power;
    m_valueAxis->setTickInterval(step);
    if (latest - first < 60'000)
        first = latest - 60'000; // at least a minute across
    m_timeAxis->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(latest));
}

QByteArray HistoryWindow::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &i : m_table->selectionModel()->selectedRows())
        rows.append(i.row());
    std::sort(rows.begin(), rows.end());
    CsvFormat format;
    QByteArray out;
    for (const int row : rows) {
        const qsizetype at = m_model->ringIndex(row);
        if (at >= 0)
            format.appendRow(out, m_history.ring().at(at));
    }
    return out;
}

void HistoryWindow::copySelection()
{
    const QByteArray rows = selectedRows();
    if (!rows.isEmpty())
        QApplication::clipboard()->setText(QString::fromUtf8(rows));
}

bool HistoryWindow::saveAs(const QString &path)
{
    QString error;
    if (CsvFormat::save(m_history.ring(), path, &error))
        return true;
    QMessageBox::warning(this, tr("History not saved"),
                         tr("The history could not be saved to %1:\n%2\n\nAny file of that name is as it was.")
                             .arg(QDir::toNativeSeparators(path), error));
    return false;
}

void HistoryWindow::chooseFileAndSave()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save history as CSV"),
                                                      QStringLiteral("history.csv"), tr("CSV files (*.csv);;All files (*)"));
    if (!path.isEmpty())
        saveAs(path);
}
