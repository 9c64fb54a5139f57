// Reply lines to what they report, and commands to bytes.
#include "link/protocol.h"
#include "pwm/frequencyselector.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Kind = Protocol::Reply::Kind;

Q_DECLARE_METATYPE(Kind)

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void decodes_data();
    void decodes();
    void identificationIsExact_data();
    void identificationIsExact();
    void frequencyHighlight_data();
    void frequencyHighlight();
    void commandsOnTheWire();
};

void TestProtocol::decodes_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<int>("output");
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("failed");

    QTest::newRow("text") << "ABC"_ba << u"ABC"_s << Kind::Text << 0 << 0.f << false;
    QTest::newRow("lower case prefix") << "sv11=5"_ba << u"sv11=5"_s << Kind::Text << 0 << 0.f << false;
    QTest::newRow("short") << "SV1"_ba << u"SV1"_s << Kind::Text << 0 << 0.f << false;
    QTest::newRow("process value is only shown") << "PV01=37"_ba << u"PV01=37"_s << Kind::Text << 0 << 0.f << false;
    QTest::newRow("8-bit and NUL") << QByteArray("\xe9\x00z", 3) << u"\u00e9\u0000z"_s << Kind::Text
                                   << 0 << 0.f << false;
    QTest::newRow("markup") << "<h1>x</h1>"_ba << u"<h1>x</h1>"_s << Kind::Text << 0 << 0.f << false;

    const auto sv = [](const char *line, int output, float value) {
        QTest::newRow(line) << QByteArray(line) << QString::fromLatin1(line) << Kind::Setpoint
                            << output << value << false;
    };
    sv("SV11=37", 1, 37.f);
    sv("SV21=12.5", 2, 12.5f);
    sv("SV11= 42", 1, 42.f);
    sv("SV11=4 2", 1, 42.f);
    sv("SV11=12,5", 1, 12.f);
    sv("SV11=abc", 1, 0.f);
    sv("SV11=", 1, 0.f);
    sv("SV11=150", 1, 150.f);
    sv("SV21=-3", 2, -3.f);
    sv("SV21=&H10", 2, 16.f);
    sv("SV11=1E3", 1, 1000.f);
    sv("SV21=55%ok", 2, 55.f);
    sv("SV11=0.3333333333", 1, float(0.3333333333));
    QTest::newRow("frequency") << "SV01=3"_ba << u"SV01=3"_s << Kind::FrequencyCode << 0 << 3.f << false;
    QTest::newRow("beyond single precision") << "SV11=1E39"_ba << u"SV11=1E39"_s << Kind::Setpoint
                                             << 1 << 0.f << true;
}

void TestProtocol::decodes()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);
    QFETCH(Kind, kind);
    QFETCH(int, output);
    QFETCH(float, value);
    QFETCH(bool, failed);
    const Protocol::Reply r = Protocol::decode(line, false, u"ORVIX7"_s);
    QCOMPARE(r.text, text);
    QCOMPARE(r.kind, kind);
    QCOMPARE(r.output, output);
    QCOMPARE(r.value, value);
    QCOMPARE(r.failed, failed);
    QVERIFY(!r.identifies);
}

void TestProtocol::identificationIsExact_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("identifies");
    QTest::newRow("the name") << "ORVIX7"_ba << u"ORVIX7"_s << true;
    QTest::newRow("lower case") << "orvix7"_ba << u"ORVIX7"_s << false;
    QTest::newRow("leading blank") << " ORVIX7"_ba << u"ORVIX7"_s << false;
    QTest::newRow("trailing blank") << "ORVIX7 "_ba << u"ORVIX7"_s << false;
    QTest::newRow("longer") << "ORVIX77"_ba << u"ORVIX7"_s << false;
    QTest::newRow("an 8-bit byte, the same") << "ORVIX\xd6"_ba << u"ORVIX\u00d6"_s << true;
    QTest::newRow("its UTF-8 form is not") << "ORVIX\xc3\x96"_ba << u"ORVIX\u00d6"_s << false;
    QTest::newRow("a report can be the name") << "SV01=3"_ba << u"SV01=3"_s << true;
}

void TestProtocol::identificationIsExact()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);
    QFETCH(bool, identifies);
    QCOMPARE(Protocol::decode(line, false, expected).identifies, identifies);
}

void TestProtocol::frequencyHighlight_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("highlighted"); // 0: none
    QTest::newRow("3") << "SV01=3"_ba << 3;
    QTest::newRow("1") << "SV01=1"_ba << 1;
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
}

void TestProtocol::frequencyHighlight()
{
    QFETCH(QByteArray, line);
    QFETCH(int, highlighted);
    const Protocol::Reply r = Protocol::decode(line, false, u"ORVIX7"_s);
    QCOMPARE(r.kind, Kind::FrequencyCode);
    QCOMPARE(FrequencySelector::highlightedCode(r.value), highlighted);
}

void TestProtocol::commandsOnTheWire()
{
    QCOMPARE(Protocol::frame(Protocol::Identify), "I?\r"_ba);
    QCOMPARE(Protocol::frame(Protocol::setFrequency(7)), "SV01=7\r"_ba);
    QCOMPARE(Protocol::frame(Protocol::setSetpoint(1, 100)), "SV11=100\r"_ba);
    QCOMPARE(Protocol::frame(Protocol::setSetpoint(2, 0)), "SV21=0\r"_ba);
    QCOMPARE(Protocol::frame(Protocol::queryProcessValue(2)), "PV02?\r"_ba);
    const Protocol::Reply tooLong = Protocol::decode("SV11=5"_ba, true, u"SV11=5"_s);
    QVERIFY(tooLong.failed);
    QVERIFY(!tooLong.identifies);
    QVERIFY(tooLong.text.isEmpty());
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
