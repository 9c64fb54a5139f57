#include "protocol.h"

#include "eightbittext.h"
#include "replynumber.h"

namespace Protocol {

QString setFrequency(int code)
{
    return FrequencyReport + QString::number(code);
}

QString setSetpoint(int output, int value)
{
    return (output == 1 ? Setpoint1Report : Setpoint2Report) + QString::number(value);
}

QString queryProcessValue(int output)
{
    return output == 1 ? QueryProcessValue1 : QueryProcessValue2;
}

QByteArray frame(const QString &command)
{
    return command.toLatin1() + Terminator;
}

Reply decode(QByteArrayView line, bool tooLong, const QString &expectedName)
{
    Reply r;
    if (tooLong) {
        r.failed = true;
        return r;
    }
    r.text = EightBitText::decode(line);
    r.identifies = r.text == expectedName;

    const QStringView prefix = QStringView(r.text).left(5);
    if (prefix == FrequencyReport)
        r.kind = Reply::Kind::FrequencyCode;
    else if (prefix == Setpoint1Report || prefix == Setpoint2Report)
        r.kind = Reply::Kind::Setpoint, r.output = prefix == Setpoint1Report ? 1 : 2;
    else
        return r;

    const auto value = ReplyNumber::toSingle(ReplyNumber::read(QStringView(r.text).mid(5)));
    if (value)
        r.value = *value;
    else
        r.failed = true;
    return r;
}

} // namespace Protocol
