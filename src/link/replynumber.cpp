#include "replynumber.h"

#include <array>
#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace ReplyNumber
{

namespace
{

// Walks the text with blanks and tabs made invisible.
class Cursor
{
public:
    explicit Cursor(QStringView text) : m_text(text) { skipBlanks(); }

    bool atEnd() const { return m_pos >= m_text.size(); }
    char16_t peek() const { return atEnd() ? u'\0' : m_text[m_pos].unicode(); }
    void next()
    {
        ++m_pos;
        skipBlanks();
    }
    bool take(char16_t c)
    {
        if (atEnd() || peek() != c)
            return false;
        next();
        return true;
    }
    bool takeEither(char16_t a, char16_t b) { return take(a) || take(b); }

private:
    void skipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == u' ' || m_text[m_pos] == u'\t'))
            ++m_pos;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

int digitValue(char16_t c, int base)
{
    int d = 99;
    if (c >= u'0' && c <= u'9')
        d = c - u'0';
    else if (c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d < base ? d : -1;
}

double readRadix(Cursor &in, int base)
{
    quint64 exact = 0;
    double value = 0;
    bool inexact = false; // past 64 bits the rest is accumulated in double precision
    for (int d; (d = digitValue(in.peek(), base)) >= 0; in.next()) {
        if (!inexact && exact > (~quint64(0) - quint64(d)) / quint64(base)) {
            inexact = true;
            value = double(exact);
        }
        if (inexact)
            value = value * base + d;
        else
            exact = exact * quint64(base) + quint64(d);
    }
    return inexact ? value : double(exact);
}

// Enough digits for strtod to round exactly as if it saw them all; the rest only matter
// as "something non-zero follows".
constexpr qsizetype MaxDigits = 800;
constexpr qint64 ExponentCap = 1'000'000'000'000'000;
constexpr qint64 ResultCap = 100'000; // far past the double range either way

// Whole numbers of up to 15 digits and powers of ten up to 10^22 are exact in a double.
constexpr qsizetype ExactDigits = 15;
constexpr qint64 ExactPower = 22;
constexpr std::array<double, ExactPower + 1> PowersOfTen{1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

double readDecimal(Cursor &in)
{
    bool negative = false;
    if (in.take(u'-'))
        negative = true;
    else
        in.take(u'+');

    std::string digits; // significant digits, no leading zeros
    bool anyDigit = false;
    bool dropped = false; // a non-zero digit beyond MaxDigits
    qint64 scale = 0;     // value = digits * 10^scale
    bool point = false;
    for (;; in.next()) {
        const char16_t c = in.peek();
        if (c == u'.' && !point) {
            point = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            break;
        anyDigit = true;
        if (digits.empty() && c == u'0') {
            if (point)
                --scale;
        } else if (qsizetype(digits.size()) < MaxDigits) {
            digits.push_back(char(c));
            if (point)
                --scale;
        } else {
            dropped = dropped || c != u'0';
            if (!point)
                ++scale;
        }
    }
    if (!anyDigit)
        return 0;

    qint64 exponent = 0;
    if (in.takeEither(u'E', u'e')) {
        bool expNegative = false;
        if (in.take(u'-'))
            expNegative = true;
        else
            in.take(u'+');
        for (char16_t c; (c = in.peek()) >= u'0' && c <= u'9'; in.next()) {
            if (exponent < ExponentCap)
                exponent = exponent * 10 + (c - u'0');
        }
        if (expNegative)
            exponent = -exponent;
    }
    if (digits.empty())
        return 0;

    if (dropped) {
        digits.push_back('1');
        --scale;
    }
    const qint64 total = qBound(-ResultCap, scale + exponent, ResultCap);
    // The usual reply, a few digits and a point: the digits are a whole number a double holds
    // exactly, and so is the power of ten, so one product or quotient is the correctly rounded
    // value, as strtod gives it, at a fraction of its cost.
    if (qsizetype(digits.size()) <= ExactDigits && total >= -ExactPower && total <= ExactPower) {
        qint64 whole = 0;
        for (const char d : digits)
            whole = whole * 10 + (d - '0');
        const double power = PowersOfTen[size_t(total < 0 ? -total : total)];
        const double magnitude = total < 0 ? double(whole) / power : double(whole) * power;
        return negative ? -magnitude : magnitude;
    }
    std::array<char, 32> tail{};
    tail[0] = 'E';
    const auto [end, ec] = std::to_chars(tail.data() + 1, tail.data() + tail.size() - 1, total);
    Q_UNUSED(ec);
    *end = '\0';
    digits.append(tail.data());

    // No decimal point in the buffer, so the C locale setting cannot change the reading.
    const double magnitude = std::strtod(digits.c_str(), nullptr);
    return negative ? -magnitude : magnitude;
}

// The usual reply read the short way: an optional '-', then nothing but up to 15 digits and
// at most one point, at least one of them a digit. Otherwise nothing: the long way reads it.
std::optional<double> readPlain(QStringView text)
{
    qsizetype i = 0;
    const bool negative = !text.isEmpty() && text[0] == u'-';
    i += negative;
    qint64 whole = 0;
    int digits = 0;
    int fraction = -1; // digits after the point, once there is one
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'.' && fraction < 0) {
            fraction = 0;
        } else if (c >= u'0' && c <= u'9' && digits < ExactDigits) {
            whole = whole * 10 + (c - u'0');
            ++digits;
            fraction += fraction >= 0;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0)
        return std::nullopt;
    if (whole == 0)
        return 0.0; // "-0" too, as the long way reads it
    const double magnitude = fraction > 0 ? double(whole) / PowersOfTen[size_t(fraction)] : double(whole);
    return negative ? -magnitude : magnitude;
}

} // namespace

double read(QStringView text)
{
    if (const std::optional<double> plain = readPlain(text))
        return *plain;
    Cursor in(text);
    if (in.take(u'&')) {
        if (in.takeEither(u'H', u'h'))
            return readRadix(in, 16);
        if (in.takeEither(u'O', u'o'))
            return readRadix(in, 8);
        return 0;
    }
    return readDecimal(in);
}

std::optional<float> toSingle(double value)
{
    // Halfway between FLT_MAX and the next power of two: from here on a float is infinite.
    constexpr double RoundsToInfinity = double(FLT_MAX) + 0x1p103;
    if (!std::isfinite(value) || std::fabs(value) >= RoundsToInfinity)
        return std::nullopt;
    if (std::fabs(value) > double(FLT_MAX))
        return value < 0 ? -FLT_MAX : FLT_MAX;
    return float(value);
}

QString format(float value)
{
    if (value == 0)
        return QStringLiteral("0");
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");

    // A whole value of up to seven digits, as a setting mostly is, is its digits.
    if (std::fabs(value) < 1e7f && value == std::trunc(value))
        return QString::number(qint64(value));

    // Seven significant digits, rounded once; the form follows the rounded exponent so
    // that, say, 9999999.5 becomes 1E+07 rather than "10000000".
    std::array<char, 32> buf{};
    const auto [end, ec] =
        std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(double(value)),
                      std::chars_format::scientific, 6);
    Q_UNUSED(ec);
    const std::string_view text(buf.data(), end - buf.data()); // d.ddddddE±x
    const auto e = text.find('e');
    std::string digits;
    digits.push_back(text[0]);
    digits.append(text.substr(2, e - 2));
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    QString out;
    out.reserve(16);
    if (value < 0)
        out += QLatin1Char('-');
    if (exponent >= 7 || exponent < -5) {
        out += QLatin1Char(digits[0]);
        if (digits.size() > 1) {
            out += QLatin1Char('.');
            out += QLatin1String(digits.data() + 1, qsizetype(digits.size() - 1));
        }
        out += exponent < 0 ? QLatin1String("E-") : QLatin1String("E+");
        const int magnitude = std::abs(exponent);
        if (magnitude < 10)
            out += QLatin1Char('0');
        out += QString::number(magnitude);
    } else if (exponent >= 0) {
        const auto whole = std::size_t(exponent) + 1;
        for (std::size_t i = 0; i < whole; ++i)
            out += QLatin1Char(i < digits.size() ? digits[i] : '0');
        if (digits.size() > whole) {
            out += QLatin1Char('.');
            out += QLatin1String(digits.data() + whole, qsizetype(digits.size() - whole));
        }
    } else {
        out += QLatin1String("0.");
        out += QString(-exponent - 1, QLatin1Char('0'));
        out += QLatin1String(digits.data(), qsizetype(digits.size()));
    }
    return out;
}

} // namespace ReplyNumber
