#include "pwm/wholenumber.h"

#include <QLocale>
#include <QString>
#include <QTest>

class TestWholeNumber : public QObject
{
    Q_OBJECT

private slots:
    void toInt16_data();
    void toInt16();
    void systemDecimal();
};

void TestWholeNumber::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QChar>("decimal");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("expected");

    struct Row {
        const char *text;
        char decimal;
        bool valid;
        int expected;
    };
    const Row rows[] = {
        {"42", '.', true, 42},
        {" 42 ", '.', true, 42},
        {"\t42\t", '.', true, 42},
        {"+7", '.', true, 7},
        {"007", '.', true, 7},
        {"-1", '.', true, -1},
        {"101", '.', true, 101},
        // rounding: above half up, exact half to even, decided on the digits
        {"99.5", '.', true, 100},
        {"100.5", '.', true, 100},
        {"100.6", '.', true, 101},
        {"100.49999999999999999999", '.', true, 100},
        {"0.5", '.', true, 0},
        {"-0.5", '.', true, 0},
        {"1.5", '.', true, 2},
        {"2.5", '.', true, 2},
        {"-1.5", '.', true, -2},
        {"-2.5", '.', true, -2},
        {"2.50000000000000000001", '.', true, 3},
        {"2.50000000000000000000", '.', true, 2},
        {".5", '.', true, 0},
        {".6", '.', true, 1},
        {"5.", '.', true, 5},
        // range
        {"32767", '.', true, 32767},
        {"-32768", '.', true, -32768},
        {"32767.49", '.', true, 32767},
        {"32767.5", '.', false, 0},
        {"32768", '.', false, 0},
        {"-32768.5", '.', true, -32768},
        {"-32768.6", '.', false, 0},
        {"-32769", '.', false, 0},
        {"40000", '.', false, 0},
        {"99999", '.', false, 0},
        {"100000", '.', false, 0},
        {"4294967338", '.', false, 0}, // wraps to 42 in 32 bits
        // not numbers
        {"", '.', false, 0},
        {"   ", '.', false, 0},
        {"abc", '.', false, 0},
        {".", '.', false, 0},
        {"-", '.', false, 0},
        {"+", '.', false, 0},
        {"-.", '.', false, 0},
        {"1e3", '.', false, 0},
        {"1,000", '.', false, 0},
        {"0x10", '.', false, 0},
        {"&H10", '.', false, 0},
        {"1 2", '.', false, 0},
        {"- 5", '.', false, 0},
        {"+-5", '.', false, 0},
        {"5-", '.', false, 0},
        {"1.2.3", '.', false, 0},
        {"12abc", '.', false, 0},
        {"\n42", '.', false, 0},
        // a locale decimal comma beside the point
        {"12,5", ',', true, 12},
        {"2,5", ',', true, 2},
        {"3,5", ',', true, 4},
        {"3.5", ',', true, 4},
        {",5", ',', true, 0},
        {"1,5,5", ',', false, 0},
        {"1.5,5", ',', false, 0},
        {"1,5.5", ',', false, 0},
        {",", ',', false, 0},
        // a digit or sign can never act as the separator
        {"15", '1', true, 15},
        {"1-5", '-', false, 0},
    };
    for (const Row &r : rows) {
        const QByteArray name = QByteArray("\"") + r.text + "\" with '" + r.decimal + '\'';
        QTest::newRow(name.constData())
            << QString::fromLatin1(r.text) << QChar(r.decimal) << r.valid << r.expected;
    }

    const QString digits(10000, QLatin1Char('9'));
    QTest::newRow("10000 digits") << digits << QChar(u'.') << false << 0;
    QTest::newRow("10000 leading zeros")
        << QString(10000, QLatin1Char('0')) + QLatin1String("12") << QChar(u'.') << true << 12;
    QTest::newRow("10000 fraction digits")
        << QStringLiteral("7.") + digits << QChar(u'.') << true << 8;
    QTest::newRow("full-width digits")
        << QStringLiteral("\uFF14\uFF12") << QChar(u'.') << false << 0;
}

void TestWholeNumber::toInt16()
{
    QFETCH(QString, text);
    QFETCH(QChar, decimal);
    QFETCH(bool, valid);
    QFETCH(int, expected);

    const auto got = WholeNumber::toInt16(text, decimal);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(int(*got), expected);
}

// The system locale cannot be chosen from here; check what must hold for any of them.
void TestWholeNumber::systemDecimal()
{
    const QChar sep = WholeNumber::systemDecimal();
    const QLocale locale = QLocale::system();
    QVERIFY(!sep.isDigit());
    QVERIFY(!sep.isSpace());
    QVERIFY(sep != u'+' && sep != u'-');
    if (sep != u'.') {
        QCOMPARE(QString(sep), locale.decimalPoint());
        QVERIFY(QString(sep) != locale.groupSeparator());
    }
    const auto half = WholeNumber::toInt16(QStringLiteral("3") + sep + QLatin1Char('5'), sep);
    QVERIFY(half.has_value());
    QCOMPARE(*half, qint16(4));
}

QTEST_APPLESS_MAIN(TestWholeNumber)
#include "tst_wholenumber.moc"
