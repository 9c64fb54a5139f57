// The whole panel over a real pseudo-terminal against the virtual board.
#include "support/program.h"
#include "support/boardprocess.h"

#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

constexpr int SearchTimeout = 6000; // first try after 2.5 s, then the reply

// A panel started from a temporary folder, talking through the real serial layer.
struct Bench {
    QTemporaryDir dir;
    std::unique_ptr<BoardProcess> board;
    std::unique_ptr<Program> program;

    explicit Bench(const QStringList &boardArgs = {}, const QByteArray &settings = {})
    {
        QDir(dir.path()).mkpath(u"ports"_s);
        if (!settings.isEmpty()) {
            QFile f(dir.filePath(u"pwmpanel.ini"_s));
            if (f.open(QIODevice::WriteOnly))
                f.write(settings);
        }
        startBoard(boardArgs);
        program = std::make_unique<Program>(dir.path(), u"pwmpanel"_s);
    }
    void startBoard(const QStringList &args = {})
    {
        board.reset();
        if (args != QStringList{u"none"_s})
            board = std::make_unique<BoardProcess>(link(), dir.filePath(u"board.log"_s), args);
    }
    QString link() const { return dir.filePath(u"ports/com1"_s); }
    const MainWindow::Ui &ui() const { return program->ui(); }
    QString status() const { return ui().lblStatus->text(); }
    int highlighted() const
    {
        int found = 0;
        for (int n = 1; n <= 7; ++n)
            if (ui().cmdFpwm[n]->palette().color(QPalette::Button) == QApplication::palette().color(QPalette::Highlight))
                found = found ? -1 : n;
        return found;
    }
};

bool spacedBy(const QList<double> &times, double low, double high)
{
    for (qsizetype i = 1; i < times.size(); ++i) {
        const double gap = times[i] - times[i - 1];
        if (gap < low || gap > high)
            return false;
    }
    return true;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void findsBoardReadsBackAndOperates();
    void replyLineEnds_data();
    void replyLineEnds();
    void otherNameIsOnlyShown();
    void silentBoardAlternates();
    void missingDeviceIsInvalidPort();
    void portHeldElsewhere();
    void commandWithPortClosedAsks();
    void pollsEveryTwoSecondsWithSTimeOne();
    void vanishedBoardThenBack();
    void twoCopiesServeTwoBoards();
    void numbersOnTheDesktopsLocale();
    void scriptBesideThePanel_data();
    void scriptBesideThePanel();
};

void TestEndToEnd::findsBoardReadsBackAndOperates()
{
    Bench b;
    QVERIFY(b.board->started());
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
    QCOMPARE(b.program->window.statusColor(), MainWindow::colorOf(Session::StatusKind::Found));
    QCOMPARE(b.ui().lblDevCode->text(), u"Korvendi: uc=ORVIX7  pc=pwmpanel"_s);

    // Read-back: three queries 800 ms apart, answers on the labels and the buttons.
    QTRY_COMPARE_WITH_TIMEOUT(b.board->commands().size(), 4, 4000);
    QCOMPARE(b.board->commands(), (QStringList{u"I?"_s, u"SV01?"_s, u"SV11?"_s, u"SV21?"_s}));
    const QList<double> times = {b.board->timesOf(u"SV01?"_s)[0], b.board->timesOf(u"SV11?"_s)[0],
                                 b.board->timesOf(u"SV21?"_s)[0]};
    QVERIFY2(spacedBy(times, 780, 1200), "read-back queries are 800 ms apart");
    QTRY_COMPARE(b.ui().lblDis1[2]->text(), u"0"_s);
    QCOMPARE(b.ui().lblDis1[1]->text(), u"0"_s);
    QCOMPARE(b.highlighted(), 3);

    // A preset on output 2: set, pause, query; the report lands on the label.
    b.ui().cmd50posto[2]->click();
    QTRY_COMPARE(b.ui().lblDis1[2]->text(), u"50"_s);
    const double set = b.board->timesOf(u"SV21=50"_s).value(0);
    const double query = b.board->timesOf(u"PV02?"_s).value(0);
    QVERIFY2(set > 0 && query - set >= 50, qPrintable(u"%1 ms apart"_s.arg(query - set)));

    // Frequency: unlock, pick 245 Hz then 980 Hz; only the reported one is highlighted.
    b.ui().cmdEnableFreq->click();
    b.ui().cmdFpwm[5]->click();
    QTRY_COMPARE(b.highlighted(), 5);
    b.ui().cmdFpwm[3]->click();
    QTRY_COMPARE(b.highlighted(), 3);
    QVERIFY(b.board->commands().contains(u"SV01=3"_s));

    // SAVE-CLOSE reconnects and reads back again.
    b.ui().cmdSet->click();
    b.ui().cmdExit->click();
    QTRY_COMPARE(b.status(), u"wait..."_s);
    QTRY_COMPARE_WITH_TIMEOUT(b.board->timesOf(u"SV21?"_s).size(), 2, SearchTimeout + 3000);
    QCOMPARE(b.board->timesOf(u"I?"_s).size(), 2);
}

