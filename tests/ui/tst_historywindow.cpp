// The history window: opened from the panel's status line, showing what the board sent as
// plain text, following new lines, beside the panel.
#include "history/sessionhistory.h"
#include "support/panelfixture.h"
#include "ui/historymodel.h"
#include "ui/historywindow.h"
#include "ui/layout.h"
#include "ui/showthrottle.h"
#include "ui/trendview.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A history window on two hours of PV01 read every second (the second's number modulo 50)
// and SV11 reported every ten minutes (ten times the ten minutes), from 12:00 local time.
struct TrendFixture {
    const qint64 start = QDateTime(QDate(2026, 12, 7), QTime(12, 0)).toMSecsSinceEpoch();
    qint64 now = start;
    SessionHistory history{SessionHistory::Limits{}, [this] { return now; }};
    HistoryWindow window{history, u"PWM Panel"_s};

    TrendFixture()
    {
        feed(0, 7200);
        window.show();
        window.activateWindow();
    }
    void feed(int from, int to)
    {
        for (int s = from; s <= to; ++s) {
            now = start + s * 1000LL;
            history.lineReceived("PV01=" + QByteArray::number(s % 50), false);
            if (s % 600 == 0)
                history.lineReceived("SV11=" + QByteArray::number(s / 60), false);
            history.receiveDone();
        }
        window.showPending();
    }
    TrendView *trend() const { return window.trend(); }
    // The time shown, in seconds from the start.
    QPair<qint64, qint64> shown() const
    {
        return {(trend()->plot().from - start) / 1000, (trend()->plot().to - start) / 1000};
    }
    void click(const char *button) { window.findChild<QPushButton *>(QLatin1String(button))->click(); }
    void wheel(QPoint at, int angle)
    {
        QWheelEvent event(at, trend()->mapToGlobal(at), {}, {0, angle}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(trend(), &event);
    }
};
using TrendMoves = std::function<void(TrendFixture &)>;

// The panel on the fake board with its history, as the program wires them.
struct HistoryFixture : PanelFixture {
    SessionHistory history;
    HistoryWindow historyWindow{history, u"PWM Panel"_s};
    // Every row the model says it added or removed is checked against what it then holds.
    QAbstractItemModelTester modelTester{historyWindow.model(), QAbstractItemModelTester::FailureReportingMode::QtTest};

    explicit HistoryFixture(const SessionHistory::Limits &limits = {}) : history(limits)
    {
        link.setTap(&history);
        QObject::connect(window.get(), &MainWindow::historyRequested, &historyWindow,
                         [this] { historyWindow.showBeside(window.get()); });
        window->move(0, 0); // room below it on the offscreen screen
        window->show();
    }
    QString textAt(int row) const
    {
        return historyWindow.model()->index(row, HistoryModel::TextColumn).data().toString();
    }
    int rows() const { return historyWindow.model()->rowCount(); }
};

} // namespace

Q_DECLARE_METATYPE(TrendMoves)

class TestHistoryWindow : public QObject
{
    Q_OBJECT
private slots:
    void placedBesideThePanel_data();
    void placedBesideThePanel();
    void placedBesideThePanelOnCommonScreens_data();
    void placedBesideThePanelOnCommonScreens();
    void opensFromTheStatusLine_data();
    void opensFromTheStatusLine();
    void showsWhatTheBoardSentAsPlainText();
    void followsNewLinesUnlessScrolledUp();
    void keepsTheRowsBeingReadInPlace();
    void copiesTheSelectedRows();
    void throttleShowsALoneChangeAtOnce();
    void trendShowsWhatTheUserChose_data();
    void trendShowsWhatTheUserChose();
    void trendIsSavedAndCopiedAsShown();
};

