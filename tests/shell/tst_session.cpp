// The session over the fake serial control, with scripted questions and pauses: start-up and
// the settings cycle, what replies do, read-back, polling, the operator's commands, the
// no-response and exit questions, and what may happen inside a pause. The timers run on a fake
// clock: nothing here waits for the wall clock.
#include "support/fakeclock.h"
#include "support/sessionfixture.h"

#include <QCoreApplication>
#include <QTest>

using namespace std::chrono_literals;
using Kind = Session::StatusKind;
using Form = Session::SettingsForm;

namespace {

QStringList formTexts(const Form &f)
{
    return {f.comPort, f.baud, f.devPass, f.sTime, f.ucApp, f.label1, f.label2};
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void startsWaitingWithDefaults();
    void loadsSettingsFile_data();
    void loadsSettingsFile();
    void saveWritesExactFileAndReconnects();
    void saveRoundTripsAndReadsNumbersBack();
    void saveRefusesBadBoxes_data();
    void saveRefusesBadBoxes();
    void failedWriteKeepsOldFile();
    void unEditedSaveKeepsTheFile_data();
    void unEditedSaveKeepsTheFile();
    void settingsAndHelpViews();

    void showsEveryLine();
    void identifiesBoard_data();
    void identifiesBoard();
    void findsABoardWhoseNameHasAn8BitByte();
    void reportsAreKeptAndShown();
    void linesThatCannotBeHandledShowFailure();
    void searchFailuresAndTimeoutOnTheStatusLine_data();
    void searchFailuresAndTimeoutOnTheStatusLine();
    void noResponseAfterTheReplyTimeout_data();
    void noResponseAfterTheReplyTimeout();

    void readbackQueriesThreeThenStops();
    void readbackSkipsClosedPort();
    void pollingWorkedExample();
    void pollingEveryOtherTickWithSTimeOne();
    void pollingHoldsInputForItsPause();
    void pollingCounterNeverOverflows();

    void operatorCommands();
    void typedSetpoints_data();
    void typedSetpoints();
    void frequencyLockToggles();

    void failedSendAsksAndYesReconnects();
    void presetWithPortClosedAsksTwice();
    void noEndsTheProgram();
    void refusedWriteIsAnsweredByItsWriter_data();
    void refusedWriteIsAnsweredByItsWriter();
    void linkLossIsReportedAndCommandsFail();
    void closeAsks_data();
    void closeAsks();

    void identificationInsideReadbackPauseStartsOver();
    void identificationInsidePollPause();
    void replyInsideCommandPause();
    void clickInsideAnotherCommandsPause();
    void saveInsideCommandPause();
    void closeConfirmedInsideCommandPause();

    // Lines from clients of the share.
    void clientLinesTakeTheCommandPath_data();
    void clientLinesTakeTheCommandPath();
};

void TestSession::startsWaitingWithDefaults()
{
    SessionFixture p;
    QCOMPARE(p.s().caption(), u"PWM Panel: pwmpanel"_s);
    QVERIFY(p.statusIs(u"wait..."_s, Kind::Waiting));
    QVERIFY(p.link.isSearching());
    QVERIFY(!p.s().readbackTimer().isEnabled());
    QVERIFY(!p.s().sampleTimer().isEnabled());
    QVERIFY(!p.link.replyTimer().isEnabled());
    QCOMPARE(p.s().readbackTimer().interval(), 800ms);
    QCOMPARE(p.s().sampleTimer().interval(), 1000ms);
    QCOMPARE(formTexts(p.screen.form), (QStringList{u"1"_s, u"9600"_s, u"-"_s, u"0"_s, u"ORVIX7"_s,
                                                    u"PWM Out1(%):"_s, u"PWM Out2(%):"_s}));
    QCOMPARE(p.screen.labels[1], u"PWM Out1(%):"_s);
    QCOMPARE(p.screen.labels[2], u"PWM Out2(%):"_s);
    QCOMPARE(p.serial.commPort(), 1);
    QCOMPARE(p.serial.settings, u"9600,N,8,1"_s);
    QVERIFY(!p.serial.portOpen());
    QVERIFY2(!QFile::exists(p.iniPath()), "no file is written until SAVE-CLOSE");
    QVERIFY(!p.s().isFrequencyUnlocked());
    QCOMPARE(p.s().view(), Session::View::Main);
}

void TestSession::loadsSettingsFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("boxes"); // COM, Baud, DevPass, STime, ucApp, label 1, label 2
    QTest::addColumn<int>("commPort");

