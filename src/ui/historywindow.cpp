#include "historywindow.h"

#include "history/csvformat.h"
#include "history/sessionhistory.h"
#include "history/trendreadout.h"
#include "historymodel.h"
#include "trendview.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>


HistoryWindow::HistoryWindow(SessionHistory &history, const QString &caption, QWidget *parent)
    : QWidget(parent, Qt::Window), m_history(history), m_throttle(this, [this] { return showNewEntries(); })
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(tr("History - %1").arg(caption));
    resize(760, 560);

    m_trend = new TrendView;
    // The trend's own controls in a row above it, its time bar below it.
    auto *trendPane = new QWidget;
    m_timeBar = new QScrollBar(Qt::Horizontal);
    m_timeBar->setObjectName(QStringLiteral("trendTime"));
    m_timeBar->setAccessibleName(tr("Time shown in the trend"));
    auto *controls = new QWidget;
    buildTrendControls(controls);
    auto *trendLayout = new QVBoxLayout(trendPane);
    trendLayout->setContentsMargins(0, 0, 0, 0);
    trendLayout->setSpacing(2);
    trendLayout->addWidget(controls);
    trendLayout->addWidget(m_trend, 1);
    trendLayout->addWidget(m_timeBar);
    // As small as the trend itself may be: in a window that small, the controls give way.
    trendPane->setMinimumHeight(m_trend->minimumSizeHint().height());

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
    m_table->setColumnWidth(HistoryModel::DirectionColumn, m_table->fontMetrics().horizontalAdvance(tr("received (cut)")) + 16);

    auto *splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(trendPane);
    splitter->addWidget(m_table);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({270, 230});

    m_count = new QLabel;
    m_count->setObjectName(QStringLiteral("historyCount"));
    m_count->setTextFormat(Qt::PlainText);
    m_count->setMinimumWidth(0);
    m_count->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // it gives way to the buttons
    auto *copy = new QPushButton(tr("&Copy"));
    copy->setObjectName(QStringLiteral("historyCopy"));
    auto *clear = new QPushButton(tr("C&lear"));
    clear->setObjectName(QStringLiteral("historyClear"));
    auto *save = new QPushButton(tr("&Save as CSV..."));
    save->setObjectName(QStringLiteral("historySave"));
    connect(copy, &QPushButton::clicked, this, [this] { m_lastView == m_trend ? copyImage() : copySelection(); });
    connect(clear, &QPushButton::clicked, &m_history, &SessionHistory::clear);
    connect(save, &QPushButton::clicked, this, &HistoryWindow::chooseFileAndSave);
    auto *copyKey = new QShortcut(QKeySequence::Copy, m_table, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, &HistoryWindow::copySelection);
    auto *copyImageKey = new QShortcut(QKeySequence::Copy, m_trend, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyImageKey, &QShortcut::activated, this, &HistoryWindow::copyImage);
    // Copy copies what was looked at last: the trend's picture or the table's rows.
    m_lastView = m_table;
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (now == m_trend || now == m_table)
            m_lastView = now;
    });

    m_sharing = new QLabel;
    m_sharing->setObjectName(QStringLiteral("historySharing"));
    m_sharing->setTextFormat(Qt::PlainText);
    m_sharing->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_count, 1);
    buttons->addWidget(m_sharing);
    buttons->addWidget(copy);
    buttons->addWidget(clear);
    buttons->addWidget(save);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
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
    refreshTrend();
    m_trendDrawn.invalidate(); // what comes before the window is shown, shown at once
}

