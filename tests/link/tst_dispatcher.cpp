// Reply lines: what each one shows and starts.
#include "support/panelfixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TestDispatcher : public QObject
{
    Q_OBJECT
private slots:
    void showsEveryLine_data();
    void showsEveryLine();
    void identifiesBoard_data();
    void identifiesBoard();
    void identificationIsExact_data();
    void identificationIsExact();
    void secondIdentificationRestartsReadback();
    void readbackLabels_data();
    void readbackLabels();
    void frequencyHighlight_data();
    void frequencyHighlight();
    void burstDispatchesInOrder();
    void lineEndsOnlyDoNothing();
    void overlongLineShowsFailure();
    void unfinishedLineSurvivesReopen();
};

void TestDispatcher::showsEveryLine_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("status");
    QTest::newRow("CR") << "ABC\r"_ba << u"COM:1 Baud:9600 COM data: ABC"_s;
    QTest::newRow("CR LF") << "ABC\r\n"_ba << u"COM:1 Baud:9600 COM data: ABC"_s;
    QTest::newRow("LF CR") << "ABC\n\r"_ba << u"COM:1 Baud:9600 COM data: ABC"_s;
    QTest::newRow("LF inside") << "A\nBC\r"_ba << u"COM:1 Baud:9600 COM data: ABC"_s;
    QTest::newRow("lower case prefix") << "sv11=5\r"_ba << u"COM:1 Baud:9600 COM data: sv11=5"_s;
    QTest::newRow("short") << "SV1\r"_ba << u"COM:1 Baud:9600 COM data: SV1"_s;
    QTest::newRow("latin-1 and NUL") << QByteArray("\xe9\x00z\r", 4)
                                     << u"COM:1 Baud:9600 COM data: \u00e9\u0000z"_s;
    QTest::newRow("markup") << "<h1>x</h1>\r"_ba << u"COM:1 Baud:9600 COM data: <h1>x</h1>"_s;
}

void TestDispatcher::showsEveryLine()
{
    QFETCH(QByteArray, received);
    QFETCH(QString, status);
    PanelFixture p;
    p.t().timer1();
    p.serial.feed(received);
    QTRY_COMPARE(p.status(), status);
    QCOMPARE(p.w().statusColor(), p.color(Colors::StatusReply));
    QVERIFY(!p.w().TimerCom().isActive());
    QCOMPARE(p.ui().lblDis1[1]->text(), u"-"_s);
    QCOMPARE(p.ui().lblDevCode->text(), u"???"_s);
}

void TestDispatcher::identifiesBoard_data()
{
    QTest::addColumn<int>("sTime");
    QTest::addColumn<bool>("polling");
    QTest::newRow("STime 0") << 0 << false;
    QTest::newRow("STime -3") << -3 << false;
    QTest::newRow("STime 5") << 5 << true;
    QTest::newRow("STime 32767") << 32767 << false;
}

void TestDispatcher::identifiesBoard()
{
    QFETCH(int, sTime);
    QFETCH(bool, polling);
    PanelFixture p(QStringLiteral("1,\"9600\",\"-\",%1,\"ORVIX7\"\r\n\"a\",\"b\"\r\n").arg(sTime).toLatin1());
    p.t().state().SampleTicks = 77;
    p.t().timer1();
    p.serial.feedNow("ORVIX7\r");
    QCOMPARE(p.ui().lblDevCode->text(), u"Korvendi: uc=ORVIX7  pc=pwmpanel"_s);
    QVERIFY(p.statusIs(u"Found: ORVIX7"_s, Colors::StatusFound));
    QVERIFY(!p.w().Timer1().isActive());
    QVERIFY(p.w().Timer2().isActive());
    QCOMPARE(p.w().state().QueryStep, 0);
    QCOMPARE(p.w().StTimer().isActive(), polling);
    QCOMPARE(p.w().state().SampleTicks, polling ? sTime - 1 : 77);
}

void TestDispatcher::identificationIsExact_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("lower case") << "orvix7"_ba;
    QTest::newRow("leading blank") << " ORVIX7"_ba;
    QTest::newRow("trailing blank") << "ORVIX7 "_ba;
    QTest::newRow("longer") << "ORVIX77"_ba;
}

void TestDispatcher::identificationIsExact()
{
    QFETCH(QByteArray, line);
    PanelFixture p;
    p.t().timer1();
    p.serial.feedNow(line + '\r');
    QCOMPARE(p.w().statusColor(), p.color(Colors::StatusReply));
    QVERIFY(p.w().Timer1().isActive());
    QVERIFY(!p.w().Timer2().isActive());
    QCOMPARE(p.ui().lblDevCode->text(), u"???"_s);
}

void TestDispatcher::secondIdentificationRestartsReadback()
{
    PanelFixture p;
    p.identify();
    p.t().timer2();
    p.t().timer2();
    QCOMPARE(p.w().state().QueryStep, 2);
    p.serial.feedNow("ORVIX7\r");
    QCOMPARE(p.w().state().QueryStep, 0);
    QVERIFY(p.w().Timer2().isActive());
}