    const QStringList defaults{u"1"_s, u"9600"_s, u"-"_s, u"0"_s, u"ORVIX7"_s, u"PWM Out1(%):"_s,
                               u"PWM Out2(%):"_s};
    QTest::newRow("as written") << "3,\"19200\",\"pw\",5,\"BOARD2\"\r\n\"Fan\",\"Pump, left\"\r\n"_ba
                                << QStringList{u"3"_s, u"19200"_s, u"pw"_s, u"5"_s, u"BOARD2"_s,
                                               u"Fan"_s, u"Pump, left"_s}
                                << 3;
    QTest::newRow("one line, LF ends, extra ignored")
        << "7,\"9600\",\"x\",0,\"B\",\"l1\",\"l2\",\"more\"\nrest\n"_ba
        << QStringList{u"7"_s, u"9600"_s, u"x"_s, u"0"_s, u"B"_s, u"l1"_s, u"l2"_s} << 7;
    QStringList keepUcApp = defaults;
    keepUcApp[4] = u"FROMFILE"_s;
    QTest::newRow("second line missing") << "3,\"19200\",\"pw\",5,\"FROMFILE\"\r\n"_ba
                                         << keepUcApp << 1;
    QTest::newRow("port 0 refused") << "0,\"9600\",\"pw\",5,\"FROMFILE\"\r\n\"a\",\"b\"\r\n"_ba
                                    << keepUcApp << 1;
    QTest::newRow("baud refused") << "2,\"fast\",\"pw\",5,\"FROMFILE\"\r\n\"a\",\"b\"\r\n"_ba
                                  << keepUcApp << 1;
    QTest::newRow("port out of range") << "40000,\"9600\",\"pw\",5,\"X\"\r\n\"a\",\"b\"\r\n"_ba
                                       << defaults << 1;
    QTest::newRow("not a number") << "abc,\"9600\",\"pw\",5,\"X\"\r\n\"a\",\"b\"\r\n"_ba
                                  << defaults << 1;
    QTest::newRow("missing quote") << "1,\"9600,\"pw\",5,\"X\r\n"_ba << defaults << 1;
    QTest::newRow("empty") << QByteArray() << defaults << 1;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe\x01,\x02", 6) << defaults << 1;
    QTest::newRow("huge line") << QByteArray(3 << 20, 'x') << defaults << 1;
    QTest::newRow("binary after the values")
        << QByteArray("2,\"9600\",\"-\",0,\"B\"\r\n\"a\",\"b\"\r\n\x00\xff", 31)
        << QStringList{u"2"_s, u"9600"_s, u"-"_s, u"0"_s, u"B"_s, u"a"_s, u"b"_s} << 2;
}

void TestSession::loadsSettingsFile()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, boxes);
    QFETCH(int, commPort);
    SessionFixture p(file);
    QCOMPARE(formTexts(p.screen.form), boxes);
    QCOMPARE(p.screen.labels[1], boxes[5]);
    QCOMPARE(p.screen.labels[2], boxes[6]);
    QCOMPARE(p.serial.commPort(), commPort);
    QCOMPARE(p.s().state().ucApp, boxes[4]);
    QVERIFY(p.statusIs(u"wait..."_s, Kind::Waiting));
}

