// The link to the board over the fake serial control: the search, its failures and
// timeout, and received bytes to decoded lines.
#include "link/boardlink.h"
#include "link/pacingwait.h"
#include "support/fakeserialcontrol.h"
#include "support/scriptedpacer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <ctime>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct Link {
    FakeSerialControl serial;
    ScriptedPacer pacer;
    BoardLink link{serial, pacer};
    QList<Protocol::Reply> replies;
    QStringList events; // "searching", "failed 8002", "timeout", "lost 8034", "refused 1"

    Link()
    {
        link.setExpectedName(u"ORVIX7"_s);
        link.setSpeed(u"9600"_s);
        QObject::connect(&link, &BoardLink::replyReceived,
                         [this](const Protocol::Reply &r) { replies << r; });
        QObject::connect(&link, &BoardLink::searching, [this] { events << u"searching"_s; });
        QObject::connect(&link, &BoardLink::searchFailed,
                         [this](int code) { events << u"failed %1"_s.arg(code); });
        QObject::connect(&link, &BoardLink::replyTimedOut, [this] { events << u"timeout"_s; });
        QObject::connect(&link, &BoardLink::linkLost,
                         [this](int code) { events << u"lost %1"_s.arg(code); });
        QObject::connect(&link, &BoardLink::writeRefused,
                         [this](BoardLink::Writer w) { events << u"refused %1"_s.arg(int(w)); });
    }
    QStringList texts() const
    {
        QStringList out;
        for (const auto &r : replies)
            out << (r.failed && r.text.isEmpty() ? u"<too long>"_s : r.text);
        return out;
    }
};

} // namespace

class TestBoardLink : public QObject
{
    Q_OBJECT
private slots:
    void timersKeepTheirIntervals();
    void searchRunsStepsInOrder();
    void searchReportsFailures_data();
    void searchReportsFailures();
    void repeatedStepKeepsPortOpen();
    void timeoutReportsOnceAndAnyLineEndsIt();
    void identificationEndsTheSearch();
    void linesInOrderWhateverTheChunks_data();
    void linesInOrderWhateverTheChunks();
    void overlongLinesStayBounded();
    void unfinishedLineEndsWithThePort_data();
    void unfinishedLineEndsWithThePort();
    void laterRefusalNamesTheWriter();
    void pauseLastsItsInterval();
};

void TestBoardLink::timersKeepTheirIntervals()
{
    Link l;
    QCOMPARE(l.link.searchTimer().interval(), 2500ms);
    QCOMPARE(l.link.replyTimer().interval(), 5000ms);
    QCOMPARE(l.link.searchTimer().name(), u"Timer1"_s);
    QCOMPARE(l.link.replyTimer().name(), u"TimerCom"_s);
    QVERIFY(!l.link.isSearching());
    l.link.startSearch();
    QVERIFY(l.link.isSearching());
}

void TestBoardLink::searchRunsStepsInOrder()
{
    Link l;
    l.serial.calls.clear();
    l.link.searchStep();
    QCOMPARE(l.serial.calls, (QStringList{u"settings 9600,n,8,1"_s, u"handshaking 0"_s, u"open"_s,
                                          u"dtr 0"_s, u"rts 0"_s, u"rthreshold 1"_s,
                                          u"inputlen 1"_s, u"output I?\r"_s}));
    QCOMPARE(l.events, QStringList{u"searching"_s});
    QVERIFY(l.link.replyTimer().isEnabled());
}

void TestBoardLink::searchReportsFailures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("searching"); // the step got as far as opening
    QTest::addColumn<bool>("open");

    QTest::newRow("no such port") << u"open"_s << 8002 << true << false;
    QTest::newRow("port in use") << u"open"_s << 8005 << true << false;
    QTest::newRow("no access") << u"open"_s << int(SerialCode::AccessDenied) << true << false;
    QTest::newRow("settings") << u"settings"_s << 8015 << false << false;
    QTest::newRow("handshaking") << u"handshaking"_s << 8032 << false << false;
    QTest::newRow("dtr") << u"dtr"_s << 8032 << true << true;
    QTest::newRow("inputlen") << u"inputlen"_s << 380 << true << true;
    QTest::newRow("write") << u"output"_s << 8033 << true << false;
}

void TestBoardLink::searchReportsFailures()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(bool, searching);
    QFETCH(bool, open);
    Link l;
    l.serial.failing[operation] = code;
    l.link.startSearch();
    l.link.searchStep();
    QStringList expected;
    if (searching)
        expected << u"searching"_s;
    expected << u"failed %1"_s.arg(code);
    QCOMPARE(l.events, expected);
    QCOMPARE(l.link.replyTimer().isEnabled(), searching);
    QCOMPARE(l.serial.portOpen(), open);
    QVERIFY(l.serial.written.isEmpty());
    QVERIFY2(l.link.isSearching(), "the search goes on");
}

void TestBoardLink::repeatedStepKeepsPortOpen()
{
    Link l;
    for (int i = 0; i < 3; ++i)
        l.link.searchStep();
    QCOMPARE(l.serial.openCount, 1);
    QCOMPARE(l.serial.calls.count(u"dtr 0"_s), 3);
    QCOMPARE(l.serial.writtenText(), (QStringList{u"I?\r"_s, u"I?\r"_s, u"I?\r"_s}));
}

