#include "link/linesettings.h"

#include <QTest>

using Parity = LineSettings::Parity;
using StopBits = LineSettings::StopBits;

class TestLineSettings : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
};

void TestLineSettings::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("baud");
    QTest::addColumn<Parity>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<StopBits>("stopBits");

    QTest::newRow("lower-case parity")
        << "9600,n,8,1" << 9600 << Parity::None << 8 << StopBits::One;
    QTest::newRow("upper-case parity")
        << "9600,N,8,1" << 9600 << Parity::None << 8 << StopBits::One;
    QTest::newRow("blanks around fields")
        << " 19200 ,\te\t, 7 , 2 " << 19200 << Parity::Even << 7 << StopBits::Two;
    QTest::newRow("odd, one and a half")
        << "115200,O,8,1.5" << 115200 << Parity::Odd << 8 << StopBits::OneAndHalf;
    QTest::newRow("lowest speed, mark, 5 bits")
        << "50,m,5,1" << 50 << Parity::Mark << 5 << StopBits::One;
    QTest::newRow("highest speed, space, 6 bits")
        << "4000000,S,6,2" << 4000000 << Parity::Space << 6 << StopBits::Two;
}

void TestLineSettings::accepted()
{
    QFETCH(QString, text);
    QFETCH(int, baud);
    QFETCH(Parity, parity);
    QFETCH(int, dataBits);
    QFETCH(StopBits, stopBits);

    const auto got = LineSettings::parse(text);
    QVERIFY(got.has_value());
    QCOMPARE(got->baud, baud);
    QCOMPARE(got->parity, parity);
    QCOMPARE(got->dataBits, dataBits);
    QCOMPARE(got->stopBits, stopBits);
}

void TestLineSettings::refused_data()
{
    QTest::addColumn<QString>("text");

    const char *const rows[] = {
        "abc,n,8,1",     "",
        "9600",          "9600,n,8",
        "9600,x,8,1",    "9600,n,9,1",
        "9600,n,8,3",    "0,n,8,1",
        "-5,n,8,1",      "9600,n,8,1,1",
        "96 00,n,8,1",   "49,n,8,1",
        "4000001,n,8,1", "+9600,n,8,1",
        "9600.0,n,8,1",  "9600,,8,1",
        "9600,nn,8,1",   "9600,n,4,1",
        "9600,n,,1",     "9600,n,8,",
        "9600,n,8,1.",   "9600,n,8,0",
        ",,,",           "9600,n,8,1,",
        "9600;n;8;1",    "99999999999999999999999999,n,8,1",
    };
    for (const char *row : rows)
        QTest::newRow(*row ? row : "empty") << QString::fromLatin1(row);
    QTest::newRow("full-width digits") << QStringLiteral("\uFF19\uFF16\uFF10\uFF10,n,8,1");
}

void TestLineSettings::refused()
{
    QFETCH(QString, text);
    QVERIFY(!LineSettings::parse(text).has_value());
}

QTEST_APPLESS_MAIN(TestLineSettings)
#include "tst_linesettings.moc"
