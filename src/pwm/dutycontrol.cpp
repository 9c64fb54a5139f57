#include "dutycontrol.h"

#include "link/protocol.h"
#include "wholenumber.h"

namespace DutyControl {

QStringList presetCommands(int output, int percent)
{
    return {Protocol::setSetpoint(output, percent), Protocol::queryProcessValue(output)};
}

std::optional<QString> setpointCommand(int output, QStringView typed, QChar decimal)
{
    const auto value = WholeNumber::toInt16(typed, decimal);
    if (!value || *value < 0 || *value > 100)
        return std::nullopt;
    return Protocol::setSetpoint(output, *value);
}

} // namespace DutyControl
