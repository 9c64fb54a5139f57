// The operator's duty and frequency controls, over the fake port.
#include "support/panelfixture.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPwmControls : public QObject
{
    Q_OBJECT
private slots:
    void sendConverts_data();
    void sendConverts();
    void presetsSendSetThenQuery_data();
    void presetsSendSetThenQuery();
    void frequencyButtons();
    void lockToggles();
};

void TestPwmControls::sendConverts_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent"); // empty: "error" in the box, nothing sent
    QTest::newRow("100") << 1 << u"100"_s << u"SV11=100"_s;
    QTest::newRow("0") << 1 << u"0"_s << u"SV11=0"_s;
    QTest::newRow("7") << 1 << u"7"_s << u"SV11=7"_s;
    QTest::newRow("42 output 2") << 2 << u"42"_s << u"SV21=42"_s;
    QTest::newRow("42 with blanks") << 1 << u"  42  "_s << u"SV11=42"_s;
    QTest::newRow("99.5") << 1 << u"99.5"_s << u"SV11=100"_s;
    QTest::newRow("100.5") << 1 << u"100.5"_s << u"SV11=100"_s;
    QTest::newRow("100.6") << 1 << u"100.6"_s << QString();
    QTest::newRow("0.5") << 1 << u"0.5"_s << u"SV11=0"_s;
    QTest::newRow("-0.5") << 1 << u"-0.5"_s << u"SV11=0"_s;
    QTest::newRow("1.5") << 1 << u"1.5"_s << u"SV11=2"_s;
    QTest::newRow("2.5") << 1 << u"2.5"_s << u"SV11=2"_s;
    QTest::newRow("101") << 1 << u"101"_s << QString();
    QTest::newRow("-1") << 2 << u"-1"_s << QString();
    QTest::newRow("empty") << 1 << QString() << QString();
    QTest::newRow("abc") << 1 << u"abc"_s << QString();
    QTest::newRow("40000") << 1 << u"40000"_s << QString();
    QTest::newRow("exponent") << 1 << u"1e1"_s << QString();
    QTest::newRow("error again") << 1 << u"error"_s << QString();
}

void TestPwmControls::sendConverts()
{
    QFETCH(int, output);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    PanelFixture p;
    p.identify();
    p.ui().txtSV1[output]->setText(typed);
    p.ui().cmdSend1[output]->click();
    if (sent.isEmpty()) {
        QCOMPARE(p.ui().txtSV1[output]->text(), u"error"_s);
        QVERIFY(p.serial.written.isEmpty());
    } else {
        QCOMPARE(p.serial.writtenText(), QStringList{sent + u'\r'});
        QCOMPARE(p.ui().txtSV1[output]->text(), typed);
    }
    QCOMPARE(p.ui().lblDis1[output]->text(), u"-"_s);
}

void TestPwmControls::presetsSendSetThenQuery_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("1: 0%") << 1 << 0 << QStringList{u"SV11=0\r"_s, u"PV01?\r"_s};
    QTest::newRow("1: 50%") << 1 << 50 << QStringList{u"SV11=50\r"_s, u"PV01?\r"_s};
    QTest::newRow("1: 100%") << 1 << 100 << QStringList{u"SV11=100\r"_s, u"PV01?\r"_s};
    QTest::newRow("2: 0%") << 2 << 0 << QStringList{u"SV21=0\r"_s, u"PV02?\r"_s};
    QTest::newRow("2: 50%") << 2 << 50 << QStringList{u"SV21=50\r"_s, u"PV02?\r"_s};
    QTest::newRow("2: 100%") << 2 << 100 << QStringList{u"SV21=100\r"_s, u"PV02?\r"_s};
}

void TestPwmControls::presetsSendSetThenQuery()
{
    QFETCH(int, output);
    QFETCH(int, percent);
    QFETCH(QStringList, sent);
    PanelFixture p;
    p.identify();
    const auto &u = p.ui();
    QPushButton *button = percent == 0 ? u.cmd0posto[output]
                          : percent == 50 ? u.cmd50posto[output] : u.cmd100posto[output];
    button->click();
    QCOMPARE(p.serial.writtenText(), sent);
    QCOMPARE(u.lblDis1[output]->text(), u"-"_s);
}

void TestPwmControls::frequencyButtons()
{
    PanelFixture p;
    p.identify();
    const auto &u = p.ui();
    u.cmdFpwm[5]->click();
    QVERIFY2(p.serial.written.isEmpty(), "the locked frame takes no clicks");

    u.cmdEnableFreq->click();
    for (int n = 1; n <= 7; ++n)
        u.cmdFpwm[n]->click();
    QCOMPARE(p.serial.writtenText(),
             (QStringList{u"SV01=1\r"_s, u"SV01=2\r"_s, u"SV01=3\r"_s, u"SV01=4\r"_s,
                          u"SV01=5\r"_s, u"SV01=6\r"_s, u"SV01=7\r"_s}));
    for (int n = 1; n <= 7; ++n)
        QCOMPARE(u.cmdFpwm[n]->palette().color(QPalette::Button), p.color(Colors::ButtonFace));
}

void TestPwmControls::lockToggles()
{
    PanelFixture p;
    const auto &u = p.ui();
    u.cmdEnableFreq->click();
    QVERIFY(u.FrameF1->isEnabled());
    QCOMPARE(u.cmdEnableFreq->text(), u"Disable Set Pwm Freq."_s);
    u.cmdEnableFreq->click();
    QVERIFY(!u.FrameF1->isEnabled());
    QCOMPARE(u.cmdEnableFreq->text(), u"Enable Set Pwm Freq."_s);
}

QTEST_MAIN(TestPwmControls)
#include "tst_pwmcontrols.moc"
