#include "historywindow.h"

#include "history/csvformat.h"
#include "history/sessionhistory.h"
#include "historymodel.h"
#include "trendview.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
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
    splitter->addWidget(m_trend);
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
    connect(copy, &QPushButton::clicked, this, &HistoryWindow::copySelection);
    connect(clear, &QPushButton::clicked, &m_history, &SessionHistory::clear);
    connect(save, &QPushButton::clicked, this, &HistoryWindow::chooseFileAndSave);
    auto *copyKey = new QShortcut(QKeySequence::Copy, m_table, nullptr, nullptr, Qt::WidgetShortcut);
    connect(copyKey, &QShortcut::activated, this, &HistoryWindow::copySelection);

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

void HistoryWindow::refreshTrend()
{
    m_trendShown = m_history.trend().generation();
    m_trendDrawn.start();
    m_trend->setPlot(TrendPlot::of(m_history.trend(), TrendSpanMs, TrendPointsShown, TrendMarkersUpTo));
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
