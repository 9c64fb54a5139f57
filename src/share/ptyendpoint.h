#pragma once

#include "linesplitter.h"

#include <QByteArray>
#include <QString>

#include <memory>

class QSocketNotifier;
class Share;

// The share's pseudo-terminal (Linux): the panel holds the master and keeps the slave open
// itself, so that the master never sees a hang-up between clients and the raw line settings
// stay. Who opens the slave is learnt from inotify's open and close events on it: the first
// opener is a client, with its own number, until the last closes it. Board bytes go to the
// master without blocking; what the slave does not take waits, up to the share's bound, then
// the client is dropped (what waits for it is thrown away) until it closes and opens again.
class PtyEndpoint
{
public:
    explicit PtyEndpoint(Share &share);
    ~PtyEndpoint();

    bool open(const QString &path, QString *error);
    QString path() const { return m_path; }
    bool isConnected() const { return m_number > 0 && !m_dropped; }

    void send(const QByteArray &bytes);

private:
    void readMaster();
    void writeMaster();
    void watchOpeners();
    void connectClient();
    void disconnectClient();
    bool fail(QString *error, const QString &what);

    Share &m_share;
    QString m_path;
    QByteArray m_slavePath;
    int m_master = -1;
    int m_slave = -1;
    int m_watch = -1; // inotify
    int m_openers = 0;
    int m_number = 0; // the client's while one has the slave open; 0: none
    bool m_dropped = false;
    LineSplitter m_splitter;
    QByteArray m_out; // waiting for the slave to take it, from m_outFrom on
    qsizetype m_outFrom = 0;
    std::unique_ptr<QSocketNotifier> m_readable, m_writable, m_opened;
};
