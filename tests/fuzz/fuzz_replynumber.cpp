// Reply numbers: read, toSingle and format.
//
// The input is the text after "SVx1=" as it comes off the line (Latin-1). Checked:
//   - read() agrees with a slow reference (blanks removed, then strtod on the decimal form,
//     or digit-by-digit for &H / &O) and does not care where blanks and tabs stand;
//   - toSingle() gives nothing exactly when the value is beyond single precision;
//   - format() gives a non-empty text in the documented shape, without a comma or a leading
//     blank, that reads back to within 1e-6 of the value.
// The first four and eight bytes, taken as a float and a double, go through toSingle and
// format as well, so that every bit pattern (NaN, infinities, subnormals) gets its turn.
#include "fuzzcheck.h"
#include "link/replynumber.h"

#include <QRegularExpression>
#include <QString>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

int digitOf(char c, int base)
{
    int d = 99;
    if (c >= '0' && c <= '9')
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// The value as it should come out: exact decimal rounding by the C library, radix values
// accumulated in extended precision.
struct Reference {
    double value = 0;
    bool exact = true; // false: radix value past 64 bits, compare with a tolerance
};

Reference reference(const std::string &withBlanks)
{
    std::string s;
    for (char c : withBlanks) {
        if (!isBlank(c))
            s.push_back(c);
    }
    Reference r;
    size_t i = 0;
    if (!s.empty() && s[0] == '&') {
        if (s.size() < 2)
            return r;
        int base = 0;
        if (s[1] == 'H' || s[1] == 'h')
            base = 16;
        else if (s[1] == 'O' || s[1] == 'o')
            base = 8;
        else
            return r;
        i = 2;
        while (i < s.size() && s[i] == '0')
            ++i;
        long double big = 0;
        unsigned __int128 exact = 0;
        int bits = 0;
        for (int d; i < s.size() && (d = digitOf(s[i], base)) >= 0; ++i) {
            big = big * base + d;
            exact = exact * unsigned(base) + unsigned(d);
            bits += base == 16 ? 4 : 3;
        }
        if (bits <= 64) {
            r.value = double(uint64_t(exact));
        } else {
            r.value = double(big);
            r.exact = false;
        }
        return r;
    }

    std::string text;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        text.push_back(s[i++]);
    bool digit = false, point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            digit = true;
        else if (s[i] == '.' && !point)
            point = true;
        else
            break;
        text.push_back(s[i]);
    }
    if (!digit)
        return r;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::string exponent = "E";
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            exponent.push_back(s[i++]);
        bool any = false;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
            exponent.push_back(s[i]);
            any = true;
        }
        if (any)
            text += exponent;
    }
    r.value = std::strtod(text.c_str(), nullptr);
    return r;
}

// Every float at or past this rounds to infinity in single precision.
const double SingleOverflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);

void checkToSingle(double d)
{
    const std::optional<float> f = ReplyNumber::toSingle(d);
    if (std::isnan(d) || std::fabs(d) >= SingleOverflow) {
        FUZZ_CHECK(!f);
        return;
    }
    FUZZ_CHECK(f.has_value());
    FUZZ_CHECK(std::isfinite(*f));
    if (std::fabs(d) > double(FLT_MAX))
        FUZZ_CHECK(*f == (d < 0 ? -FLT_MAX : FLT_MAX));
    else
        FUZZ_CHECK(*f == static_cast<float>(d));
}

int significantDigits(const QString &mantissa)
{
    int n = 0;
    bool started = false;
    for (QChar c : mantissa) {
        if (!c.isDigit())
            continue;
        if (c != u'0')
            started = true;
        if (started)
            ++n;
    }
    return n;
}

void checkFormat(float f)
{
    const QString s = ReplyNumber::format(f);
    FUZZ_CHECK(!s.isEmpty());
    FUZZ_CHECK(!s.contains(u','));
    FUZZ_CHECK(!s.front().isSpace());
    if (!std::isfinite(f))
        return;

    if (f == 0) {
        FUZZ_CHECK(s == u"0");
        return;
    }
    static const QRegularExpression shape(QStringLiteral(
        "^-?(?:[1-9][0-9]*(?:\\.[0-9]*[1-9])?"  // 37, 12.5
        "|0\\.[0-9]*[1-9]"                      // 0.00125
        "|[1-9](?:\\.[0-9]*[1-9])?E[+-][0-9]{2,3})$")); // 1.234568E+07, 1E-06
    FUZZ_CHECK(shape.match(s).hasMatch());
    FUZZ_CHECK(s.startsWith(u'-') == (f < 0));
    const qsizetype e = s.indexOf(u'E');
    FUZZ_CHECK(significantDigits(e < 0 ? s : s.first(e)) <= 7);
    if (std::fabs(f) < 1e7f && std::trunc(f) == f)
        FUZZ_CHECK(!s.contains(u'.') && e < 0);

    const std::optional<float> back = ReplyNumber::toSingle(ReplyNumber::read(s));
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == f || std::fabs(double(*back) - double(f)) <= 1e-6 * std::fabs(double(f)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const QString text = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));

    const double d = ReplyNumber::read(text);
    FUZZ_CHECK(!std::isnan(d));

    const Reference ref = reference(bytes);
    if (ref.exact) {
        FUZZ_CHECK(d == ref.value);
    } else if (std::isinf(d) || std::isinf(ref.value)) {
        FUZZ_CHECK(std::fabs(d) >= DBL_MAX * (1 - 1e-12) && std::fabs(ref.value) >= DBL_MAX * (1 - 1e-12));
    } else {
        FUZZ_CHECK(std::fabs(d - ref.value) <= 1e-12 * std::fabs(ref.value));
    }

    QString packed = text;
    packed.remove(u' ').remove(u'\t');
    const double dPacked = ReplyNumber::read(packed);
    FUZZ_CHECK(dPacked == d && std::signbit(dPacked) == std::signbit(d));

    checkToSingle(d);
    if (const std::optional<float> f = ReplyNumber::toSingle(d))
        checkFormat(*f);

    if (size >= sizeof(float)) {
        float raw;
        std::memcpy(&raw, data, sizeof raw);
        checkFormat(raw);
    }
    if (size >= sizeof(double)) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        checkToSingle(raw);
    }
    return 0;
}