void TestBoardLink::timeoutReportsOnceAndAnyLineEndsIt()
{
    Link l;
    l.link.searchStep();
    l.link.replyTimeoutExpired();
    QCOMPARE(l.events, (QStringList{u"searching"_s, u"timeout"_s}));
    QVERIFY(!l.link.replyTimer().isEnabled());
    QVERIFY(l.serial.portOpen());

    l.link.searchStep();
    QVERIFY(l.link.replyTimer().isEnabled());
    l.serial.feedNow("hello\r");
    QVERIFY(!l.link.replyTimer().isEnabled());
    // Line ends alone are no line.
    l.link.searchStep();
    l.serial.feedNow("\n\r\r\n\n\r");
    QVERIFY(l.link.replyTimer().isEnabled());
    QCOMPARE(l.replies.size(), 1);
}

void TestBoardLink::identificationEndsTheSearch()
{
    Link l;
    l.link.startSearch();
    l.link.searchStep();
    l.serial.feedNow("orvix7\rORVIX7 \r");
    QVERIFY(l.link.isSearching());
    l.serial.feedNow("ORVIX7\r");
    QVERIFY(!l.link.isSearching());
    QVERIFY(l.replies.last().identifies);
}

void TestBoardLink::linesInOrderWhateverTheChunks_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    const QByteArray all = "SV11=1\r\nSV21=2\n\rlast\r";
    QTest::newRow("one piece") << QList<QByteArray>{all};
    QList<QByteArray> bytes;
    for (char c : all)
        bytes << QByteArray(1, c);
    QTest::newRow("byte by byte") << bytes;
    QTest::newRow("split inside a line") << QList<QByteArray>{"SV1", "1=1\r\nSV21=2\n", "\rla", "st\r"};
}

void TestBoardLink::linesInOrderWhateverTheChunks()
{
    QFETCH(QList<QByteArray>, chunks);
    Link l;
    l.link.searchStep();
    for (const QByteArray &c : chunks)
        l.serial.feedNow(c);
    QCOMPARE(l.texts(), (QStringList{u"SV11=1"_s, u"SV21=2"_s, u"last"_s}));
}

void TestBoardLink::overlongLinesStayBounded()
{
    Link l;
    l.link.searchStep();
    l.serial.feedNow("SV11=" + QByteArray(32761, '0') + "7\r"); // 32767 characters: fine
    QCOMPARE(l.replies.last().value, 7.f);
    l.serial.feedNow(QByteArray(32768, 'A') + '\r');
    QCOMPARE(l.texts().last(), u"<too long>"_s);
    QVERIFY(!l.link.replyTimer().isEnabled());

    // Megabytes without a line end keep a bounded buffer and still end in one failed line.
    for (int i = 0; i < 64; ++i)
        l.serial.feedNow(QByteArray(64 * 1024, 'B'));
    QVERIFY(l.link.assembler().pending().size() <= LineAssembler::MaxLine + 1);
    l.serial.feedNow("\rSV21=7\r");
    QCOMPARE(l.texts().mid(2), (QStringList{u"<too long>"_s, u"SV21=7"_s}));
}

void TestBoardLink::unfinishedLineEndsWithThePort_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("closed by the panel") << 0;
    QTest::newRow("device gone") << 1;
    QTest::newRow("write refused") << 2;
    QTest::newRow("write refused by output()") << 3;
}

// Bytes of a line that the port closed in the middle of are not glued to the next reply.
void TestBoardLink::unfinishedLineEndsWithThePort()
{
    QFETCH(int, how);
    Link l;
    l.link.searchStep();
    l.serial.feedNow("PV01=2");
    if (how == 0)
        l.link.close();
    else if (how == 1)
        l.serial.loseLink();
    else if (how == 2)
        l.serial.refuseLastWrite();
    else {
        l.serial.failing[u"output"_s] = SerialCode::WriteFailed;
        l.link.searchStep(); // its I? refused: the port is closed
        l.serial.failing.clear();
    }
    l.link.searchStep();
    l.serial.feedNow("ORVIX7\r");
    QCOMPARE(l.texts(), QStringList{u"ORVIX7"_s});
    QVERIFY(l.replies.last().identifies);
}

void TestBoardLink::laterRefusalNamesTheWriter()
{
    Link l;
    l.link.searchStep();
    l.serial.refuseLastWrite();
    l.link.searchStep();
    QVERIFY(l.link.transmit(u"SV11=5"_s));
    l.serial.refuseLastWrite();
    l.link.searchStep();
    QCOMPARE(l.link.writeDirect(u"SV01?"_s), SerialCode::Ok);
    l.serial.refuseLastWrite();
    QCOMPARE(l.events.filter(u"refused"_s),
             (QStringList{u"refused %1"_s.arg(int(BoardLink::Writer::Search)),
                          u"refused %1"_s.arg(int(BoardLink::Writer::Sender)),
                          u"refused %1"_s.arg(int(BoardLink::Writer::Direct))}));
    QVERIFY(!l.link.transmit(u"SV11=5"_s)); // the port is closed
}

// The pause after each command as the program makes it, on the monotonic clock: at least its
// interval, with events running inside it, asleep rather than spinning. The bounds are loose
// on purpose; they only catch a pause gone wrong by far.
void TestBoardLink::pauseLastsItsInterval()
{
    EventLoopPacer pacer;
    bool ranInside = false;
    QTimer::singleShot(5, [&] { ranInside = true; });
    QElapsedTimer clock;
    clock.start();
    const std::clock_t cpuBefore = std::clock();
    pacer.pause();
    const qint64 ms = clock.elapsed();
    const double cpuMs = 1000.0 * double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    QVERIFY2(ms >= 50 && ms < 500, qPrintable(u"%1 ms"_s.arg(ms)));
    QVERIFY2(cpuMs < 25, qPrintable(u"%1 ms of CPU"_s.arg(cpuMs)));
    QVERIFY(ranInside);
}

QTEST_GUILESS_MAIN(TestBoardLink)
#include "tst_boardlink.moc"