void TestEndToEnd::replyLineEnds_data()
{
    QTest::addColumn<QString>("eol");
    QTest::newRow("CR LF") << u"crlf"_s;
    QTest::newRow("LF CR") << u"lfcr"_s;
}

void TestEndToEnd::replyLineEnds()
{
    QFETCH(QString, eol);
    Bench b({u"--eol"_s, eol});
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(b.highlighted(), 3, 3000);
}

void TestEndToEnd::otherNameIsOnlyShown()
{
    Bench b({u"--name"_s, u"OTHER"_s});
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"COM:1 Baud:9600 COM data: OTHER"_s, SearchTimeout);
    QCOMPARE(b.program->window.statusColor(), MainWindow::colorOf(Session::StatusKind::Reply));
    QVERIFY(b.program->link.isSearching());
    QCOMPARE(b.ui().lblDevCode->text(), u"???"_s);
}

void TestEndToEnd::silentBoardAlternates()
{
    Bench b({u"--silent"_s});
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Searching for uc code..."_s, 4000);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"No response!"_s, 6000);
    QCOMPARE(b.program->window.statusColor(), MainWindow::colorOf(Session::StatusKind::Error));
    QVERIFY(b.program->serial.portOpen());
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Searching for uc code..."_s, 3000);
}

void TestEndToEnd::missingDeviceIsInvalidPort()
{
    Bench b({u"none"_s});
    QVERIFY(QFile::link(b.dir.filePath(u"gone"_s), b.link()));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Invalid Port Number!"_s, 4000);
    QCOMPARE(b.program->window.statusColor(), MainWindow::colorOf(Session::StatusKind::Error));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"No response!"_s, 6000);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Invalid Port Number!"_s, 3000);
}

void TestEndToEnd::portHeldElsewhere()
{
    Bench b;
    QSerialPort holder(QFileInfo(b.link()).canonicalFilePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Port already open!"_s, 4000);
    QVERIFY(b.program->link.isSearching());
    holder.close();
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, 4000);
}

void TestEndToEnd::commandWithPortClosedAsks()
{
    Bench b;
    b.program->prompts.noResponseAnswers = {Prompts::Answer::Yes};
    b.ui().cmdSend1[1]->click(); // before the first search the port is closed
    QCOMPARE(b.program->prompts.noResponseCount, 1);
    QVERIFY(b.program->link.isSearching());
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
}

void TestEndToEnd::pollsEveryTwoSecondsWithSTimeOne()
{
    Bench b({}, "1,\"9600\",\"-\",1,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(b.board->timesOf(u"PV01?"_s).size() >= 3, 8000);
    QVERIFY(spacedBy(b.board->timesOf(u"PV01?"_s), 1900, 2600));
}

void TestEndToEnd::vanishedBoardThenBack()
{
    Bench b;
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
    b.board->kill();
    const std::clock_t cpuBefore = std::clock();
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"COM Port comm-error! 8034"_s, 3000);
    QTest::qWait(1000);
    const double cpu = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    QVERIFY2(cpu < 0.5, qPrintable(u"%1 s CPU after the board vanished"_s.arg(cpu)));

    b.startBoard();
    b.program->prompts.noResponseAnswers = {Prompts::Answer::Yes, Prompts::Answer::Yes};
    b.ui().cmd0posto[1]->click();
    QCOMPARE(b.program->prompts.noResponseCount, 2);
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
}