void TestHistoryWindow::placedBesideThePanel_data()
{
    QTest::addColumn<QRect>("panel");
    QTest::addColumn<QRect>("expected");
    // On a 1920 x 1000 screen, a window wanted 760 x 560 and no smaller than 400 x 300.
    QTest::newRow("room on the right") << QRect(100, 200, 800, 420) << QRect(908, 200, 760, 560);
    QTest::newRow("room on the left only") << QRect(1100, 200, 800, 420) << QRect(332, 200, 760, 560);
    QTest::newRow("right, moved up to fit") << QRect(100, 700, 800, 250) << QRect(908, 440, 760, 560);
    QTest::newRow("narrowed to the wider side") << QRect(560, 200, 800, 420) << QRect(1368, 200, 552, 560);
    QTest::newRow("below a panel as wide as the screen") << QRect(0, 0, 1920, 420) << QRect(0, 428, 760, 560);
    QTest::newRow("no room anywhere: over its edge, least of it") << QRect(300, 200, 1500, 700) << QRect(0, 200, 400, 560);
}

void TestHistoryWindow::placedBesideThePanel()
{
    QFETCH(QRect, panel);
    QFETCH(QRect, expected);
    const QRect screen(0, 0, 1920, 1000);
    const QRect at = HistoryWindow::placeBeside(panel, screen, QSize(760, 560), QSize(400, 300));
    QCOMPARE(at, expected);
    QVERIFY(screen.contains(at));
}

// The panel centred on common screens, the window at its usual size where it fits.
void TestHistoryWindow::placedBesideThePanelOnCommonScreens_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("1920 x 1080: to the right") << QSize(1920, 1080) << QRect(1305, 413, 615, 560);
    QTest::newRow("1366 x 768: below, shorter") << QSize(1366, 768) << QRect(345, 518, 760, 250);
    QTest::newRow("1280 x 800: below, shorter") << QSize(1280, 800) << QRect(302, 534, 760, 266);
    QTest::newRow("1024 x 768: below, shorter") << QSize(1024, 768) << QRect(174, 518, 760, 250);
    QTest::newRow("800 x 600: over the panel's device line only") << QSize(800, 600) << QRect(40, 360, 760, 240);
}

void TestHistoryWindow::placedBesideThePanelOnCommonScreens()
{
    QFETCH(QSize, screen);
    QFETCH(QRect, expected);
    const QRect panel(QPoint((screen.width() - Layout::WindowSize.width()) / 2, (screen.height() - Layout::WindowSize.height()) / 2),
                      Layout::WindowSize);
    QCOMPARE(HistoryWindow::placeBeside(panel, QRect(QPoint(), screen), QSize(760, 560), HistoryWindow::ReadableSize),
             expected);
    // That small, with a window manager's frame around it, the window's own layout still fits.
    SessionHistory history;
    const QSize least = HistoryWindow(history, u"PWM Panel"_s).minimumSizeHint() + QSize(16, 40);
    QVERIFY2(least.boundedTo(HistoryWindow::ReadableSize) == least, qPrintable(u"%1 x %2"_s.arg(least.width()).arg(least.height())));
}

void TestHistoryWindow::opensFromTheStatusLine_data()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("double-click on the status line") << false;
    QTest::newRow("Ctrl+L") << true;
}

void TestHistoryWindow::opensFromTheStatusLine()
{
    QFETCH(bool, byKey);
    HistoryFixture f;
    f.identify();
    f.receive("PV01=3.5\r");
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    QVERIFY(!f.historyWindow.isVisible());

    if (byKey)
        QTest::keyClick(f.window.get(), Qt::Key_L, Qt::ControlModifier);
    else
        QTest::mouseDClick(f.ui().lblStatus, Qt::LeftButton);
    QVERIFY(f.historyWindow.isVisible());
    QVERIFY(f.historyWindow.isWindow());
    QCOMPARE(f.textAt(f.rows() - 1), u"PV01=3.5"_s);
    // Beside the panel, not over it, and the panel where it was.
    QVERIFY(!f.historyWindow.frameGeometry().intersects(f.window->frameGeometry()));
    QCOMPARE(f.window->size(), QSize(Layout::WindowSize));
}