void TestDispatcher::readbackLabels_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("output");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<float>("stored");
    QTest::newRow("37") << "SV11=37"_ba << 1 << u"37"_s << 37.f;
    QTest::newRow("12.5") << "SV21=12.5"_ba << 2 << u"12.5"_s << 12.5f;
    QTest::newRow("blank before") << "SV11= 42"_ba << 1 << u"42"_s << 42.f;
    QTest::newRow("blank inside") << "SV11=4 2"_ba << 1 << u"42"_s << 42.f;
    QTest::newRow("comma") << "SV11=12,5"_ba << 1 << u"12"_s << 12.f;
    QTest::newRow("letters") << "SV11=abc"_ba << 1 << u"0"_s << 0.f;
    QTest::newRow("nothing") << "SV11="_ba << 1 << u"0"_s << 0.f;
    QTest::newRow("150") << "SV11=150"_ba << 1 << u"150"_s << 150.f;
    QTest::newRow("negative") << "SV21=-3"_ba << 2 << u"-3"_s << -3.f;
    QTest::newRow("hex") << "SV21=&H10"_ba << 2 << u"16"_s << 16.f;
    QTest::newRow("exponent") << "SV11=1E3"_ba << 1 << u"1000"_s << 1000.f;
    QTest::newRow("digits then text") << "SV21=55%ok"_ba << 2 << u"55"_s << 55.f;
    QTest::newRow("third") << "SV11=0.3333333333"_ba << 1 << u"0.3333333"_s << float(0.3333333333);
}

void TestDispatcher::readbackLabels()
{
    QFETCH(QByteArray, line);
    QFETCH(int, output);
    QFETCH(QString, shown);
    QFETCH(float, stored);
    PanelFixture p;
    p.serial.feedNow(line + '\r');
    QCOMPARE(p.ui().lblDis1[output]->text(), shown);
    QCOMPARE(p.ui().lblDis1[3 - output]->text(), u"-"_s);
    QCOMPARE(p.w().state().DeviceValues[output], stored);
    QCOMPARE(p.ui().txtSV1[output]->text(), u"10"_s);
    QVERIFY(p.status().endsWith(QString::fromLatin1(line)));
}

void TestDispatcher::frequencyHighlight_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("highlighted"); // 0: none
    QTest::newRow("3") << "SV01=3"_ba << 3;
    QTest::newRow("7") << "SV01=7"_ba << 7;
    QTest::newRow("03") << "SV01=03"_ba << 3;
    QTest::newRow("blank 3") << "SV01= 3"_ba << 3;
    QTest::newRow("3.0") << "SV01=3.0"_ba << 3;
    QTest::newRow("3abc") << "SV01=3abc"_ba << 3;
    QTest::newRow("0") << "SV01=0"_ba << 0;
    QTest::newRow("8") << "SV01=8"_ba << 0;
    QTest::newRow("2.5") << "SV01=2.5"_ba << 0;
    QTest::newRow("nothing") << "SV01="_ba << 0;
    QTest::newRow("x") << "SV01=x"_ba << 0;
    QTest::newRow("nearly 3") << "SV01=3.0000001"_ba << 3; // the same single-precision value
    QTest::newRow("lower case") << "sv01=3"_ba << 5;
}

void TestDispatcher::frequencyHighlight()
{
    QFETCH(QByteArray, line);
    QFETCH(int, highlighted);
    PanelFixture p;
    p.serial.feedNow("SV01=5\r"); // an earlier highlight, cleared by any later report
    p.serial.feedNow(line + '\r');
    for (int n = 1; n <= 7; ++n) {
        const QColor face = p.ui().cmdFpwm[n]->palette().color(QPalette::Button);
        QCOMPARE(face, p.color(n == highlighted ? Colors::Highlight : Colors::ButtonFace));
    }
}

void TestDispatcher::burstDispatchesInOrder()
{
    PanelFixture p;
    p.serial.feed("SV11=1\r\nSV21=2\r\nlast\r");
    QTRY_COMPARE(p.status(), u"COM:1 Baud:9600 COM data: last"_s);
    QCOMPARE(p.ui().lblDis1[1]->text(), u"1"_s);
    QCOMPARE(p.ui().lblDis1[2]->text(), u"2"_s);
}

void TestDispatcher::lineEndsOnlyDoNothing()
{
    PanelFixture p;
    p.t().timer1();
    p.serial.feedNow("\n\r\r\n\n\r");
    QVERIFY(p.statusIs(u"Searching for uc code..."_s, Colors::StatusWaiting));
    QVERIFY(p.w().TimerCom().isActive());
}

void TestDispatcher::overlongLineShowsFailure()
{
    PanelFixture p;
    p.t().timer1();
    p.serial.feedNow("SV11=" + QByteArray(32761, '0') + "7\r"); // 32767 characters: fine
    QVERIFY(p.status().startsWith(u"COM:1"_s));
    QCOMPARE(p.ui().lblDis1[1]->text(), u"7"_s);
    p.serial.feedNow("SV11=1E39\r"); // beyond single precision: cannot be stored
    QVERIFY(p.statusIs(u"???"_s, Colors::StatusReply));
    QCOMPARE(p.ui().lblDis1[1]->text(), u"7"_s);

    PanelFixture q;
    q.t().timer1();
    q.serial.feedNow(QByteArray(32768, 'A') + '\r');
    QVERIFY(q.statusIs(u"???"_s, Colors::StatusReply));
    QVERIFY(!q.w().TimerCom().isActive());

    // Megabytes without a line end keep a bounded buffer and still end in "???".
    for (int i = 0; i < 64; ++i)
        q.serial.feedNow(QByteArray(64 * 1024, 'B'));
    QVERIFY(q.w().RxLine().pending().size() <= LineAssembler::MaxLine + 1);
    q.serial.feedNow("\rSV21=7\r");
    QCOMPARE(q.ui().lblDis1[2]->text(), u"7"_s);
}

void TestDispatcher::unfinishedLineSurvivesReopen()
{
    PanelFixture p;
    p.t().timer1();
    p.serial.feedNow("SV1");
    p.serial.setPortOpen(false);
    p.t().timer1();
    p.serial.feedNow("1=9\r");
    QCOMPARE(p.ui().lblDis1[1]->text(), u"9"_s);
}

QTEST_MAIN(TestDispatcher)
#include "tst_dispatcher.moc"