void TestSession::saveWritesExactFileAndReconnects()
{
    SessionFixture p(settingsWithSTime(2));
    p.identify();
    QVERIFY(p.s().sampleTimer().isEnabled());
    p.s().openSettings();
    QCOMPARE(p.screen.view, Session::View::Settings);
    QVERIFY2(!p.s().sampleTimer().isEnabled(), "polling stops while the settings are open");
    QVERIFY(p.s().saveSettings(p.screen.form));
    QCOMPARE(p.iniBytes(), "1,\"9600\",\"-\",2,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    QCOMPARE(p.screen.view, Session::View::Main);
    QVERIFY2(!p.serial.portOpen(), "saving closes the port");
    QVERIFY(p.link.isSearching());
    QVERIFY(p.statusIs(u"wait..."_s, Kind::Waiting));
    p.identify();
    QVERIFY(p.s().sampleTimer().isEnabled());
    QCOMPARE(p.s().state().sampleTicks, 1);
}

void TestSession::saveRoundTripsAndReadsNumbersBack()
{
    SessionFixture p("1,\"9600\",\"-\",-7,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba);
    Form f = p.screen.form;
    f.comPort = u" 03 "_s;
    f.ucApp = u"NEW,APP"_s;
    f.label1 = u"Heater, zone 1"_s;
    QVERIFY(p.s().saveSettings(f));
    QVERIFY(p.prompts.refusals.isEmpty());
    QCOMPARE(p.iniBytes(), "3,\"9600\",\"-\",-7,\"NEW,APP\"\r\n\"Heater, zone 1\",\"b\"\r\n"_ba);
    QCOMPARE(p.screen.form.comPort, u"3"_s);
    QCOMPARE(p.screen.labels[1], u"Heater, zone 1"_s);
    QCOMPARE(p.serial.commPort(), 3);
}

void TestSession::saveRefusesBadBoxes_data()
{
    QTest::addColumn<int>("box"); // 0..6: COM, Baud, DevPass, STime, ucApp, label 1, label 2
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");
    QTest::newRow("COM empty") << 0 << QString() << u"COM"_s;
    QTest::newRow("COM text") << 0 << u"x"_s << u"COM"_s;
    QTest::newRow("COM too big") << 0 << u"32767.5"_s << u"COM"_s;
    QTest::newRow("quote in baud") << 1 << u"96\"00"_s << u"Baud"_s;
    QTest::newRow("quote in ucApp") << 4 << u"\""_s << u"ucApp"_s;
    QTest::newRow("quote in label 2") << 6 << u"say \"hi\""_s << u"MyLabel2"_s;
    QTest::newRow("line break in DevPas") << 2 << u"a\nb"_s << u"DevPas"_s;
#ifndef Q_OS_WIN // the ANSI code page has one
    QTest::newRow("no byte for the euro sign") << 5 << u"Cost \u20ac"_s << u"MyLabel1"_s;
#endif
    QTest::newRow("no byte for an arrow") << 4 << u"A\u2192B"_s << u"ucApp"_s;
}

void TestSession::saveRefusesBadBoxes()
{
    QFETCH(int, box);
    QFETCH(QString, text);
    QFETCH(QString, named);
    const QByteArray old = "2,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"a\",\"b\"\r\n"_ba;
    SessionFixture p(old);
    p.s().openSettings();
    Form f = p.screen.form;
    QString *const fields[] = {&f.comPort, &f.baud, &f.devPass, &f.sTime, &f.ucApp, &f.label1, &f.label2};
    *fields[box] = text;
    QVERIFY(!p.s().saveSettings(f));
    QCOMPARE(p.prompts.refusals.size(), 1);
    QVERIFY2(p.prompts.refusals[0].contains(named), qPrintable(p.prompts.refusals[0]));
    QCOMPARE(p.screen.view, Session::View::Settings);
    QCOMPARE(p.iniBytes(), old);
}

void TestSession::failedWriteKeepsOldFile()
{
    SessionFixture p;
    // A folder where the file should be makes every write fail, even for root.
    QVERIFY(QDir(p.dir.path()).mkpath(u"pwmpanel.ini"_s));
    p.s().openSettings();
    QVERIFY(!p.s().saveSettings(p.screen.form));
    QCOMPARE(p.prompts.refusals.size(), 1);
    QVERIFY(p.prompts.refusals[0].contains(u"could not be written"_s));
    QCOMPARE(p.screen.view, Session::View::Settings);
    QVERIFY(QFileInfo(p.iniPath()).isDir());
}

// SAVE-CLOSE without an edit writes back the bytes that were read.
void TestSession::unEditedSaveKeepsTheFile_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("defaults as written") << "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n"_ba;
    QTest::newRow("29-character label")
        << "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"Tank 1 inlet valve, duty (%):\",\"b\"\r\n"_ba;
    QTest::newRow("8-bit degree sign in a label")
        << "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"Temp \xb0" "C\",\"b\"\r\n"_ba;
    QTest::newRow("8-bit byte in the board name")
        << "1,\"9600\",\"-\",0,\"ORVIX\xd6\"\r\n\"a\",\"b\"\r\n"_ba;
    QTest::newRow("all of them, and more high bytes")
        << "7,\"19200\",\"\xff\x80\",3,\"\xd6\xe9\"\r\n\"Tank 1 inlet valve, duty (%):\",\"\xb0\xa0\xa9\"\r\n"_ba;
}

void TestSession::unEditedSaveKeepsTheFile()
{
    QFETCH(QByteArray, file);
    SessionFixture p(file);
    p.s().openSettings();
    QVERIFY(p.s().saveSettings(p.screen.form));
    QVERIFY(p.prompts.refusals.isEmpty());
    QCOMPARE(p.iniBytes(), file);
}

void TestSession::settingsAndHelpViews()
{
    SessionFixture p;
    p.s().showHelp();
    QCOMPARE(p.screen.view, Session::View::Help);
    p.s().closeHelp();
    QCOMPARE(p.screen.view, Session::View::Main);
    p.s().openSettings();
    p.s().showHelp();
    QCOMPARE(p.screen.view, Session::View::Help);
    p.s().closeHelp();
    QCOMPARE(p.screen.view, Session::View::Settings);
}

void TestSession::showsEveryLine()
{
    SessionFixture p;
    p.link.searchStep();
    p.serial.feedNow("<b>x</b>\r");
    QVERIFY(p.statusIs(u"COM:1 Baud:9600 COM data: <b>x</b>"_s, Kind::Reply));
    QCOMPARE(p.screen.deviceCode, u"???"_s);
    QCOMPARE(p.screen.readback[1], u"-"_s);
    QVERIFY(p.link.isSearching());
}

void TestSession::identifiesBoard_data()
{
    QTest::addColumn<int>("sTime");
    QTest::addColumn<bool>("polling");
    QTest::newRow("STime 0") << 0 << false;
    QTest::newRow("STime -3") << -3 << false;
    QTest::newRow("STime 5") << 5 << true;
    QTest::newRow("STime 32766") << 32766 << true;
    QTest::newRow("STime 32767") << 32767 << false;
}

void TestSession::identifiesBoard()
{
    QFETCH(int, sTime);
    QFETCH(bool, polling);
    SessionFixture p(settingsWithSTime(sTime));
    p.link.searchStep();
    p.serial.feedNow("ORVIX7\r");
    QCOMPARE(p.screen.deviceCode, u"Korvendi: uc=ORVIX7  pc=pwmpanel"_s);
    QVERIFY(p.statusIs(u"Found: ORVIX7"_s, Kind::Found));
    QVERIFY(!p.link.isSearching());
    QVERIFY(p.s().readbackTimer().isEnabled());
    QCOMPARE(p.s().state().queryStep, 0);
    QCOMPARE(p.s().sampleTimer().isEnabled(), polling);
    QCOMPARE(p.s().state().sampleTicks, polling ? sTime - 1 : 0);
}

void TestSession::findsABoardWhoseNameHasAn8BitByte()
{
    SessionFixture p("1,\"9600\",\"-\",0,\"ORVIX\xd6\"\r\n\"a\",\"b\"\r\n"_ba);
    QCOMPARE(p.screen.form.ucApp, u"ORVIX\u00d6"_s);
    p.link.searchStep();
    p.serial.feedNow("ORVIX7\r");
    QVERIFY(p.link.isSearching());
    p.serial.feedNow("ORVIX\xd6\r");
    QVERIFY(p.statusIs(u"Found: ORVIX\u00d6"_s, Kind::Found));
    QVERIFY(!p.link.isSearching());
}

void TestSession::reportsAreKeptAndShown()
{
    SessionFixture p;
    p.serial.feedNow("SV11=37\rSV21=12.5\rSV01=5\r");
    QCOMPARE(p.screen.readback[1], u"37"_s);
    QCOMPARE(p.screen.readback[2], u"12.5"_s);
    QCOMPARE(p.screen.highlight, 5);
    QCOMPARE(p.s().state().deviceValues[2], 12.5f);
    p.serial.feedNow("SV01=9\r"); // any later report clears the highlight
    QCOMPARE(p.screen.highlight, 0);
    QCOMPARE(p.s().state().deviceValues[0], 9.f);
    QVERIFY(p.statusIs(u"COM:1 Baud:9600 COM data: SV01=9"_s, Kind::Reply));
}

void TestSession::linesThatCannotBeHandledShowFailure()
{
    SessionFixture p;
    p.serial.feedNow("SV11=7\r");
    p.serial.feedNow("SV11=1E39\r"); // beyond single precision: cannot be stored
    QVERIFY(p.statusIs(u"???"_s, Kind::Reply));
    QCOMPARE(p.screen.readback[1], u"7"_s);
    QCOMPARE(p.s().state().deviceValues[1], 7.f);
    p.serial.feedNow(QByteArray(40000, 'A') + '\r');
    QVERIFY(p.statusIs(u"???"_s, Kind::Reply));
    p.serial.feedNow("next\r"); // the next line shows normally
    QVERIFY(p.statusIs(u"COM:1 Baud:9600 COM data: next"_s, Kind::Reply));
}

void TestSession::searchFailuresAndTimeoutOnTheStatusLine_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status");
    QTest::newRow("no such port") << u"open"_s << 8002 << u"Invalid Port Number!"_s;
    QTest::newRow("port in use") << u"open"_s << 8005 << u"Port already open!"_s;
    QTest::newRow("no access") << u"open"_s << 8030 << u"COM Port comm-error! 8030"_s;
    QTest::newRow("settings") << u"settings"_s << 8015 << u"COM Port comm-error! 8015"_s;
    QTest::newRow("inputlen") << u"inputlen"_s << 380 << u"COM Port comm-error! 380"_s;
    QTest::newRow("no reply") << QString() << 0 << u"No response!"_s;
}