// Two copies of the program under two names in one folder, each with its own settings
// file, port and board.
void TestEndToEnd::twoCopiesServeTwoBoards()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(u"ports"_s);
    const auto writeIni = [&](const QString &name, const QByteArray &text) {
        QFile f(dir.filePath(name + u".ini"_s));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    writeIni(u"pwmpanel"_s, "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    writeIni(u"pwmpanel2"_s, "2,\"9600\",\"-\",0,\"BOARD2\"\r\n\"c\",\"d\"\r\n"_ba);
    BoardProcess board1(dir.filePath(u"ports/com1"_s), dir.filePath(u"one.log"_s));
    BoardProcess board2(dir.filePath(u"ports/com2"_s), dir.filePath(u"two.log"_s),
                        {u"--name"_s, u"BOARD2"_s});
    Program panel1(dir.path(), u"pwmpanel"_s), panel2(dir.path(), u"pwmpanel2"_s);

    QTRY_COMPARE_WITH_TIMEOUT(panel1.ui().lblStatus->text(), u"Found: ORVIX7"_s, SearchTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(panel2.ui().lblStatus->text(), u"Found: BOARD2"_s, 2000);
    QCOMPARE(panel2.ui().lblDevCode->text(), u"Korvendi: uc=BOARD2  pc=pwmpanel2"_s);

    panel2.ui().cmd100posto[1]->click();
    QTRY_COMPARE(panel2.ui().lblDis1[1]->text(), u"100"_s);
    QVERIFY(board2.commands().contains(u"SV11=100"_s));
    QVERIFY(!board1.commands().contains(u"SV11=100"_s));

    panel2.ui().cmdSet->click();
    panel2.ui().txtTempName[1]->setText(u"Pump"_s);
    panel2.ui().cmdExit->click();
    QFile one(dir.filePath(u"pwmpanel.ini"_s)), two(dir.filePath(u"pwmpanel2.ini"_s));
    QVERIFY(one.open(QIODevice::ReadOnly) && two.open(QIODevice::ReadOnly));
    QCOMPARE(one.readAll(), "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    QCOMPARE(two.readAll(), "2,\"9600\",\"-\",0,\"BOARD2\"\r\n\"Pump\",\"d\"\r\n"_ba);
    QCOMPARE(panel1.ui().lblStatus->text(), u"Found: ORVIX7"_s);
    QTRY_COMPARE_WITH_TIMEOUT(panel2.ui().lblStatus->text(), u"Found: BOARD2"_s, SearchTimeout);
}

// The whole panel on the desktop's locale. CTest runs this once more as
// tst_endtoend_decimal_comma, on a German desktop (decimal comma) with the locale generated
// for it: only the typed setpoints follow the desktop; the board's numbers never do.
void TestEndToEnd::numbersOnTheDesktopsLocale()
{
    const bool comma = qEnvironmentVariableIsSet("PWM_DECIMAL_COMMA");
    if (comma) {
        // Fail, never pass unseen, when the run is not on the locale it is meant for.
        QCOMPARE(QByteArray(std::localeconv()->decimal_point), QByteArray(","));
        QCOMPARE(QLocale::system().decimalPoint(), u","_s);
    }
    Bench b;
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(b.highlighted(), 3, 4000);
    QTRY_COMPARE_WITH_TIMEOUT(b.ui().lblDis1[2]->text(), u"0"_s, 3000);

    b.ui().txtSV1[1]->setText(comma ? u"2,5"_s : u"2.5"_s);
    b.ui().cmdSend1[1]->click();
    QTRY_COMPARE(b.ui().lblDis1[1]->text(), u"2"_s);
    b.ui().txtSV1[2]->setText(comma ? u"99,5"_s : u"99.5"_s);
    b.ui().cmdSend1[2]->click();
    QTRY_COMPARE(b.ui().lblDis1[2]->text(), u"100"_s);
    QCOMPARE(b.board->commands().mid(4), (QStringList{u"SV11=2"_s, u"SV21=100"_s}));
}

void TestEndToEnd::scriptBesideThePanel_data()
{
    QTest::addColumn<bool>("pty");
    QTest::newRow("serial_for_url('socket://127.0.0.1:PORT')") << false;
    QTest::newRow("serial.Serial(PATH) on the pseudo-terminal") << true;
}

// The README's duty sweep (tools/sweep.py, on Debian's python3-serial) with short steps, while
// the panel goes on reading back, polling and keeping the history.
void TestEndToEnd::scriptBesideThePanel()
{
    QFETCH(bool, pty);
    Bench b({}, "1,\"9600\",\"-\",1,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    Share &share = b.program->startSharing();
    const QString path = b.dir.filePath(u"board"_s);
    QVERIFY(pty ? share.openPty(path, nullptr) : share.listen(0, nullptr));
    QTRY_COMPARE_WITH_TIMEOUT(b.status(), u"Found: ORVIX7"_s, SearchTimeout);

    QProcess script;
    script.start(qEnvironmentVariable("PWM_PYTHON"),
                 {qEnvironmentVariable("PWM_SWEEP"), pty ? path : u"socket://127.0.0.1:%1"_s.arg(share.port()),
                  u"--step"_s, u"0.1"_s});
    QTRY_VERIFY_WITH_TIMEOUT(script.state() == QProcess::NotRunning, 60000);
    QCOMPARE(script.exitCode(), 0);
    // Each reading is the virtual board's process value: half the duty, plus a ripple under 0.5.
    const QList<QByteArray> readings = script.readAllStandardOutput().trimmed().split('\n');
    QStringList settings;
    for (const QByteArray &r : readings)
        settings << u"SV11=%1"_s.arg(int(r.split('=').value(1).toDouble() * 2) / 10 * 10);
    QCOMPARE(b.board->commands().filter(u"SV11="_s), settings);
    QCOMPARE(settings, (QStringList{u"SV11=0"_s, u"SV11=10"_s, u"SV11=20"_s, u"SV11=30"_s, u"SV11=40"_s, u"SV11=50"_s,
                                    u"SV11=60"_s, u"SV11=70"_s, u"SV11=80"_s, u"SV11=90"_s, u"SV11=100"_s}));
    QCOMPARE(b.ui().lblDis1[1]->text(), u"100"_s);
    qsizetype clients = 0;
    for (qsizetype i = 0; i < b.program->history.ring().size(); ++i)
        clients += b.program->history.ring().at(i).client == 1;
    QCOMPARE(clients, 22); // eleven settings, eleven queries
    const QString where = pty ? path : u"127.0.0.1:%1"_s.arg(share.port());
    QVERIFY2(b.program->showHistory().sharingText().startsWith(u"shared on "_s + where),
             qPrintable(b.program->showHistory().sharingText()));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
