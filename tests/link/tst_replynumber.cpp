#include "link/replynumber.h"
#include "support/decimalcommalocale.h"

#include <QTest>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <limits>

namespace
{

constexpr double Inf = std::numeric_limits<double>::infinity();

// QCOMPARE is fuzzy for floating point; these tests need the exact value.
bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

QByteArray show(double v)
{
    return QByteArray::number(v, 'g', 17);
}

} // namespace

class TestReplyNumber : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void toSingle_data();
    void toSingle();
    void format_data();
    void format();
    void independentOfCLocale();
};

void TestReplyNumber::read_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    struct Row {
        const char *text;
        double expected;
    };
    const Row rows[] = {
        {" 42", 42},
        {"4 2", 42},
        {"\t1\t2", 12},
        {"12.5", 12.5},
        {"0.1", 0.1},
        {"12,5", 12},
        {"abc", 0},
        {"", 0},
        {"   ", 0},
        {"03", 3},
        {" 3", 3},
        {"3.0", 3},
        {"3abc", 3},
        {"-7", -7},
        {"- 5", -5},
        {"+.5", 0.5},
        {".", 0},
        {"-", 0},
        {"--5", 0},
        {"1.2.3", 1.2},
        {"1E3", 1000},
        {"1e3", 1000},
        {"1 E 3", 1000},
        {"1E", 1},
        {"1E+", 1},
        {"1E-", 1},
        {"2.5E-1", 0.25},
        {"E5", 0},
        {"1E400", Inf},
        {"-1E400", -Inf},
        {"1E-400", 0},
        {"1E99999999999999999999", Inf},
        {"1E-99999999999999999999", 0},
        {"&H10", 16},
        {"&h10", 16},
        {"&HFF", 255},
        {"&Hff", 255},
        {"& H 1 0", 16},
        {"&O17", 15},
        {"&o17", 15},
        {"&O8", 0},
        {"&H", 0},
        {"&Hxyz", 0},
        {"&17", 0},
        {"&HFFFFFFFFFFFFFFFF", 18446744073709551615.0},
        {"&H10000000000000000", 18446744073709551616.0},
        // 2^53 + 1 lies halfway between two doubles: ties go to even...
        {"9007199254740993", 9007199254740992.0},
        // ...unless a digit far beyond the first 40 says it lies above the tie.
        {"9007199254740993.000000000000000000000000000000000000001", 9007199254740994.0},
        {"123456789012345678901234567890123456789012345678901234567890",
         123456789012345678901234567890123456789012345678901234567890.0},
        {"0.000000000000000000000000000000000000000000000000000123456789",
         0.000000000000000000000000000000000000000000000000000123456789},
        // Either side of the short way (15 digits, powers of ten up to 22): each as strtod reads it.
        {"25.31", 25.31},
        {"5.", 5},
        {"0000000000000000012.5", 12.5},
        {"123456789012345.5", 123456789012345.5},
        {"999999999999999", 999999999999999.0},
        {"9999999999999999", 9999999999999999.0},
        {"3E22", 3E22},
        {"3E23", 3E23},
        {"7E-22", 7E-22},
        {"7E-23", 7E-23},
        {"4.9406564584124654E-324", 4.9406564584124654E-324},
        {"1.7976931348623157E308", 1.7976931348623157E308},
    };
    for (const Row &r : rows)
        QTest::newRow(*r.text ? r.text : "empty") << QString::fromLatin1(r.text) << r.expected;

    const QString zeros(100000, QLatin1Char('0'));
    QTest::newRow("100000 digits") << QLatin1Char('1') + zeros << Inf;
    QTest::newRow("100000 leading zeros") << zeros + QLatin1String("12.5") << 12.5;
    QTest::newRow("100000 trailing zeros") << QLatin1String("12.5") + zeros << 12.5;
    QTest::newRow("100000 fraction zeros") << QLatin1String("0.") + zeros + QLatin1Char('1') << 0.0;
    QTest::newRow("long fraction, large exponent")
        << QLatin1String("0.") + zeros.left(99999) + QLatin1String("1E100000") << 1.0;
    QTest::newRow("long number, small exponent")
        << QLatin1Char('1') + zeros + QLatin1String("E-100000") << 1.0;
    QTest::newRow("tie broken after 1000 zeros")
        << QLatin1String("9007199254740993.") + zeros.left(1000) + QLatin1Char('1')
        << 9007199254740994.0;
    QTest::newRow("100000 hex digits")
        << QLatin1String("&H") + QString(100000, QLatin1Char('F')) << Inf;
}

void TestReplyNumber::read()
{
    QFETCH(QString, text);
    QFETCH(double, expected);

    const double got = ReplyNumber::read(text);
    QVERIFY2(same(got, expected), show(got) + " instead of " + show(expected));
}