void TestSession::searchFailuresAndTimeoutOnTheStatusLine()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(QString, status);
    SessionFixture p;
    if (!operation.isEmpty())
        p.serial.failing[operation] = code;
    p.link.searchStep();
    if (operation.isEmpty()) {
        QVERIFY(p.statusIs(u"Searching for uc code..."_s, Kind::Waiting));
        p.link.replyTimeoutExpired();
    }
    QVERIFY(p.statusIs(status, Kind::Error));
}

// The search on the clock: its first step one search interval after the start, then "No
// response!" one reply timeout after the first step that no line followed, shown until the
// next step.
void TestSession::noResponseAfterTheReplyTimeout_data()
{
    QTest::addColumn<int>("lineAt"); // ms after the start; -1: the board says nothing
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("shownAt"); // -1: never
    QTest::newRow("silent board") << -1 << QByteArray() << 7500;
    QTest::newRow("a line, then silence") << 6000 << "hello\r"_ba << 12500;
    QTest::newRow("the board answers its name") << 3000 << "ORVIX7\r"_ba << -1;
}

void TestSession::noResponseAfterTheReplyTimeout()
{
    QFETCH(int, lineAt);
    QFETCH(QByteArray, line);
    QFETCH(int, shownAt);
    FakeClock &fake = FakeClock::instance();
    const auto start = fake.now();
    SessionFixture p;
    bool shown = false;
    QObject::connect(p.session.get(), &Session::statusChanged,
                     [&](const QString &text) { shown |= text == u"No response!"; });
    if (lineAt >= 0) {
        fake.advanceTo(start + 1ms * lineAt);
        p.serial.feedNow(line);
    }
    if (shownAt < 0) {
        fake.advanceTo(start + 20s);
        QVERIFY(!shown);
        return;
    }
    fake.advanceTo(start + 1ms * (shownAt - 1));
    QVERIFY(p.statusIs(u"Searching for uc code..."_s, Kind::Waiting));
    QVERIFY(!shown);
    fake.advanceTo(start + 1ms * shownAt);
    QVERIFY(p.statusIs(u"No response!"_s, Kind::Error));
    fake.advanceTo(start + 1ms * (shownAt + 2499));
    QVERIFY(p.statusIs(u"No response!"_s, Kind::Error));
}

