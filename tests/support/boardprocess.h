#pragma once

#include "boardlog.h"

#include <QProcess>
#include <QStringList>
#include <QTest>

// The virtual board in a child process, linked at a path of the test's choosing, with a
// log of every command it received.
class BoardProcess
{
public:
    using Received = BoardLog::Received;

    BoardProcess(const QString &link, const QString &logPath, const QStringList &extra = {})
        : m_log{logPath}
    {
        const QString program = qEnvironmentVariable("PWM_VIRTUAL_BOARD");
        m_process.setProgram(program);
        m_process.setArguments(QStringList{u"--link"_qs, link, u"--log"_qs, logPath} + extra);
        m_process.start();
        m_started = m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000)
                    && m_process.readAllStandardOutput().startsWith("virtualboard: ");
    }
    ~BoardProcess() { stop(); }

    bool started() const { return m_started; }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(3000);
        }
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }

    QList<Received> received() const { return m_log.received(); }
    QStringList commands() const { return m_log.commands(); }
    QList<double> timesOf(const QString &command) const { return m_log.timesOf(command); }

private:
    QProcess m_process;
    BoardLog m_log;
    bool m_started = false;
};
