#include "comcheck.h"

#include "link/serialcontrol.h"
#include "shell/session.h"


#include <algorithm>

int openAsThePanel(SerialControl &serial, int number, const QString &baud)
{
    int rc = serial.setCommPort(number);
    if (rc == SerialCode::Ok)
        rc = serial.setSettings(baud + QStringLiteral(",n,8,1"));
    if (rc == SerialCode::Ok)
        rc = serial.setHandshaking(0);
    if (rc == SerialCode::Ok)
        rc = serial.setPortOpen(true);
    if (serial.portOpen())
        serial.setPortOpen(false);
    return rc;
}

namespace
{

// What stands in the way when opening fails with `code`, and what to do.
QString obstacle(int code, const QString &port, bool isListed)
{
    const QString status = Session::searchFailureText(code);
    switch (code) {
    case SerialCode::NoSuchPort:
        return isListed ? QStringLiteral("%1 is listed but cannot be found; the panel shows %2: "
                                         "plug the board in again")
                              .arg(port, status)
                        : QStringLiteral("Windows lists no %1 (not plugged in, or another "
                                         "number); the panel shows %2: plug the board in, or "
                                         "run pwmports for the COM ports there are")
                              .arg(port, status);
    case SerialCode::PortInUse:
        return QStringLiteral("another program holds it (a second panel, a serial monitor, an "
                              "upload still running); the panel shows %1: close that program")
            .arg(status);
    case SerialCode::LineSetupFailed:
        return QStringLiteral("its driver refused the speed, framing or timeouts; the panel "
                              "shows %1: try another speed (Set, Baud)")
            .arg(status);
    default:
        return QStringLiteral("its driver refused to open it; the panel shows %1: check the "
                              "device and its driver in the Device Manager")
            .arg(status);
    }
}

} // namespace

PortCheckReport checkComPorts(const QList<SystemPort> &listed,
                              const std::function<int(int number)> &open,
                              const PanelSettings &settings, std::optional<int> number)
{
    QList<int> numbers;
    if (number) {
        numbers << *number;
    } else {
        for (const SystemPort &p : listed)
            numbers << comNumber(p.portName);
        if (!numbers.contains(settings.values.comPort))
            numbers << settings.values.comPort;
        std::sort(numbers.begin(), numbers.end());
    }

    QString text;
    int problems = 0;
    for (const int n : std::as_const(numbers)) {
        const QString port = QStringLiteral("COM%1").arg(n);
        const auto it = std::find_if(listed.begin(), listed.end(), [n](const SystemPort &p) {
            return comNumber(p.portName) == n;
        });
        const bool isListed = it != listed.end();
        QString head = port;
        if (isListed && !it->description.isEmpty())
            head += QStringLiteral("  ") + it->description;
        if (n == settings.values.comPort)
            head += QStringLiteral(" (the settings' port: %1)").arg(settings.source());
        text += head + QLatin1Char('\n');

        const int code = open(n);
        if (code != SerialCode::Ok) {
            text += QStringLiteral("  In the way: ") + obstacle(code, port, isListed) +
                    QLatin1Char('\n');
            ++problems;
            continue;
        }
        text += QStringLiteral("  %1no program holds it: the panel shows Searching for uc "
                               "code..., then Found: %2 when the board answers (pwmports "
                               "--find asks it).\n")
                    .arg(isListed ? QStringLiteral("Present, and ")
                                  : QStringLiteral("Not in Windows' lists, yet it opens; "),
                         settings.values.ucApp);
    }
    if (problems == 0)
        text += QStringLiteral("Nothing found in the way. Opening the port resets most boards: "
                               "the first I? goes unanswered, and the panel's next search, 2.5 s "
                               "later, finds the board.\n");
    else
        text += problems == 1 ? QStringLiteral("1 thing in the way.\n")
                              : QStringLiteral("%1 things in the way.\n").arg(problems);
    return {text, problems};
}