void TestSession::readbackQueriesThreeThenStops()
{
    SessionFixture p;
    p.identify();
    p.s().readbackStep();
    QCOMPARE(p.pacer.pauses, 1);
    p.s().readbackStep();
    QVERIFY(p.s().readbackTimer().isEnabled());
    p.s().readbackStep();
    QVERIFY(!p.s().readbackTimer().isEnabled());
    QCOMPARE(p.serial.writtenText(), (QStringList{u"SV01?\r"_s, u"SV11?\r"_s, u"SV21?\r"_s}));
    QCOMPARE(p.pacer.pauses, 3);
}

void TestSession::readbackSkipsClosedPort()
{
    SessionFixture p;
    p.identify();
    p.serial.setPortOpen(false);
    for (int i = 0; i < 3; ++i)
        p.s().readbackStep();
    QCOMPARE(p.prompts.noResponseCount, 0);
    QCOMPARE(p.s().state().queryStep, 3);
    QVERIFY(!p.s().readbackTimer().isEnabled());
    QVERIFY(p.statusIs(u"Found: ORVIX7"_s, Kind::Found));
}

void TestSession::pollingWorkedExample()
{
    SessionFixture p(settingsWithSTime(5));
    p.identify();
    struct Tick {
        const char *status;
        int ticksAfter;
        bool poll;
    };
    const Tick ticks[] = {{"STime:5 STimer:4", 5, false}, {"STime:5 STimer:5", 0, true},
                          {"STime:5 STimer:0", 1, false}, {"STime:5 STimer:1", 2, false},
                          {"STime:5 STimer:2", 3, false}, {"STime:5 STimer:3", 4, false},
                          {"STime:5 STimer:4", 5, false}, {"STime:5 STimer:5", 0, true}};
    for (const Tick &tick : ticks) {
        p.serial.written.clear();
        p.s().pollTick();
        QCOMPARE(p.screen.status, QString::fromLatin1(tick.status));
        QCOMPARE(p.s().state().sampleTicks, tick.ticksAfter);
        QCOMPARE(p.serial.writtenText(), tick.poll ? QStringList{u"PV01?\r"_s} : QStringList{});
        QVERIFY(!p.s().isInputHeld());
    }
    QCOMPARE(p.screen.kind, Kind::Found); // the colour is left alone
}

void TestSession::pollingEveryOtherTickWithSTimeOne()
{
    SessionFixture p(settingsWithSTime(1));
    p.identify();
    QList<int> polled;
    for (int tick = 1; tick <= 6; ++tick) {
        p.serial.written.clear();
        p.s().pollTick();
        if (!p.serial.written.isEmpty())
            polled << tick;
    }
    QCOMPARE(polled, (QList<int>{2, 4, 6}));
}

