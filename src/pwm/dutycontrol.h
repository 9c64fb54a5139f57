#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The duty controls of the two outputs: three presets and a typed setpoint each.
namespace DutyControl {

// What a typed setpoint box shows when its text is refused.
inline const QString Refused = QStringLiteral("error");

// A preset sets the output and then asks for its process value.
QStringList presetCommands(int output, int percent);

// The set command for a typed value: a whole number from 0 to 100 after rounding (halves to
// the even neighbour, in the system's number format). Nothing for any other text.
std::optional<QString> setpointCommand(int output, QStringView typed, QChar decimal);

} // namespace DutyControl
