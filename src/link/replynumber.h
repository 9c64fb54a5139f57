#pragma once

#include <QString>
#include <QStringView>
#include <optional>

namespace ReplyNumber {

// Reads the longest numeric beginning of `text`: blanks and tabs are skipped anywhere (also
// between digits), then an optional sign, digits with at most one '.', an optional exponent
// (E or e, optional sign, digits); or "&H"/"&O" (either case) followed by hexadecimal or
// octal digits as a non-negative whole number. A comma is never a decimal point. No digit
// gives 0. Formed in double precision; never fails (huge values come out as infinity).
double read(QStringView text);

// The double rounded to single precision, or nothing when it lies beyond the
// single-precision range (that report cannot be stored).
std::optional<float> toSingle(double value);

// The text form of a stored value: whole values without a separator (37), others with at
// most seven significant digits (12.5), a leading '-' for negatives and no leading blank.
// Values of 10^7 and above, or below 10^-5 in magnitude, use exponent form with at least
// two exponent digits (1.234568E+07, 1E-06). Zero of either sign is "0".
QString format(float value);

} // namespace ReplyNumber