void TestSession::pollingHoldsInputForItsPause()
{
    SessionFixture p(settingsWithSTime(1));
    p.identify();
    p.s().pollTick();
    bool heldDuringPause = false;
    p.pacer.actions << [&] { heldDuringPause = p.screen.held && p.s().isInputHeld(); };
    p.s().pollTick();
    QVERIFY(heldDuringPause);
    QVERIFY(!p.screen.held);
}

void TestSession::pollingCounterNeverOverflows()
{
    SessionFixture p(settingsWithSTime(32766));
    p.identify();
    QCOMPARE(p.s().state().sampleTicks, 32765);
    p.s().pollTick();
    p.s().pollTick();
    QCOMPARE(p.s().state().sampleTicks, 0);
    QCOMPARE(p.serial.writtenText(), QStringList{u"PV01?\r"_s});
}

void TestSession::operatorCommands()
{
    SessionFixture p;
    p.identify();
    p.s().pressPreset(1, 50);
    p.s().pressPreset(2, 0);
    p.s().selectFrequency(7);
    QCOMPARE(p.serial.writtenText(), (QStringList{u"SV11=50\r"_s, u"PV01?\r"_s, u"SV21=0\r"_s,
                                                  u"PV02?\r"_s, u"SV01=7\r"_s}));
    QCOMPARE(p.pacer.pauses, 5);
    QCOMPARE(p.screen.readback[1], u"-"_s); // only the board's reports change it
}

void TestSession::typedSetpoints_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent"); // empty: "error" in the box, nothing sent
    QTest::newRow("42") << u"42"_s << u"SV21=42"_s;
    QTest::newRow("2.5 rounds to even") << u"2.5"_s << u"SV21=2"_s;
    QTest::newRow("101") << u"101"_s << QString();
    QTest::newRow("text") << u"abc"_s << QString();
}

void TestSession::typedSetpoints()
{
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    SessionFixture p;
    p.identify();
    p.s().sendSetpoint(2, typed);
    if (sent.isEmpty()) {
        QCOMPARE(p.screen.setpointBox[2], u"error"_s);
        QVERIFY(p.serial.written.isEmpty());
        QCOMPARE(p.pacer.pauses, 0);
    } else {
        QCOMPARE(p.serial.writtenText(), QStringList{sent + u'\r'});
        QVERIFY(p.screen.setpointBox[2].isEmpty());
    }
}

void TestSession::frequencyLockToggles()
{
    SessionFixture p;
    p.s().toggleFrequencyLock();
    QVERIFY(p.screen.unlocked);
    p.s().toggleFrequencyLock();
    QVERIFY(!p.screen.unlocked);
    QVERIFY(!p.s().isFrequencyUnlocked());
}

void TestSession::failedSendAsksAndYesReconnects()
{
    SessionFixture p(settingsWithSTime(2));
    p.identify();
    QVERIFY(p.s().sampleTimer().isEnabled());
    p.serial.failing[u"output"_s] = SerialCode::WriteFailed;
    p.s().sendCommand(u"SV01=4"_s);
    QCOMPARE(p.prompts.noResponseCount, 1);
    QVERIFY(!p.serial.portOpen());
    QVERIFY(!p.s().sampleTimer().isEnabled());
    QVERIFY(p.link.isSearching());
    QVERIFY(p.statusIs(u"wait..."_s, Kind::Waiting));
    QCOMPARE(p.pacer.pauses, 1); // the pause still follows
}

void TestSession::presetWithPortClosedAsksTwice()
{
    SessionFixture p;
    p.s().pressPreset(1, 50);
    QCOMPARE(p.prompts.noResponseCount, 2);
    QVERIFY(p.serial.calls.contains(u"output SV11=50\r"_s));
    QVERIFY(p.serial.calls.contains(u"output PV01?\r"_s));
    QVERIFY(p.link.isSearching());
}

void TestSession::noEndsTheProgram()
{
    SessionFixture p;
    p.identify();
    p.serial.failing[u"output"_s] = SerialCode::WriteFailed;
    p.prompts.noResponseAnswers = {Prompts::Answer::No};
    QVERIFY_THROWS_EXCEPTION(ScriptedPrompts::ProgramEnded, p.s().pressPreset(1, 100));
    QVERIFY(p.prompts.ended);
    QCOMPARE(p.prompts.exitCount, 0);
    QCOMPARE(p.pacer.pauses, 0); // nothing further ran
    QVERIFY(!p.serial.portOpen());
}

