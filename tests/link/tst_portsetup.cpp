// The search for the board: port set-up, its error reports and the reply timeout.
#include "support/panelfixture.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestPortSetup : public QObject
{
    Q_OBJECT
private slots:
    void runsStepsInOrder();
    void reportsFailures_data();
    void reportsFailures();
    void repeatedRunKeepsPortOpen();
    void timeoutReportsOnce();
    void linkLossIsReportedAndCommandsFail();
    void refusedWriteIsAnsweredByItsWriter_data();
    void refusedWriteIsAnsweredByItsWriter();
};

void TestPortSetup::runsStepsInOrder()
{
    PanelFixture p;
    p.serial.calls.clear();
    p.t().timer1();
    QCOMPARE(p.serial.calls, (QStringList{u"settings 9600,n,8,1"_s, u"handshaking 0"_s, u"open"_s,
                                          u"dtr 0"_s, u"rts 0"_s, u"rthreshold 1"_s,
                                          u"inputlen 1"_s, u"output I?\r"_s}));
    QVERIFY(p.statusIs(u"Searching for uc code..."_s, Colors::StatusWaiting));
    QVERIFY(p.w().TimerCom().isActive());
    QCOMPARE(p.w().TimerCom().interval(), 5000);
    QVERIFY(p.w().Timer1().isActive());
}

void TestPortSetup::reportsFailures_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("timerCom");
    QTest::addColumn<bool>("open");

    QTest::newRow("no such port") << u"open"_s << 8002 << u"Invalid Port Number!"_s << true << false;
    QTest::newRow("port in use") << u"open"_s << 8005 << u"Port already open!"_s << true << false;
    QTest::newRow("no access") << u"open"_s << int(SerialCode::AccessDenied)
                               << u"COM Port comm-error! 8030"_s << true << false;
    QTest::newRow("settings") << u"settings"_s << 8015 << u"COM Port comm-error! 8015"_s << false
                              << false;
    QTest::newRow("handshaking") << u"handshaking"_s << 8032 << u"COM Port comm-error! 8032"_s
                                 << false << false;
    QTest::newRow("dtr") << u"dtr"_s << 8032 << u"COM Port comm-error! 8032"_s << true << true;
    QTest::newRow("inputlen") << u"inputlen"_s << 380 << u"COM Port comm-error! 380"_s << true << true;
    QTest::newRow("write") << u"output"_s << 8033 << u"COM Port comm-error! 8033"_s << true << true;
}

void TestPortSetup::reportsFailures()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(QString, status);
    QFETCH(bool, timerCom);
    QFETCH(bool, open);
    PanelFixture p;
    p.serial.failing[operation] = code;
    p.t().timer1();
    QVERIFY(p.statusIs(status, Colors::StatusError));
    QCOMPARE(p.w().TimerCom().isActive(), timerCom);
    QCOMPARE(p.serial.portOpen(), open);
    QVERIFY(p.serial.written.isEmpty());
    QVERIFY2(p.w().Timer1().isActive(), "the search goes on");
}

void TestPortSetup::repeatedRunKeepsPortOpen()
{
    PanelFixture p;
    p.t().timer1();
    p.t().timer1();
    p.t().timer1();
    QCOMPARE(p.serial.openCount, 1);
    QCOMPARE(p.serial.calls.count(u"dtr 0"_s), 3);
    QCOMPARE(p.serial.writtenText(), (QStringList{u"I?\r"_s, u"I?\r"_s, u"I?\r"_s}));
}

void TestPortSetup::timeoutReportsOnce()
{
    PanelFixture p;
    p.t().timer1();
    p.t().timerCom();
    QVERIFY(p.statusIs(u"No response!"_s, Colors::StatusError));
    QVERIFY(!p.w().TimerCom().isActive());
    QVERIFY(p.serial.portOpen());

    // Any line ends the timeout, even one that is not the board's name.
    p.t().timer1();
    QVERIFY(p.w().TimerCom().isActive());
    p.serial.feedNow("hello\r");
    QVERIFY(!p.w().TimerCom().isActive());
    QVERIFY(p.w().Timer1().isActive());
}

void TestPortSetup::linkLossIsReportedAndCommandsFail()
{
    PanelFixture p;
    p.identify();
    p.serial.loseLink();
    QVERIFY(p.statusIs(u"COM Port comm-error! 8034"_s, Colors::StatusError));
    p.dialogs.noResponseAnswers = {Dialogs::Answer::Yes};
    p.w().sendCommand(u"SV01=2"_s);
    QCOMPARE(p.dialogs.noResponseCount, 1);
    QVERIFY2(p.w().Timer1().isActive(), "Yes starts the search again");
    QVERIFY(p.statusIs(u"wait..."_s, Colors::StatusWaiting));
}

// A write the device refuses, at once or after output() took it: the operator's commands
// ask whether to go on and never show a status text; the search and the read-back report it.
void TestPortSetup::refusedWriteIsAnsweredByItsWriter_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<bool>("later");
    QTest::addColumn<bool>("asks");
    for (const bool later : {false, true}) {
        const char *when = later ? "later" : "at once";
        QTest::addRow("operator command, %s", when) << u"command"_s << later << true;
        QTest::addRow("search, %s", when) << u"search"_s << later << false;
        QTest::addRow("read-back, %s", when) << u"read-back"_s << later << false;
    }
}

void TestPortSetup::refusedWriteIsAnsweredByItsWriter()
{
    QFETCH(QString, writer);
    QFETCH(bool, later);
    QFETCH(bool, asks);
    PanelFixture p;
    p.identify();
    const QString before = p.status();
    p.dialogs.noResponseAnswers = {Dialogs::Answer::Yes};
    if (!later)
        p.serial.failing.insert(u"output"_s, SerialCode::WriteFailed);

    if (writer == u"command")
        p.t().transmit();
    else if (writer == u"search")
        p.t().timer1();
    else
        p.t().timer2();
    if (later)
        p.serial.refuseLastWrite();

    QCOMPARE(p.dialogs.noResponseCount, asks ? 1 : 0);
    if (asks) {
        QVERIFY2(p.status() == u"wait..."_s, qPrintable(p.status())); // Yes started over
        QVERIFY(p.w().Timer1().isActive());
    } else {
        QVERIFY(p.statusIs(u"COM Port comm-error! 8033"_s, Colors::StatusError));
    }
    QVERIFY(p.status() != before);
}

QTEST_MAIN(TestPortSetup)
#include "tst_portsetup.moc"
