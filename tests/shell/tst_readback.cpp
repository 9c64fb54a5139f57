// After identification: read-back, sample-time polling, failed sends and closing.
#include "support/panelfixture.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
QByteArray settingsWithSTime(int sTime)
{
    return QStringLiteral("1,\"9600\",\"-\",%1,\"ORVIX7\"\r\n\"a\",\"b\"\r\n").arg(sTime).toLatin1();
}
} // namespace

class TestReadback : public QObject
{
    Q_OBJECT
private slots:
    void readbackQueriesThreeThenStops();
    void readbackSkipsClosedPort();
    void pollingWorkedExample();
    void pollingEveryOtherTickWithSTimeOne();
    void pollingBlocksOperatorInput();
    void pollingCounterNeverOverflows();
    void failedSendAsksAndYesReconnects();
    void presetWithPortClosedAsksTwice();
    void noEndsTheProgram();
    void pacingWaitLetsRepliesIn();
    void closeAsks_data();
    void closeAsks();
};

void TestReadback::readbackQueriesThreeThenStops()
{
    PanelFixture p;
    p.identify();
    QElapsedTimer clock;
    clock.start();
    p.t().timer2();
    QVERIFY2(clock.elapsed() >= 50, "each query is followed by the pacing wait");
    p.t().timer2();
    QVERIFY(p.w().Timer2().isActive());
    p.t().timer2();
    QVERIFY(!p.w().Timer2().isActive());
    QCOMPARE(p.serial.writtenText(), (QStringList{u"SV01?\r"_s, u"SV11?\r"_s, u"SV21?\r"_s}));
}

void TestReadback::readbackSkipsClosedPort()
{
    PanelFixture p;
    p.identify();
    p.serial.setPortOpen(false);
    for (int i = 0; i < 3; ++i)
        p.t().timer2();
    QCOMPARE(p.dialogs.noResponseCount, 0);
    QCOMPARE(p.w().state().QueryStep, 3);
    QVERIFY(!p.w().Timer2().isActive());
}

void TestReadback::pollingWorkedExample()
{
    PanelFixture p(settingsWithSTime(5));
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
        p.t().stTimer();
        QCOMPARE(p.status(), QString::fromLatin1(tick.status));
        QCOMPARE(p.w().state().SampleTicks, tick.ticksAfter);
        QCOMPARE(p.serial.writtenText(), tick.poll ? QStringList{u"PV01?\r"_s} : QStringList{});
        QVERIFY(p.w().isFormEnabled());
    }
    QCOMPARE(p.w().statusColor(), p.color(Colors::StatusFound)); // the colour is left alone
}

void TestReadback::pollingEveryOtherTickWithSTimeOne()
{
    PanelFixture p(settingsWithSTime(1));
    p.identify();
    QList<int> polled;
    for (int tick = 1; tick <= 6; ++tick) {
        p.serial.written.clear();
        p.t().stTimer();
        if (!p.serial.written.isEmpty())
            polled << tick;
    }
    QCOMPARE(polled, (QList<int>{2, 4, 6}));
}

void TestReadback::pollingBlocksOperatorInput()
{
    PanelFixture p(settingsWithSTime(1));
    p.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&p.w()));
    p.identify();
    p.t().stTimer();
    bool clickedDuringPoll = false;
    QTimer::singleShot(10, [&] {
        QVERIFY(!p.w().isFormEnabled());
        QTest::mouseClick(p.ui().cmd50posto[1], Qt::LeftButton);
        clickedDuringPoll = true;
    });
    p.serial.written.clear();
    p.t().stTimer(); // polls, with a 50 ms wait inside
    QVERIFY(clickedDuringPoll);
    QCOMPARE(p.serial.writtenText(), QStringList{u"PV01?\r"_s});
    QVERIFY(p.w().isFormEnabled());
}

void TestReadback::pollingCounterNeverOverflows()
{
    PanelFixture p(settingsWithSTime(32766));
    p.identify();
    QVERIFY(p.w().StTimer().isActive());
    p.t().state().SampleTicks = 32765;
    p.t().stTimer();
    p.t().stTimer();
    QCOMPARE(p.w().state().SampleTicks, 0);
    QCOMPARE(p.serial.writtenText(), QStringList{u"PV01?\r"_s});
}

void TestReadback::failedSendAsksAndYesReconnects()
{
    PanelFixture p(settingsWithSTime(2));
    p.identify();
    QVERIFY(p.w().StTimer().isActive());
    p.serial.failing[u"output"_s] = SerialCode::WriteFailed;
    p.w().sendCommand(u"SV01=4"_s);
    QCOMPARE(p.dialogs.noResponseCount, 1);
    QVERIFY(!p.serial.portOpen());
    QVERIFY(!p.w().StTimer().isActive());
    QVERIFY(p.w().Timer1().isActive());
    QVERIFY(p.statusIs(u"wait..."_s, Colors::StatusWaiting));
    QCOMPARE(p.w().state().PendingCommand, u"SV01=4"_s);
}

void TestReadback::presetWithPortClosedAsksTwice()
{
    PanelFixture p;
    p.dialogs.noResponseAnswers = {Dialogs::Answer::Yes, Dialogs::Answer::Yes};
    p.ui().cmd50posto[1]->click();
    QCOMPARE(p.dialogs.noResponseCount, 2);
    QVERIFY(p.serial.calls.contains(u"output SV11=50\r"_s));
    QVERIFY(p.serial.calls.contains(u"output PV01?\r"_s));
    QVERIFY(p.w().Timer1().isActive());
}

void TestReadback::noEndsTheProgram()
{
    PanelFixture p;
    p.identify();
    p.serial.failing[u"output"_s] = SerialCode::WriteFailed;
    p.dialogs.noResponseAnswers = {Dialogs::Answer::No};
    p.t().state().PendingCommand = u"SV11=1"_s;
    QVERIFY_THROWS_EXCEPTION(ScriptedDialogs::ProgramEnded, p.t().transmit());
    QVERIFY(p.dialogs.ended);
    QCOMPARE(p.dialogs.exitCount, 0);
    QVERIFY(!p.serial.portOpen());
}

void TestReadback::pacingWaitLetsRepliesIn()
{
    PanelFixture p;
    p.identify();
    p.serial.feed("SV21=33\r"); // queued: handled only while events run
    QElapsedTimer clock;
    clock.start();
    p.w().sendCommand(u"SV21=33"_s);
    QVERIFY(clock.elapsed() >= 50);
    QCOMPARE(p.ui().lblDis1[2]->text(), u"33"_s);
}

void TestReadback::closeAsks_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Yes") << int(Dialogs::Answer::Yes) << true;
    QTest::newRow("No") << int(Dialogs::Answer::No) << false;
    QTest::newRow("Cancel") << int(Dialogs::Answer::Cancel) << false;
}

void TestReadback::closeAsks()
{
    QFETCH(int, answer);
    QFETCH(bool, closes);
    PanelFixture p;
    p.w().show();
    p.identify();
    const QString status = p.status();
    p.dialogs.exitAnswers = {Dialogs::Answer(answer)};
    p.w().close();
    QCOMPARE(p.dialogs.exitCount, 1);
    QCOMPARE(p.w().isVisible(), !closes);
    QCOMPARE(p.serial.portOpen(), !closes);
    if (!closes) {
        QCOMPARE(p.status(), status);
        QVERIFY(p.w().Timer2().isActive());
    }
}

QTEST_MAIN(TestReadback)
#include "tst_readback.moc"