// A write the device refuses, at once or after the port took it: the operator's commands
// ask whether to go on and never show a status text; the search and the read-back report it.
void TestSession::refusedWriteIsAnsweredByItsWriter_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<bool>("later");
    QTest::addColumn<bool>("asks");
    for (const bool later : {false, true}) {
        const char *when = later ? "later" : "at once";
        QTest::addRow("operator command, %s", when) << u"command"_s << later << true;
        QTest::addRow("client's command, %s", when) << u"client"_s << later << true;
        QTest::addRow("search, %s", when) << u"search"_s << later << false;
        QTest::addRow("read-back, %s", when) << u"read-back"_s << later << false;
    }
}

void TestSession::refusedWriteIsAnsweredByItsWriter()
{
    QFETCH(QString, writer);
    QFETCH(bool, later);
    QFETCH(bool, asks);
    SessionFixture p;
    p.identify();
    if (!later)
        p.serial.failing.insert(u"output"_s, SerialCode::WriteFailed);
    if (later)
        p.pacer.actions << [&] { p.serial.refuseLastWrite(); };

    if (writer == u"command")
        p.s().sendCommand(u"SV11=3"_s);
    else if (writer == u"client")
        p.s().clientLine(1, "SV11=3", false), QCoreApplication::sendPostedEvents();
    else if (writer == u"search")
        p.link.searchStep();
    else
        p.s().readbackStep();
    if (later && writer == u"search")
        p.serial.refuseLastWrite();

    QCOMPARE(p.prompts.noResponseCount, asks ? 1 : 0);
    if (asks) {
        QVERIFY(p.statusIs(u"wait..."_s, Kind::Waiting)); // Yes started over
        QVERIFY(p.link.isSearching());
    } else {
        QVERIFY(p.statusIs(u"COM Port comm-error! 8033"_s, Kind::Error));
    }
}

void TestSession::linkLossIsReportedAndCommandsFail()
{
    SessionFixture p;
    p.identify();
    p.serial.loseLink();
    QVERIFY(p.statusIs(u"COM Port comm-error! 8034"_s, Kind::Error));
    p.s().sendCommand(u"SV01=2"_s);
    QCOMPARE(p.prompts.noResponseCount, 1);
    QVERIFY2(p.link.isSearching(), "Yes starts the search again");
    QVERIFY(p.statusIs(u"wait..."_s, Kind::Waiting));
}

void TestSession::closeAsks_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Yes") << int(Prompts::Answer::Yes) << true;
    QTest::newRow("No") << int(Prompts::Answer::No) << false;
    QTest::newRow("Cancel") << int(Prompts::Answer::Cancel) << false;
}

void TestSession::closeAsks()
{
    QFETCH(int, answer);
    QFETCH(bool, closes);
    SessionFixture p(settingsWithSTime(3));
    p.identify();
    const QString status = p.screen.status;
    p.prompts.exitAnswers = {Prompts::Answer(answer)};
    QCOMPARE(p.s().confirmExit(), closes);
    QCOMPARE(p.prompts.exitCount, 1);
    QCOMPARE(p.serial.portOpen(), !closes);
    QCOMPARE(p.s().readbackTimer().isEnabled(), !closes);
    QCOMPARE(p.s().sampleTimer().isEnabled(), !closes);
    QCOMPARE(p.screen.status, status);
}

// Inside a pause anything may run; nothing is held across it.
void TestSession::identificationInsideReadbackPauseStartsOver()
{
    SessionFixture p;
    p.identify();
    p.pacer.actions << [&] { p.serial.feedNow("ORVIX7\r"); };
    p.s().readbackStep(); // step 1: SV01?, and the board identifies itself in its pause
    QCOMPARE(p.s().state().queryStep, 0);
    QVERIFY(p.s().readbackTimer().isEnabled());
    for (int i = 0; i < 3; ++i)
        p.s().readbackStep();
    QCOMPARE(p.serial.writtenText(),
             (QStringList{u"SV01?\r"_s, u"SV01?\r"_s, u"SV11?\r"_s, u"SV21?\r"_s}));
    QVERIFY(!p.s().readbackTimer().isEnabled());
}

void TestSession::identificationInsidePollPause()
{
    SessionFixture p(settingsWithSTime(1));
    p.identify();
    p.s().pollTick();
    p.pacer.actions << [&] { p.serial.feedNow("ORVIX7\r"); };
    p.s().pollTick(); // polls; the identification inside sets the count, the poll then clears it
    QCOMPARE(p.s().state().sampleTicks, 0);
    QVERIFY(p.s().readbackTimer().isEnabled());
    QVERIFY(!p.s().isInputHeld());
    QVERIFY(p.statusIs(u"Found: ORVIX7"_s, Kind::Found));
}

