#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTest>

// The virtual board in a child process, linked at a path of the test's choosing, with a
// log of every command it received.
class BoardProcess
{
public:
    struct Received {
        double ms; // monotonic milliseconds
        QString command;
    };

    BoardProcess(const QString &link, const QString &logPath, const QStringList &extra = {})
        : m_log(logPath)
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

    QList<Received> received() const
    {
        QList<Received> out;
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        for (const QByteArray &line : f.readAll().split('\n')) {
            const qsizetype space = line.indexOf(' ');
            if (space > 0)
                out.append({line.left(space).toDouble(), QString::fromLatin1(line.mid(space + 1))});
        }
        return out;
    }
    QStringList commands() const
    {
        QStringList out;
        for (const Received &r : received())
            out << r.command;
        return out;
    }
    // Times of each occurrence of `command`, in order.
    QList<double> timesOf(const QString &command) const
    {
        QList<double> out;
        for (const Received &r : received())
            if (r.command == command)
                out << r.ms;
        return out;
    }

private:
    QProcess m_process;
    QString m_log;
    bool m_started = false;
};
