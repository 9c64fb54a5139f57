#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QTcpServer;
class ShareClient;
class PtyEndpoint;

// The board shared with programs beside the panel: every byte the board sends goes to every
// client as it came, from the moment the client connects; what a client sends comes out as
// lines (LineSplitter) for the panel to send as commands. Clients are TCP connections to the
// loopback addresses only and, on Linux, whoever opens a pseudo-terminal's slave.
//
// No client can hold the panel up: at most Limits::clients at once (one more is closed as soon
// as it connects; the pseudo-terminal, when there is one, takes one of the places for good),
// and one that leaves more than Limits::outputBytes unsent is dropped. Nothing is ever waited
// for; the pseudo-terminal is written without blocking.
class Share : public QObject
{
    Q_OBJECT
public:
    struct Limits {
        int clients = 8;
        qsizetype outputBytes = 1024 * 1024;
    };

    explicit Share(const Limits &limits, QObject *parent = nullptr);
    explicit Share(QObject *parent = nullptr) : Share(Limits{}, parent) {}
    ~Share() override;

    // Listens on 127.0.0.1 and, where the system has it, on ::1, at `port` (0: a free one).
    bool listen(quint16 port, QString *error);
    quint16 port() const;
#ifdef Q_OS_LINUX
    // A pseudo-terminal whose slave only the user may open, linked at `path`. An existing
    // `path` is replaced only when it is a symbolic link to nothing (a panel's stale link);
    // the link is removed when the share ends, if it still points at the slave.
    bool openPty(const QString &path, QString *error);
    QString ptyPath() const;
#endif
    // "127.0.0.1:5000", "127.0.0.1:5000 and ::1", "/home/me/board", joined by ", ".
    QString where() const;
    int clientCount() const;
    const Limits &limits() const { return m_limits; }

public slots:
    // The board's bytes, as read from the port.
    void boardBytes(const QByteArray &bytes);

signals:
    // A line client `client` sent, without its line end; `cut` when it was longer than
    // LineSplitter::MaxLine and `line` is its beginning.
    void lineReceived(int client, const QByteArray &line, bool cut);
    void clientsChanged(int count);
    // The client is dropped by the panel (it read too little): `why` says so.
    void clientDropped(int client, const QString &why);

private:
    friend class ShareClient;
    friend class PtyEndpoint;
    void acceptConnections(QTcpServer *server);
    void forget(ShareClient *client);
    int takeNumber() { return ++m_lastNumber; }
    void drop(int number);

    Limits m_limits;
    QTcpServer *m_ipv4 = nullptr;
    QTcpServer *m_ipv6 = nullptr;
    QList<ShareClient *> m_clients;
#ifdef Q_OS_LINUX
    std::unique_ptr<PtyEndpoint> m_pty;
#endif
    int m_lastNumber = 0;
};