void TestSession::replyInsideCommandPause()
{
    SessionFixture p;
    p.identify();
    p.pacer.actions << [&] { p.serial.feedNow("SV21=33\r"); };
    p.s().pressPreset(2, 33);
    QCOMPARE(p.screen.readback[2], u"33"_s);
    QCOMPARE(p.serial.writtenText(), (QStringList{u"SV21=33\r"_s, u"PV02?\r"_s}));
}

void TestSession::clickInsideAnotherCommandsPause()
{
    SessionFixture p;
    p.identify();
    p.s().toggleFrequencyLock();
    p.pacer.actions << [&] { p.s().selectFrequency(3); };
    p.s().pressPreset(1, 50);
    QCOMPARE(p.serial.writtenText(), (QStringList{u"SV11=50\r"_s, u"SV01=3\r"_s, u"PV01?\r"_s}));
}

void TestSession::saveInsideCommandPause()
{
    SessionFixture p;
    p.identify();
    p.pacer.actions << [&] {
        p.s().openSettings();
        QVERIFY(p.s().saveSettings(p.screen.form));
    };
    p.s().pressPreset(1, 100); // the save closes the port: the query after it cannot go out
    QCOMPARE(p.serial.writtenText(), QStringList{u"SV11=100\r"_s});
    QCOMPARE(p.prompts.noResponseCount, 1);
    QVERIFY(p.link.isSearching());
    QCOMPARE(p.screen.view, Session::View::Main);
}

void TestSession::closeConfirmedInsideCommandPause()
{
    SessionFixture p;
    p.identify();
    p.prompts.exitAnswers = {Prompts::Answer::Yes};
    p.pacer.actions << [&] { QVERIFY(p.s().confirmExit()); };
    p.s().pressPreset(1, 0);
    // The sender resumes after the panel was told to close: nothing more is sent or asked.
    QCOMPARE(p.serial.writtenText(), QStringList{u"SV11=0\r"_s});
    QCOMPARE(p.prompts.noResponseCount, 0);
    QVERIFY(!p.serial.portOpen());
    QVERIFY(!p.link.isSearching());
}

// A client's line goes out as the operator's commands do, one write and the pause, once no
// command and no read-back or polling step is under way, in the order lines came.
void TestSession::clientLinesTakeTheCommandPath_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QStringList>("refused"); // "client:line"
    QTest::newRow("clients interleaved in arrival order") << u"interleaved"_s
        << QStringList{u"SV11=1\r"_s, u"SV21=2\r"_s, u"SV11=3\r"_s} << QStringList{};
    QTest::newRow("after the read-back step, not inside it") << u"read-back"_s
        << QStringList{u"SV01?\r"_s, u"SV11=42\r"_s} << QStringList{};
    QTest::newRow("after the operator's preset, not between its commands") << u"preset"_s
        << QStringList{u"SV11=50\r"_s, u"PV01?\r"_s, u"SV11=42\r"_s} << QStringList{};
    QTest::newRow("waiting when the board is lost: refused") << u"lost"_s << QStringList{} << QStringList{u"1:SV11=42"_s};
}

void TestSession::clientLinesTakeTheCommandPath()
{
    QFETCH(QString, row);
    QFETCH(QStringList, writes);
    QFETCH(QStringList, refused);
    SessionFixture p;
    p.identify();
    QStringList seenRefused;
    connect(p.session.get(), &Session::clientCommandRefused, this,
            [&](int client, const QByteArray &line) { seenRefused << QString::number(client) + u':' + QString::fromLatin1(line); });
    // A line, and the event loop running, inside the next pause: it waits for the pause to end.
    const auto insideThePause = [&] {
        p.pacer.actions << [&, before = p.serial.written.size() + 1] {
            p.s().clientLine(1, "SV11=42", false), QCoreApplication::sendPostedEvents();
            QCOMPARE(p.serial.written.size(), before);
        };
    };
    if (row == u"interleaved") {
        p.s().clientLine(1, "SV11=1", false);
        p.s().clientLine(2, "SV21=2", false);
        p.s().clientLine(1, "SV11=3", false);
    } else if (row == u"read-back") {
        insideThePause();
        p.s().readbackStep();
    } else if (row == u"preset") {
        insideThePause();
        p.s().pressPreset(1, 50);
    } else if (row == u"lost") {
        p.s().clientLine(1, "SV11=42", false);
        p.serial.loseLink();
    }
    QCoreApplication::sendPostedEvents();
    QCOMPARE(p.serial.writtenText(), writes);
    QCOMPARE(p.pacer.pauses, writes.size());
    QCOMPARE(seenRefused, refused);
}

int main(int argc, char *argv[])
{
    QCoreApplication::setEventDispatcher(new FakeClock); // the application owns it
    QCoreApplication app(argc, argv);
    TestSession test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_session.moc"
