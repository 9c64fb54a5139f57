// The whole panel on Windows: the real window and session over the Win32 serial layer, on the
// COM ports that tests/wine/withboards maps to virtual boards (COM1 bursts on SV21=77; COM12
// vanishes on SV21=7), with its settings in a folder whose name is not ASCII. Another copy of the real
// pwmpanel.exe (PWM_PANEL_EXE) holds a port for the check of a port in use.
#include "support/boardlog.h"
#include "support/program.h"
#include "support/cputime.h" // after the panel: <windows.h> defines names its controls use

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int SearchTimeout = 8000; // first try after 2.5 s, then the reply; Wine starts slowly
const QString Found = u"Found: ORVIX7"_s;
// COM 1, polled every 2 s, and an output label with a byte above 127 (Ö in the ANSI code page).
const QByteArray Settings = "1,\"9600\",\"-\",1,\"ORVIX7\"\r\n\"Ausgang \xd6" "1:\",\"PWM Out2(%):\"\r\n";

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// How many of the lines PV01=1, PV01=2, ... a burst sends the history holds whole and in order
// after entry `from`.
int burstLinesKept(const HistoryRing &ring, quint64 from)
{
    int next = 1;
    for (qsizetype i = qsizetype(from - ring.firstSerial()); i < ring.size(); ++i) {
        const HistoryRing::Entry e = ring.at(i);
        if (e.direction == HistoryRing::Direction::Received && e.text == "PV01=" + QByteArray::number(next))
            ++next;
    }
    return next - 1;
}

} // namespace

class TestEndToEndCom : public QObject
{
    Q_OBJECT
private slots:
    void panelOnComPorts();

private:
    void saveSettings(Program &p, const QString &com);
};

// Set, a port number, SAVE-CLOSE.
void TestEndToEndCom::saveSettings(Program &p, const QString &com)
{
    p.ui().cmdSet->click();
    p.ui().txtSet1[1]->setText(com);
    p.ui().cmdExit->click();
}

