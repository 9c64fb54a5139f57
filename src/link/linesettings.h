#pragma once

#include <QString>
#include <optional>

// A serial settings text such as "9600,n,8,1": speed, parity letter, data bits, stop bits.
struct LineSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };

    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::One;

    // Accepts exactly four comma-separated fields, blanks around each ignored: a speed of
    // decimal digits from 50 to 4000000, a parity letter n/e/o/m/s in either case, data
    // bits 5 to 8 and stop bits 1, 1.5 or 2. Anything else gives nothing.
    static std::optional<LineSettings> parse(const QString &text);

    bool operator==(const LineSettings &) const = default;
};