// The focus moves while the widgets below go: by then there is no window to watch it for.
HistoryWindow::~HistoryWindow()
{
    disconnect(m_focusWatch);
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
    if (best.isValid())
        return best;

    const QSize across(std::min(wanted.width(), screen.width()), std::min(minimum.height(), screen.height()));
    const QSize upright(std::min(minimum.width(), screen.width()), std::min(wanted.height(), screen.height()));
    const int x = std::clamp(panel.left(), screen.left(), screen.right() + 1 - across.width());
    const int y = std::clamp(panel.top(), screen.top(), screen.bottom() + 1 - upright.height());
    const QRect covering[] = {
        QRect(QPoint(x, screen.bottom() + 1 - across.height()), across),
        QRect(QPoint(screen.right() + 1 - upright.width(), y), upright),
        QRect(QPoint(screen.left(), y), upright),
        QRect(QPoint(x, screen.top()), across),
    };
    const auto covered = [&](const QRect &r) {
        const QRect common = r.intersected(panel);
        return qint64(common.width()) * common.height();
    };
    return *std::min_element(std::begin(covering), std::end(covering),
                             [&](const QRect &a, const QRect &b) { return covered(a) < covered(b); });
}

void HistoryWindow::showBeside(const QWidget *panel)
{
    if (!m_placed && panel) {
        m_placed = true;
        const QScreen *screen = panel->screen();
        const QSize frame = frameGeometry().size() - size(); // what the window manager adds
        if (screen) {
            const QRect at = placeBeside(panel->frameGeometry(), screen->availableGeometry(), size() + frame,
                                         ReadableSize.expandedTo(minimumSizeHint() + frame));
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
    const int top = m_table->rowAt(0);
    const quint64 first = m_model->firstSerial();
    const quint64 topSerial = first + quint64(std::max(top, 0));
    const qsizetype added = m_model->refresh();
    if (following && added > 0) {
        m_table->scrollToBottom();
    } else if (!following && top >= 0 && m_model->firstSerial() > first && topSerial >= m_model->firstSerial()) {
        // The rows being read stay in place while older ones are dropped above them.
        m_table->scrollTo(m_model->index(int(topSerial - m_model->firstSerial()), 0), QAbstractItemView::PositionAtTop);
    }
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

void HistoryWindow::showSharing(const QString &where, int clients)
{
    m_sharing->setText(clients == 1 ? tr("shared on %1: 1 client").arg(where)
                                    : tr("shared on %1: %2 clients").arg(where).arg(clients));
    m_sharing->show();
}

QString HistoryWindow::sharingText() const
{
    return m_sharing->isHidden() ? QString() : m_sharing->text();
}

void HistoryWindow::buildTrendControls(QWidget *row)
{
    row->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed); // gives way in a narrow window
    m_span = new QComboBox;
    m_span->setObjectName(QStringLiteral("trendSpan"));
    m_span->setAccessibleName(tr("Time span of the trend"));
    m_span->addItems({tr("1 min"), tr("10 min"), tr("1 h"), tr("all kept")});
    m_span->setCurrentIndex(m_timeline.span());
    m_follow = new QPushButton;
    m_follow->setObjectName(QStringLiteral("trendFollow"));
    m_viewState = new QLabel;
    m_viewState->setObjectName(QStringLiteral("trendState"));
    m_viewState->setTextFormat(Qt::PlainText);
    m_viewState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_axisMode = new QComboBox;
    m_axisMode->setObjectName(QStringLiteral("trendAxis"));
    m_axisMode->setAccessibleName(tr("Value axis"));
    m_axisMode->addItems({tr("fitted"), tr("fixed")});
    m_low = new QLineEdit;
    m_low->setObjectName(QStringLiteral("trendLow"));
    m_high = new QLineEdit;
    m_high->setObjectName(QStringLiteral("trendHigh"));
    for (QLineEdit *edit : {m_low, m_high}) {
        edit->hide(); // until the axis is fixed
        edit->setMaximumWidth(fontMetrics().horizontalAdvance(QStringLiteral("-000000.0")) + 12);
    }
    m_low->setPlaceholderText(tr("lowest"));
    m_low->setAccessibleName(tr("Lowest value of the fixed axis"));
    m_high->setPlaceholderText(tr("highest"));
    m_high->setAccessibleName(tr("Highest value of the fixed axis"));
    m_axisRefusal = new QLabel;
    m_axisRefusal->setObjectName(QStringLiteral("trendAxisRefusal"));
    m_axisRefusal->setTextFormat(Qt::PlainText);
    m_axisRefusal->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_axisRefusal->hide();
    auto *saveImage = new QPushButton(tr("Save &image..."));
    saveImage->setObjectName(QStringLiteral("trendSaveImage"));

    auto *spanLabel = new QLabel(tr("Sho&w"));
    spanLabel->setBuddy(m_span);
    auto *axisLabel = new QLabel(tr("&Axis"));
    axisLabel->setBuddy(m_axisMode);

    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(spanLabel);
    layout->addWidget(m_span);
    layout->addWidget(m_follow);
    layout->addWidget(m_viewState, 1);
    layout->addWidget(m_axisRefusal, 1);
    layout->addWidget(axisLabel);
    layout->addWidget(m_axisMode);
    layout->addWidget(m_low);
    layout->addWidget(m_high);
    layout->addWidget(saveImage);

    connect(m_span, &QComboBox::currentIndexChanged, this, [this](int span) {
        m_timeline.setSpan(TrendTimeline::Span(span));
        viewChanged();
    });
    connect(m_follow, &QPushButton::clicked, this, [this] {
        if (!m_timeline.following())
            m_timeline.follow();
        else if (const auto k = kept())
            m_timeline.pause(k->from, k->to);
        viewChanged();
    });
    connect(m_axisMode, &QComboBox::currentIndexChanged, this, [this](int fixed) {
        m_low->setVisible(fixed), m_high->setVisible(fixed);
        if (fixed && m_low->text().isEmpty() && m_high->text().isEmpty()) { // from the axis as fitted
            m_low->setText(QLocale().toString(m_trend->plot().low, 'g', 6));
            m_high->setText(QLocale().toString(m_trend->plot().high, 'g', 6));
        }
        applyAxis();
    });
    for (QLineEdit *edit : {m_low, m_high})
        connect(edit, &QLineEdit::editingFinished, this, &HistoryWindow::applyAxis);
    connect(saveImage, &QPushButton::clicked, this, &HistoryWindow::chooseFileAndSaveImage);

    connect(m_trend, &TrendView::hovered, this, [this](qint64 at) { m_readoutAt = at, showReadout(); });
    connect(m_trend, &TrendView::left, this, [this] { m_readoutAt.reset(), showReadout(); });
    connect(m_trend, &TrendView::stepped, this, &HistoryWindow::stepReadout);
    connect(m_trend, &TrendView::dragged, this, [this](qint64 by) {
        if (const auto k = kept())
            m_timeline.scroll(by, k->from, k->to), viewChanged();
    });
    connect(m_trend, &TrendView::scrolled, this, [this](double widths) {
        if (const auto k = kept()) {
            const qint64 width = m_timeline.range(k->from, k->to).width();
            m_timeline.scroll(qint64(widths * double(width)), k->from, k->to), viewChanged();
        }
    });
    connect(m_trend, &TrendView::zoomed, this, [this](double factor, qint64 around) {
        if (const auto k = kept())
            m_timeline.zoom(factor, around, k->from, k->to), viewChanged();
    });
    connect(m_trend, &TrendView::followRequested, this, [this] { m_timeline.follow(), viewChanged(); });
    connect(m_trend, &TrendView::legendClicked, this, [this](int curve) {
        m_hidden[size_t(curve)] = !m_hidden[size_t(curve)];
        viewChanged();
    });
    connect(m_timeBar, &QScrollBar::valueChanged, this, [this](int value) {
        if (m_settingBar)
            return;
        if (const auto k = kept())
            m_timeline.scrollTo(k->from + qint64(value) * 100, k->from, k->to), viewChanged();
    });
}

std::optional<TrendTimeline::Range> HistoryWindow::kept() const
{
    return TrendPlot::kept(m_history.trend());
}

void HistoryWindow::viewChanged()
{
    refreshTrend();
}

void HistoryWindow::refreshTrend()
{
    const Trend &trend = m_history.trend();
    m_trendShown = trend.generation();
    m_trendDrawn.start();
    const std::optional<TrendTimeline::Range> all = kept();
    TrendPlot::View view{{}, m_hidden, m_axis};
    if (all)
        view.range = m_timeline.range(all->from, all->to);
    // Paused, the picture stands still: only the time bar learns what has come since.
    if (m_timeline.following() || view != m_viewShown || m_trend->plot().empty != !all) {
        m_trend->setPlot(TrendPlot::of(trend, view, TrendPointsShown, TrendMarkersUpTo));
        m_viewShown = view;
        showReadout();
    }
    updateTimeBar(all, view.range);
    const auto time = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")); };
    m_follow->setText(m_timeline.following() ? tr("&Pause") : tr("&Follow"));
    m_viewState->setText(m_timeline.following() ? tr("Following")
                         : all                  ? tr("Paused: %1 to %2").arg(time(view.range.from), time(view.range.to))
                                                : tr("Paused"));
}

void HistoryWindow::updateTimeBar(const std::optional<TrendTimeline::Range> &all, TrendTimeline::Range shown)
{
    // In tenths of a second from the oldest value kept.
    m_settingBar = true;
    const qint64 width = all ? std::max<qint64>(0, all->width() - shown.width()) : 0;
    m_timeBar->setRange(0, int(std::min<qint64>(width / 100, std::numeric_limits<int>::max())));
    m_timeBar->setPageStep(int(std::clamp<qint64>(shown.width() / 100, 1, std::numeric_limits<int>::max())));
    m_timeBar->setSingleStep(std::max(1, m_timeBar->pageStep() / 10));
    m_timeBar->setValue(all ? int(std::clamp<qint64>((shown.from - all->from) / 100, 0, m_timeBar->maximum())) : 0);
    m_settingBar = false;
}

void HistoryWindow::showReadout()
{
    if (m_readoutAt && !m_trend->plot().empty)
        m_trend->setReadout(TrendReadout::of(m_history.trend(), *m_readoutAt, m_hidden));
    else
        m_trend->setReadout(std::nullopt);
}

// From report to report of the series shown, the view following where it leaves what is shown.
void HistoryWindow::stepReadout(bool forward)
{
    const std::optional<TrendTimeline::Range> all = kept();
    if (!all)
        return;
    const TrendTimeline::Range shown = m_timeline.range(all->from, all->to);
    const qint64 from = m_readoutAt ? *m_readoutAt : forward ? shown.from - 1 : shown.to + 1;
    const std::optional<qint64> next = TrendReadout::step(m_history.trend(), from, forward, m_hidden, *all);
    if (!next)
        return;
    m_readoutAt = next;
    m_timeline.reveal(*next, all->from, all->to);
    viewChanged();
    showReadout();
}

void HistoryWindow::applyAxis()
{
    QString refusal;
    if (m_axisMode->currentIndex() == 0) {
        m_axis = {};
    } else if (const std::optional<TrendAxis> axis = TrendAxis::fixedFrom(m_low->text(), m_high->text(), &refusal)) {
        m_axis = *axis;
    }
    m_axisRefusal->setText(refusal);
    m_axisRefusal->setVisible(!refusal.isEmpty());
    m_viewState->setVisible(refusal.isEmpty());
    viewChanged();
}

void HistoryWindow::copyImage()
{
    QApplication::clipboard()->setImage(m_trend->image());
}

bool HistoryWindow::saveImage(const QString &path)
{
    QSaveFile file(path);
    QImageWriter writer(&file, "png");
    if (file.open(QIODevice::WriteOnly) && writer.write(m_trend->image()) && file.commit())
        return true;
    const QString error = writer.error() != QImageWriter::UnknownError ? writer.errorString() : file.errorString();
    QMessageBox::warning(this, tr("Image not saved"),
                         tr("The trend could not be saved to %1:\n%2\n\nAny file of that name is as it was.")
                             .arg(QDir::toNativeSeparators(path), error));
    return false;
}

void HistoryWindow::chooseFileAndSaveImage()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Save trend as image"), QStringLiteral("trend.png"),
                                                      tr("PNG images (*.png);;All files (*)"));
    if (!path.isEmpty())
        saveImage(path);
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