void TestEndToEndCom::panelOnComPorts()
{
    const BoardLog board1{qEnvironmentVariable("PWM_BOARD1_LOG")};
    const BoardLog board2{qEnvironmentVariable("PWM_BOARD2_LOG")};
    QTemporaryDir dir(QDir::tempPath() + u"/Prüfstand Ω-XXXXXX"_s);
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(u"pwmpanel.ini"_s);
    QVERIFY(writeFile(ini, Settings));
    Program p(dir.path(), u"pwmpanel"_s);
    p.window.show();

    // The search finds the board and reads back its settings.
    QTRY_COMPARE_WITH_TIMEOUT(p.status(), Found, SearchTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(board1.commands().contains(u"SV21?"_s), 4000);
    const QStringList readBack = board1.commands().mid(board1.commands().lastIndexOf(u"I?"_s)).filter(u"SV"_s);
    QCOMPARE(readBack, (QStringList{u"SV01?"_s, u"SV11?"_s, u"SV21?"_s}));
    QVERIFY2(p.ui().lblName1[1]->text().startsWith(u"Ausgang Ö"_s), qPrintable(p.ui().lblName1[1]->text()));

    // A preset: set, then its query at least 50 ms and less than 100 ms later.
    p.ui().cmd50posto[1]->click();
    QTRY_COMPARE(p.ui().lblDis1[1]->text(), u"50"_s);
    const double set = board1.timesOf(u"SV11=50"_s).value(0);
    QTRY_VERIFY(!board1.timesOf(u"PV01?"_s).isEmpty());
    double query = 0;
    for (const double t : board1.timesOf(u"PV01?"_s))
        if (t > set && query == 0)
            query = t;
    QVERIFY2(set > 0 && query - set >= 50 && query - set < 100, qPrintable(u"%1 ms apart"_s.arg(query - set)));

    // Polling every sample time + 1 s.
    QList<double> polls;
    QTRY_VERIFY_WITH_TIMEOUT((polls = board1.timesOf(u"PV01?"_s), polls.removeIf([&](double t) { return t <= query; }),
                              polls.size() >= 4),
                             12000);
    for (qsizetype i = 1; i < polls.size(); ++i)
        QVERIFY2(polls[i] - polls[i - 1] > 1800 && polls[i] - polls[i - 1] < 2400,
                 qPrintable(u"polled %1 ms apart"_s.arg(polls[i] - polls[i - 1])));

    // Output 2 set to 77 makes the board send a burst of 20,000 lines: each kept whole, three
    // times in a row, while the polling goes on.
    for (int run = 1; run <= 3; ++run) {
        const quint64 from = p.history.ring().endSerial();
        p.send(2, u"77"_s);
        QTRY_VERIFY_WITH_TIMEOUT(burstLinesKept(p.history.ring(), from) == 20000, 120000);
    }

    // SAVE-CLOSE, unedited: the file beside the program, byte for byte, and found again.
    p.ui().cmdSet->click();
    p.ui().cmdExit->click();
    QCOMPARE(fileBytes(ini), Settings);
    QTRY_COMPARE_WITH_TIMEOUT(p.status(), Found, SearchTimeout);

    // A port number that names no port.
    saveSettings(p, u"9"_s);
    QTRY_COMPARE_WITH_TIMEOUT(p.status(), u"Invalid Port Number!"_s, SearchTimeout);
    QVERIFY(fileBytes(ini).startsWith("9,"));

    // COM1 held by another program: another copy of the panel, in a folder of its own whose
    // name the ANSI code page cannot hold. It polls, so it has read its settings beside it.
    QTemporaryDir other(QDir::tempPath() + u"/Zweites Gerät Ж-XXXXXX"_s);
    const QString otherExe = other.filePath(u"pwmpanel.exe"_s);
    QVERIFY(QFile::copy(qEnvironmentVariable("PWM_PANEL_EXE"), otherExe));
    QVERIFY(writeFile(other.filePath(u"pwmpanel.ini"_s), Settings));
    QProcess holder;
    const qsizetype pollsBefore = board1.timesOf(u"PV01?"_s).size();
    holder.start(otherExe, {});
    QVERIFY(holder.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(board1.timesOf(u"PV01?"_s).size() > pollsBefore + 1, 20000);
    saveSettings(p, u"1"_s);
    QTRY_COMPARE_WITH_TIMEOUT(p.status(), u"Port already open!"_s, SearchTimeout);
    holder.kill();
    QVERIFY(holder.waitForFinished(10000));
    QTRY_COMPARE_WITH_TIMEOUT(p.status(), Found, SearchTimeout);

    // The board on COM12 goes away while its port is open: the panel notices, closes the port
    // and does not spin.
    saveSettings(p, u"12"_s);
    QTRY_COMPARE_WITH_TIMEOUT(p.status(), Found, SearchTimeout);
    QTRY_VERIFY_WITH_TIMEOUT(board2.commands().contains(u"SV21?"_s), 8000);
    p.prompts.noResponseAnswers = {Prompts::Answer::Yes};
    p.send(2, u"7"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!p.serial.portOpen() || p.prompts.noResponseCount > 0, 5000);
    qInfo("the board gone: status \"%s\", %d question(s)", qPrintable(p.status()), p.prompts.noResponseCount);
    QVERIFY(p.status() == u"COM Port comm-error! 8034"_s || p.prompts.noResponseCount == 1);
    QVERIFY(board2.commands().contains(u"SV21=7"_s));
    const double cpuBefore = processCpuSeconds();
    QTest::qWait(3000);
    const double cpu = processCpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.5, qPrintable(u"%1 s CPU in 3 s with the board gone"_s.arg(cpu)));
    QVERIFY(!p.prompts.ended);
}

QTEST_MAIN(TestEndToEndCom)
#include "tst_endtoend_com.moc"