void TestHistoryWindow::showsWhatTheBoardSentAsPlainText()
{
    HistoryFixture f;
    f.historyWindow.showBeside(f.window.get());
    f.identify();
    f.receive("<b>bold</b>\r\x01\x1b[2J\x7f\rtab\there\r25\xb0" "C\r");
    f.historyWindow.showPending();
    QCOMPARE(f.rows(), 6);
    QCOMPARE(f.textAt(2), u"<b>bold</b>"_s);
    QCOMPARE(f.textAt(3), u"\u2401\u241b[2J\u2421"_s); // controls as their symbols
    QCOMPARE(f.textAt(4), u"tab\u2409here"_s);
    QCOMPARE(f.textAt(5), u"25°C"_s);
    QCOMPARE(f.historyWindow.model()->index(0, HistoryModel::DirectionColumn).data().toString(), u"sent"_s);
    QCOMPARE(f.historyWindow.model()->index(1, HistoryModel::DirectionColumn).data().toString(), u"received"_s);
}

void TestHistoryWindow::followsNewLinesUnlessScrolledUp()
{
    HistoryFixture f;
    f.historyWindow.showBeside(f.window.get());
    QVERIFY(QTest::qWaitForWindowExposed(&f.historyWindow));
    f.identify();
    QByteArray many;
    for (int i = 0; i < 300; ++i)
        many += "PV01=" + QByteArray::number(i) + '\r';
    f.receive(many);
    f.historyWindow.showPending();
    QScrollBar *bar = f.historyWindow.table()->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    bar->setValue(bar->maximum() / 2);
    const int held = bar->value();
    f.receive("PV01=more\r");
    f.historyWindow.showPending();
    QCOMPARE(f.textAt(f.rows() - 1), u"PV01=more"_s);
    QCOMPARE(bar->value(), held);

    bar->setValue(bar->maximum());
    f.receive("PV01=last\r");
    f.historyWindow.showPending();
    QCOMPARE(bar->value(), bar->maximum());
}

// With the history full, older lines are dropped above the rows the operator reads: those
// stay where they are, and the table always ends with the newest line.
void TestHistoryWindow::keepsTheRowsBeingReadInPlace()
{
    HistoryFixture f(SessionHistory::Limits{60, 1 << 20, 100});
    f.historyWindow.showBeside(f.window.get());
    QVERIFY(QTest::qWaitForWindowExposed(&f.historyWindow));
    f.identify();
    for (int i = 1; i <= 80; ++i) {
        f.receive("L" + QByteArray::number(i) + '\r');
        f.historyWindow.showPending();
    }
    QCOMPARE(f.rows(), 60);
    QCOMPARE(f.textAt(0), u"L21"_s);
    QCOMPARE(f.textAt(59), u"L80"_s);

    QTableView *table = f.historyWindow.table();
    table->scrollTo(f.historyWindow.model()->index(30, 0), QAbstractItemView::PositionAtTop);
    const int top = table->rowAt(0);
    const QString reading = f.textAt(top);
    for (int i = 81; i <= 100; ++i) {
        f.receive("L" + QByteArray::number(i) + '\r');
        f.historyWindow.showPending();
        QCOMPARE(f.textAt(table->rowAt(0)), reading);
    }
    QCOMPARE(f.textAt(f.rows() - 1), u"L100"_s);
}

void TestHistoryWindow::copiesTheSelectedRows()
{
    HistoryFixture f;
    f.historyWindow.showBeside(f.window.get());
    f.identify();
    f.receive("first\rsecond, with a comma\rthird\r");
    f.historyWindow.showPending();
    QTableView *table = f.historyWindow.table();
    table->selectRow(4);
    table->selectionModel()->select(f.historyWindow.model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    f.historyWindow.copySelection();
    const QStringList lines = QApplication::clipboard()->text().split(u"\r\n"_s);
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines[0].contains(u",received,first,"_s));
    QVERIFY(lines[1].contains(u",received,third,"_s));
}

