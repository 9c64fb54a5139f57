#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QSocketNotifier;

// The board's end of a pseudo-terminal. The slave is linked at `linkPath`, where the panel
// looks for its port; the master is read here on the GUI thread and commands are answered
// as the board answers them ("I?" with its name, read-back and process-value queries with
// fixed values), unless answering is off. A flooding thread may write to masterFd() directly.
class PtyPeer : public QObject
{
    Q_OBJECT
public:
    static constexpr char BoardName[] = "ORVIX7";

    explicit PtyPeer(const QString &linkPath);
    ~PtyPeer() override;

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }

    // Off while another writer owns the line, so that no answer lands inside its lines.
    void setAnswering(bool on) { m_answering = on; }
    // How often `command` (without CR) has been received.
    int received(const QByteArray &command) const { return m_received.value(command); }

    // Writes all of `bytes` to the non-blocking master, waiting while the panel drains it.
    // False when nothing could be written for 5 s or the write failed. Any thread.
    static bool writeAll(int fd, const char *data, qsizetype size);

private:
    void readCommands();
    void answer(const QByteArray &command);

    QString m_link;
    int m_master = -1;
    int m_slave = -1; // held open so that the line stays raw and never hangs up
    QSocketNotifier *m_notifier = nullptr;
    QByteArray m_pending;
    QHash<QByteArray, int> m_received;
    bool m_answering = true;
};
