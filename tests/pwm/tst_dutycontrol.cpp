// The duty controls' commands: presets, and typed setpoints with their conversion.
#include "pwm/dutycontrol.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestDutyControl : public QObject
{
    Q_OBJECT
private slots:
    void presetsSetThenQuery_data();
    void presetsSetThenQuery();
    void typedSetpoints_data();
    void typedSetpoints();
};

void TestDutyControl::presetsSetThenQuery_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QStringList>("sent");
    QTest::newRow("1: 0%") << 1 << 0 << QStringList{u"SV11=0"_s, u"PV01?"_s};
    QTest::newRow("1: 50%") << 1 << 50 << QStringList{u"SV11=50"_s, u"PV01?"_s};
    QTest::newRow("1: 100%") << 1 << 100 << QStringList{u"SV11=100"_s, u"PV01?"_s};
    QTest::newRow("2: 0%") << 2 << 0 << QStringList{u"SV21=0"_s, u"PV02?"_s};
    QTest::newRow("2: 50%") << 2 << 50 << QStringList{u"SV21=50"_s, u"PV02?"_s};
    QTest::newRow("2: 100%") << 2 << 100 << QStringList{u"SV21=100"_s, u"PV02?"_s};
}

void TestDutyControl::presetsSetThenQuery()
{
    QFETCH(int, output);
    QFETCH(int, percent);
    QFETCH(QStringList, sent);
    QCOMPARE(DutyControl::presetCommands(output, percent), sent);
}

void TestDutyControl::typedSetpoints_data()
{
    QTest::addColumn<int>("output");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("sent"); // empty: refused
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

void TestDutyControl::typedSetpoints()
{
    QFETCH(int, output);
    QFETCH(QString, typed);
    QFETCH(QString, sent);
    const auto command = DutyControl::setpointCommand(output, typed, u'.');
    QCOMPARE(command.value_or(QString()), sent);
}

QTEST_GUILESS_MAIN(TestDutyControl)
#include "tst_dutycontrol.moc"
