#include "benchpanel.h"

#include "measure.h"

#include <QFile>
#include <QLabel>

BenchPanel::BenchPanel(int sampleTime, const SessionHistory::Limits &history)
{
    QFile ini(dir.filePath(QStringLiteral("pwmpanel.ini")));
    if (ini.open(QIODevice::WriteOnly))
        ini.write(QStringLiteral("1,\"9600\",\"-\",%1,\"%2\"\r\n\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n")
                      .arg(sampleTime)
                      .arg(QLatin1String(PtyPeer::BoardName))
                      .toLatin1());
    ini.close();
    peer = std::make_unique<PtyPeer>(dir.filePath(QStringLiteral("ports/com1")));
    panel = std::make_unique<Panel>(ExecutableIdentity{dir.path(), QStringLiteral("pwmpanel")}, prompts, history);
    panel->session.start();
    panel->window.show();
}

bool BenchPanel::waitConnected(std::chrono::milliseconds timeout)
{
    if (!peer->isOpen())
        return false;
    const bool done = waitUntil(
        [this] {
            return peer->received("SV21?") > 0
                   && ui().lblStatus->text().endsWith(QStringLiteral("COM data: SV21=0"));
        },
        timeout);
    // The read-back query is followed by its pacing wait; let it and the read-back end.
    runEvents(std::chrono::milliseconds(150));
    return done;
}