void TestReplyNumber::toSingle_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("stored");
    QTest::addColumn<float>("expected");

    // Halfway between FLT_MAX and 2^128: the first value that rounds to infinity.
    const double tie = double(FLT_MAX) + std::ldexp(1.0, 103);

    QTest::newRow("zero") << 0.0 << true << 0.0f;
    QTest::newRow("12.5") << 12.5 << true << 12.5f;
    QTest::newRow("0.1 rounded") << 0.1 << true << 0.1f;
    QTest::newRow("negative") << -37.0 << true << -37.0f;
    QTest::newRow("FLT_MAX") << double(FLT_MAX) << true << FLT_MAX;
    QTest::newRow("just above FLT_MAX") << 3.4028235e38 << true << FLT_MAX;
    QTest::newRow("just below the tie") << std::nextafter(tie, 0.0) << true << FLT_MAX;
    QTest::newRow("negative, just below the tie") << -std::nextafter(tie, 0.0) << true << -FLT_MAX;
    QTest::newRow("the tie") << tie << false << 0.0f;
    QTest::newRow("negative tie") << -tie << false << 0.0f;
    QTest::newRow("3.4028236E38") << 3.4028236e38 << false << 0.0f;
    QTest::newRow("1E39") << 1e39 << false << 0.0f;
    QTest::newRow("DBL_MAX") << DBL_MAX << false << 0.0f;
    QTest::newRow("infinity") << Inf << false << 0.0f;
    QTest::newRow("-infinity") << -Inf << false << 0.0f;
    QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << false << 0.0f;
    QTest::newRow("underflow to zero") << 1e-50 << true << 0.0f;
    QTest::newRow("denormal") << 1e-45 << true << 1e-45f;
}

void TestReplyNumber::toSingle()
{
    QFETCH(double, value);
    QFETCH(bool, stored);
    QFETCH(float, expected);

    const auto got = ReplyNumber::toSingle(value);
    QCOMPARE(got.has_value(), stored);
    if (stored)
        QVERIFY2(*got == expected, show(*got) + " instead of " + show(expected));
}

void TestReplyNumber::format_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("whole") << 37.0f << "37";
    QTest::newRow("fraction") << 12.5f << "12.5";
    QTest::newRow("negative") << -3.0f << "-3";
    QTest::newRow("negative fraction") << -0.25f << "-0.25";
    QTest::newRow("zero") << 0.0f << "0";
    QTest::newRow("negative zero") << -0.0f << "0";
    QTest::newRow("trailing zeros of a whole value") << 150.0f << "150";
    QTest::newRow("0.1") << 0.1f << "0.1";
    QTest::newRow("a third") << 1.0f / 3.0f << "0.3333333";
    QTest::newRow("seven digits") << 123456.7f << "123456.7";
    QTest::newRow("largest fixed") << 9999999.0f << "9999999";
    QTest::newRow("1E+07") << 1e7f << "1E+07";
    QTest::newRow("rounded to seven digits") << 12345678.0f << "1.234568E+07";
    QTest::newRow("rounds up to 1E+07") << 9999999.5f << "1E+07";
    QTest::newRow("rounds up to 1E+11") << 1e11f << "1E+11"; // stored as 99999997952
    QTest::newRow("0.00001") << 0.00001f << "0.00001";
    QTest::newRow("rounds up to 0.00001") << 9.9999997e-6f << "0.00001";
    QTest::newRow("rounds up to 0.0001") << 1e-4f << "0.0001"; // stored below 10^-4
    QTest::newRow("last digit carries") << 1.0000001f << "1";
    QTest::newRow("just below 0.00001") << 9.999994e-6f << "9.999994E-06";
    QTest::newRow("small fixed") << 0.0001234567f << "0.0001234567";
    QTest::newRow("1E-06") << 1e-6f << "1E-06";
    QTest::newRow("negative 1E-06") << -1e-6f << "-1E-06";
    QTest::newRow("1.5E-07") << 1.5e-7f << "1.5E-07";
    QTest::newRow("2.5E+10") << 2.5e10f << "2.5E+10";
    QTest::newRow("FLT_MAX") << 3.4028235e38f << "3.402823E+38";
    QTest::newRow("-FLT_MAX") << -3.4028235e38f << "-3.402823E+38";
    QTest::newRow("smallest normal") << FLT_MIN << "1.175494E-38";
    QTest::newRow("denormal") << 1e-45f << "1.401298E-45";
}

void TestReplyNumber::format()
{
    QFETCH(float, value);
    QFETCH(QString, expected);
    QCOMPARE(ReplyNumber::format(value), expected);
}

// On a desktop whose locale writes numbers with a decimal comma, replies still read and
// show with a point.
void TestReplyNumber::independentOfCLocale()
{
    DecimalCommaLocale german;
    const QString error = german.build();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QByteArray saved = std::setlocale(LC_NUMERIC, nullptr);
    QVERIFY2(std::setlocale(LC_NUMERIC, DecimalCommaLocale::Name), "the generated locale does not load");
    const QByteArray point = std::localeconv()->decimal_point;
    const QString formatted = ReplyNumber::format(12.5f);
    const double read = ReplyNumber::read(u"12.5E-1");
    const double comma = ReplyNumber::read(u"12,5");
    std::setlocale(LC_NUMERIC, saved.constData());
    QCOMPARE(point, QByteArray(","));
    QCOMPARE(formatted, QStringLiteral("12.5"));
    QVERIFY(read == 1.25);
    QVERIFY(comma == 12);
}

QTEST_APPLESS_MAIN(TestReplyNumber)
#include "tst_replynumber.moc"
