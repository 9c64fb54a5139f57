#pragma once

#include <QChar>
#include <QStringView>
#include <optional>

namespace WholeNumber {

// Converts a typed number to a 16-bit integer: blanks and tabs around it, an optional
// leading '+' or '-', decimal digits with an optional fractional part after the decimal
// separator, at least one digit in all. The fraction is rounded to the nearest integer,
// an exact half to the even neighbour, exactly on the decimal text. The point is always a
// separator; `localeDecimal` is accepted as well (pass '.' for the point alone). No
// exponent, no group separators, no hexadecimal. Text that is no such number, or a result
// outside -32768..32767, gives nothing.
std::optional<qint16> toInt16(QStringView text, QChar localeDecimal = QLatin1Char('.'));

// The decimal separator of the system locale when it can be accepted beside the point
// without changing what a reader of that locale sees; otherwise '.'.
QChar systemDecimal();

} // namespace WholeNumber
