#include "linesettings.h"

#include <QStringList>

namespace
{

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

QStringView stripBlanks(QStringView s)
{
    while (!s.isEmpty() && isBlank(s.front()))
        s = s.sliced(1);
    while (!s.isEmpty() && isBlank(s.back()))
        s.chop(1);
    return s;
}

// Decimal digits only; stops early so a long field cannot overflow.
std::optional<int> speedOf(QStringView s)
{
    constexpr int Min = 50, Max = 4000000;
    if (s.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (QChar c : s) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
        if (value > Max)
            return std::nullopt;
    }
    if (value < Min)
        return std::nullopt;
    return int(value);
}

} // namespace

std::optional<LineSettings> LineSettings::parse(const QString &text)
{
    const QList<QStringView> fields = QStringView(text).split(QLatin1Char(','));
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings result;

    const auto baud = speedOf(stripBlanks(fields[0]));
    if (!baud)
        return std::nullopt;
    result.baud = *baud;

    const QStringView parity = stripBlanks(fields[1]);
    if (parity.size() != 1)
        return std::nullopt;
    switch (parity.front().toLower().unicode()) {
    case 'n':
        result.parity = Parity::None;
        break;
    case 'e':
        result.parity = Parity::Even;
        break;
    case 'o':
        result.parity = Parity::Odd;
        break;
    case 'm':
        result.parity = Parity::Mark;
        break;
    case 's':
        result.parity = Parity::Space;
        break;
    default:
        return std::nullopt;
    }

    const QStringView data = stripBlanks(fields[2]);
    if (data.size() != 1 || data.front() < QLatin1Char('5') || data.front() > QLatin1Char('8'))
        return std::nullopt;
    result.dataBits = data.front().unicode() - '0';

    const QStringView stop = stripBlanks(fields[3]);
    if (stop == u"1")
        result.stopBits = StopBits::One;
    else if (stop == u"1.5")
        result.stopBits = StopBits::OneAndHalf;
    else if (stop == u"2")
        result.stopBits = StopBits::Two;
    else
        return std::nullopt;

    return result;
}