// A change that comes alone is shown once the current read has been handled; while more than
// FloodLines lines come between showings, by however many requests, the next waits for a frame.
void TestHistoryWindow::throttleShowsALoneChangeAtOnce()
{
    QWidget window;
    int shown = 0;
    ShowThrottle throttle(&window, [&shown] { return ++shown > 0; });
    throttle.request(1);
    QVERIFY(!throttle.coalescing());
    QCOMPARE(shown, 0);
    QCoreApplication::processEvents();
    QCOMPARE(shown, 1);

    for (int i = 0; i < ShowThrottle::FloodLines; ++i)
        throttle.request(2);
    QVERIFY(!throttle.coalescing());
    QCoreApplication::processEvents();
    QCOMPARE(shown, 2);
    throttle.request(1); // after a flood
    QVERIFY(throttle.coalescing());
    QTRY_COMPARE(shown, 3);
    throttle.request(1); // the flood is over
    QVERIFY(!throttle.coalescing());
}

void TestHistoryWindow::trendShowsWhatTheUserChose_data()
{
    QTest::addColumn<TrendMoves>("moves");
    QTest::addColumn<qint64>("from"); // seconds from the start
    QTest::addColumn<qint64>("to");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("readout"); // the trend's accessible description

    const auto span = [](int index) {
        return TrendMoves([=](TrendFixture &f) { f.window.findChild<QComboBox *>(u"trendSpan"_s)->setCurrentIndex(index); });
    };
    const auto key = [](Qt::Key k, int times = 1) {
        return TrendMoves([=](TrendFixture &f) {
            for (int i = 0; i < times; ++i)
                QTest::keyClick(f.trend(), k);
        });
    };
    QTest::newRow("as it opens: the last hour, following") << TrendMoves([](TrendFixture &) {}) << 3600LL << 7200LL
                                                           << u"Following"_s << QString();
    QTest::newRow("a minute") << span(0) << 7140LL << 7200LL << u"Following"_s << QString();
    QTest::newRow("all kept") << span(3) << 0LL << 7200LL << u"Following"_s << QString();
    QTest::newRow("paused: stands still while lines are kept")
        << TrendMoves([](TrendFixture &f) {
               f.click("trendFollow");
               const int rows = f.window.model()->rowCount();
               const int bar = f.window.findChild<QScrollBar *>(u"trendTime"_s)->maximum();
               f.feed(7201, 7260);
               QCOMPARE(f.window.model()->rowCount(), rows + 60);
               QTRY_COMPARE(f.window.findChild<QScrollBar *>(u"trendTime"_s)->maximum(), bar + 600);
           })
        << 3600LL << 7200LL << u"Paused: 13:00:00 to 14:00:00"_s << QString();
    QTest::newRow("following again at the latest")
        << TrendMoves([](TrendFixture &f) { f.click("trendFollow"), f.feed(7201, 7260), f.click("trendFollow"); })
        << 3660LL << 7260LL << u"Following"_s << QString();
    QTest::newRow("a wheel step at the left edge zooms in around it")
        << TrendMoves([](TrendFixture &f) { f.wheel(f.trend()->plotArea().topLeft() + QPoint(0, 10), 120); })
        << 3600LL << 6480LL << u"Paused: 13:00:00 to 13:48:00"_s << QString();
    QTest::newRow("End follows again")
        << TrendMoves([&](TrendFixture &f) { f.wheel(f.trend()->plotArea().center(), 120), QTest::keyClick(f.trend(), Qt::Key_End); })
        << 3600LL << 7200LL << u"Following"_s << QString();
    QTest::newRow("a click at the plot's left edge, zoomed in around it with +")
        << TrendMoves([](TrendFixture &f) {
               QTest::mouseClick(f.trend(), Qt::LeftButton, {}, f.trend()->plotArea().topLeft() + QPoint(0, 10));
               QTest::keyClick(f.trend(), Qt::Key_Plus);
           })
        << 3600LL << 5400LL << u"Paused: 13:00:00 to 13:30:00"_s << u"13:00:00.000, PV01 0, PV02 -, SV11 60, SV21 -"_s;
    QTest::newRow("the arrow keys: the latest report") << key(Qt::Key_Left) << 3600LL << 7200LL << u"Following"_s
                                                       << u"14:00:00.000, PV01 0, PV02 -, SV11 120, SV21 -"_s;
    QTest::newRow("the arrow keys: the report before") << key(Qt::Key_Left, 2) << 3600LL << 7200LL << u"Following"_s
                                                       << u"13:59:59.000, PV01 49, PV02 -, SV11 110, SV21 -"_s;
    QTest::newRow("the arrow keys, zoomed to a minute: past its left edge the view follows")
        << TrendMoves([](TrendFixture &f) {
               f.window.findChild<QComboBox *>(u"trendSpan"_s)->setCurrentIndex(0);
               for (int i = 0; i < 62; ++i)
                   QTest::keyClick(f.trend(), Qt::Key_Left);
           })
        << 7139LL << 7199LL << u"Paused: 13:58:59 to 13:59:59"_s << u"13:58:59.000, PV01 39, PV02 -, SV11 110, SV21 -"_s;
    QTest::newRow("a series hidden from the legend")
        << TrendMoves([](TrendFixture &f) {
               QTest::mouseClick(f.trend(), Qt::LeftButton, {}, f.trend()->legendEntry(TrendPlot::ProcessValue1).center());
               QVERIFY(f.trend()->plot().hidden[TrendPlot::ProcessValue1]);
               QVERIFY(f.trend()->plot().curves[TrendPlot::ProcessValue1].runs.isEmpty());
               QCOMPARE(f.trend()->plot().high, 123.5); // fitted to SV11: 50, held from before, to 120
               QTest::keyClick(f.trend(), Qt::Key_Left);
           })
        << 3600LL << 7200LL << u"Following"_s << u"14:00:00.000, PV02 -, SV11 120, SV21 -"_s;
}

