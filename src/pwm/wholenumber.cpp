#include "wholenumber.h"

#include <QLocale>
#include <QString>

namespace WholeNumber
{

namespace
{

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isSign(QChar c)
{
    return c == QLatin1Char('+') || c == QLatin1Char('-');
}

} // namespace

std::optional<qint16> toInt16(QStringView text, QChar localeDecimal)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);

    bool negative = false;
    if (!text.isEmpty() && isSign(text.front())) {
        negative = text.front() == QLatin1Char('-');
        text = text.sliced(1);
    }

    qsizetype i = 0;
    while (i < text.size() && isDigit(text[i]))
        ++i;
    QStringView whole = text.first(i);
    QStringView fraction;
    if (i < text.size()) {
        const QChar sep = text[i];
        const bool localeOk =
            !isDigit(localeDecimal) && !isSign(localeDecimal) && !isBlank(localeDecimal);
        if (sep != QLatin1Char('.') && !(localeOk && sep == localeDecimal))
            return std::nullopt;
        fraction = text.sliced(i + 1);
        for (QChar c : fraction) {
            if (!isDigit(c))
                return std::nullopt;
        }
    }
    if (whole.isEmpty() && fraction.isEmpty())
        return std::nullopt;

    while (!whole.isEmpty() && whole.front() == QLatin1Char('0'))
        whole = whole.sliced(1);
    if (whole.size() > 5) // 100000 and up: out of range whatever the fraction
        return std::nullopt;
    int magnitude = 0;
    for (QChar c : whole)
        magnitude = magnitude * 10 + (c.unicode() - '0');

    // Round on the decimal text itself: above half up, exact half to even.
    if (!fraction.isEmpty()) {
        const int first = fraction.front().unicode() - '0';
        bool roundUp = first > 5;
        if (first == 5) {
            bool beyondHalf = false;
            for (QChar c : fraction.sliced(1)) {
                if (c != QLatin1Char('0')) {
                    beyondHalf = true;
                    break;
                }
            }
            roundUp = beyondHalf || (magnitude % 2 != 0);
        }
        if (roundUp)
            ++magnitude;
    }

    const int value = negative ? -magnitude : magnitude;
    if (value < -32768 || value > 32767)
        return std::nullopt;
    return qint16(value);
}

QChar systemDecimal()
{
    const QLocale locale = QLocale::system();
    const QString point = locale.decimalPoint();
    if (point.size() != 1)
        return QLatin1Char('.');
    const QChar c = point.front();
    if (c == QLatin1Char('.') || point == locale.groupSeparator() || c.isDigit() || isSign(c) ||
        point == locale.negativeSign() || point == locale.positiveSign() || c.isSpace())
        return QLatin1Char('.');
    return c;
}

} // namespace WholeNumber
