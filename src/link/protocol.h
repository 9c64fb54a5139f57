#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1String>
#include <QString>

// What goes over the line: every command the panel sends, every reply it understands, and
// the decoder from a received line to what it reports. Commands are ASCII, each ended by one
// CR; replies are CR-ended lines, one character a byte.
namespace Protocol {

inline constexpr char Terminator = '\r';

inline constexpr QLatin1String Identify{"I?"};
inline constexpr QLatin1String QueryFrequency{"SV01?"};
inline constexpr QLatin1String QuerySetpoint1{"SV11?"};
inline constexpr QLatin1String QuerySetpoint2{"SV21?"};
inline constexpr QLatin1String QueryProcessValue1{"PV01?"};
inline constexpr QLatin1String QueryProcessValue2{"PV02?"};

// Reply prefixes; the set commands start the same way.
inline constexpr QLatin1String FrequencyReport{"SV01="};
inline constexpr QLatin1String Setpoint1Report{"SV11="};
inline constexpr QLatin1String Setpoint2Report{"SV21="};

QString setFrequency(int code);             // "SV01=3"
QString setSetpoint(int output, int value); // "SV11=50", "SV21=0"
QString queryProcessValue(int output);      // "PV01?", "PV02?"

// The bytes on the wire for a command: its text and one CR, in one piece.
QByteArray frame(const QString &command);

// What one received line means.
struct Reply {
    enum class Kind {
        Text,          // shown only
        FrequencyCode, // "SV01=": the board's frequency selection
        Setpoint,      // "SV11=" / "SV21=": output 1's or 2's setpoint
    };

    QString text;            // the line; empty when it was too long to handle
    bool identifies = false; // the line is the expected name: the board is found
    Kind kind = Kind::Text;
    int output = 0;          // 1 or 2, for a setpoint
    float value = 0;         // what a report carries, in single precision
    bool failed = false;     // cannot be handled: too long, or a value beyond single precision
};

// Decodes a line without its CR. `tooLong` marks a line cut at the assembler's limit.
Reply decode(QByteArrayView line, bool tooLong, const QString &expectedName);

} // namespace Protocol