// The span, pause and follow, a wheel step, the keys and the legend, as the trend then shows.
void TestHistoryWindow::trendShowsWhatTheUserChose()
{
    QFETCH(TrendMoves, moves);
    QFETCH(qint64, from);
    QFETCH(qint64, to);
    QFETCH(QString, state);
    QFETCH(QString, readout);

    TrendFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    moves(f);
    QCOMPARE(f.shown(), QPair(from, to));
    QCOMPARE(f.window.findChild<QLabel *>(u"trendState"_s)->text(), state);
    QCOMPARE(f.window.findChild<QPushButton *>(u"trendFollow"_s)->text(),
             state == u"Following"_s ? u"&Pause"_s : u"&Follow"_s);
    QCOMPARE(f.trend()->accessibleDescription(), readout);
}

// Save image... writes the trend as drawn at the screen's pixel density; Copy in the trend
// copies the same picture.
void TestHistoryWindow::trendIsSavedAndCopiedAsShown()
{
    TrendFixture f;
    QVERIFY(QTest::qWaitForWindowExposed(&f.window));
    QTemporaryDir dir;
    const QString path = dir.filePath(u"trend.png"_s);
    QVERIFY(f.window.saveImage(path));
    const QImage saved(path);
    QCOMPARE(saved.size(), f.trend()->size() * f.trend()->devicePixelRatio());
    // PV01's line is there in its colour, across the plot.
    const QRect plot = f.trend()->plotArea();
    int columns = 0;
    for (int x = plot.left() + 2; x < plot.right() - 2; x += 10) {
        bool drawn = false;
        for (int y = plot.top(); y <= plot.bottom() && !drawn; ++y)
            drawn = saved.pixelColor(QPoint(x, y) * f.trend()->devicePixelRatio()) == QColor(0x1f, 0x77, 0xb4);
        columns += drawn;
    }
    QVERIFY2(columns > plot.width() / 10 - 4, qPrintable(QString::number(columns)));

    f.trend()->setFocus();
    QTRY_VERIFY(f.trend()->hasFocus());
    QApplication::clipboard()->clear();
    QTest::keyClick(f.trend(), Qt::Key_C, Qt::ControlModifier);
    QImage copied = QApplication::clipboard()->image().convertToFormat(saved.format());
    copied.setDevicePixelRatio(1); // as a file has it
    QCOMPARE(copied, saved);
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
