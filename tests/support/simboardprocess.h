#pragma once

#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// The board's firmware on the emulated chip (simboard) in a child process, linked at a
// path of the test's choosing. Collects the pin readings it prints once per window of
// simulated time.
class SimBoardProcess
{
public:
    struct Pin {
        double hz = 0;
        double duty = 0; // percent
    };
    struct Reading {
        double ms = 0; // end of the window, simulated
        Pin pin[2];    // PB3 (output 1), PD3 (output 2)
    };

    explicit SimBoardProcess(const QString &link)
    {
        m_process.setProgram(qEnvironmentVariable("PWM_SIMBOARD"));
        m_process.setArguments({u"--elf"_qs, qEnvironmentVariable("PWM_FIRMWARE"), u"--link"_qs,
                                link});
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        m_started = m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000)
                    && m_process.readLine().startsWith("simboard: ");
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { take(); });
    }
    ~SimBoardProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
        }
    }
    SimBoardProcess(const SimBoardProcess &) = delete;
    SimBoardProcess &operator=(const SimBoardProcess &) = delete;

    bool started() const { return m_started; }
    bool running() const { return m_process.state() == QProcess::Running; }
    const QList<Reading> &readings() const { return m_readings; }

private:
    // Lines of the form "pins <ms> PB3 <Hz> <duty> PD3 <Hz> <duty>".
    void take()
    {
        while (m_process.canReadLine()) {
            const QList<QByteArray> f = m_process.readLine().trimmed().split(' ');
            if (f.size() != 8 || f[0] != "pins" || f[2] != "PB3" || f[5] != "PD3")
                continue;
            m_readings.append({f[1].toDouble(), {{f[3].toDouble(), f[4].toDouble()},
                                                 {f[6].toDouble(), f[7].toDouble()}}});
        }
    }

    QProcess m_process;
    QList<Reading> m_readings;
    bool m_started = false;
};
