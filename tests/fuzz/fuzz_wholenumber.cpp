// The Send boxes' conversion, WholeNumber::toInt16, against a slow reference written from
// the rules alone: blanks and tabs around, an optional sign, digits with an optional
// fraction after '.' or the locale's separator, rounding on the decimal text with an exact
// half to the even neighbour, -32768..32767. For short inputs the reference is checked in
// turn against strtod and the C library's round-to-nearest-even.
//
// The input is tried as UTF-8, as Latin-1 and as raw UTF-16, each with several separators
// (among them ones that must be refused as separators: digits, signs and blanks).
#include "fuzzcheck.h"
#include "pwm/wholenumber.h"

#include <QString>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

bool blank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool digit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

// Whole number of a digit string, or nothing past a billion (far out of range anyway).
std::optional<long long> smallValue(const std::u16string &digits)
{
    long long v = 0;
    for (char16_t c : digits) {
        if (v > 1'000'000'000)
            return std::nullopt;
        v = v * 10 + (c - u'0');
    }
    return v;
}

// Decimal text rounded with doubles: exact enough while there are at most 15 digits.
long long roundedByStrtod(const std::u16string &whole, const std::u16string &fraction)
{
    std::string text = "0";
    for (char16_t c : whole)
        text.push_back(char(c));
    text.push_back('.');
    for (char16_t c : fraction)
        text.push_back(char(c));
    text.push_back('0');
    return std::llrint(std::strtod(text.c_str(), nullptr)); // FE_TONEAREST: half to even
}

std::optional<qint16> reference(QStringView text, QChar localeDecimal)
{
    qsizetype from = 0, to = text.size();
    while (from < to && blank(text[from]))
        ++from;
    while (to > from && blank(text[to - 1]))
        --to;
    bool negative = false;
    if (from < to && (text[from] == u'-' || text[from] == u'+')) {
        negative = text[from] == u'-';
        ++from;
    }
    const bool localeUsable = !digit(localeDecimal) && localeDecimal != u'+' &&
                              localeDecimal != u'-' && !blank(localeDecimal);

    std::u16string whole, fraction;
    bool separator = false;
    for (qsizetype i = from; i < to; ++i) {
        const QChar c = text[i];
        if (digit(c)) {
            (separator ? fraction : whole).push_back(c.unicode());
        } else if (!separator && (c == u'.' || (localeUsable && c == localeDecimal))) {
            separator = true;
        } else {
            return std::nullopt;
        }
    }
    if (whole.empty() && fraction.empty())
        return std::nullopt;

    while (!whole.empty() && whole.front() == u'0')
        whole.erase(0, 1);
    const std::optional<long long> base = smallValue(whole);
    if (!base)
        return std::nullopt;
    long long magnitude = *base;
    if (!fraction.empty()) {
        const bool restZero = fraction.find_first_not_of(u'0', 1) == std::u16string::npos;
        if (fraction[0] > u'5' || (fraction[0] == u'5' && (!restZero || magnitude % 2 != 0)))
            ++magnitude;
    }
    if (whole.size() + fraction.size() <= 15) {
        std::fesetround(FE_TONEAREST);
        FUZZ_CHECK(roundedByStrtod(whole, fraction) == magnitude);
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

void check(QStringView text, QChar localeDecimal)
{
    const std::optional<qint16> got = WholeNumber::toInt16(text, localeDecimal);
    const std::optional<qint16> want = reference(text, localeDecimal);
    FUZZ_CHECK(got == want);
}

void checkAll(QStringView text, QChar extra)
{
    static const QChar separators[] = {
        QChar(u'.'), QChar(u','), QChar(u'\''), QChar(u'e'), QChar(u'5'), QChar(u'+'),
        QChar(u'-'), QChar(u' '), QChar(u'\t'), QChar(u'\u066b'), QChar(u'\u00b7'),
    };
    for (QChar sep : separators)
        check(text, sep);
    check(text, extra);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    const QChar extra = size > 0 ? QChar(char16_t(data[size - 1])) : QChar(u'.');
    checkAll(QString::fromUtf8(bytes, qsizetype(size)), extra);
    checkAll(QString::fromLatin1(bytes, qsizetype(size)), extra);
    std::u16string utf16(size / 2, u'\0');
    for (size_t i = 0; i + 1 < size; i += 2)
        utf16[i / 2] = char16_t(data[i] | (data[i + 1] << 8));
    checkAll(QStringView(utf16), extra);
    return 0;
}
