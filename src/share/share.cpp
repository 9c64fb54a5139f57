#include "share.h"

#include "linesplitter.h"
#ifdef Q_OS_LINUX
#include "ptyendpoint.h"
#endif

#include <QHostAddress>
#include <QLocale>
#include <QTcpServer>
#include <QTcpSocket>

// One connection: its lines in, the board's bytes out, as long as it reads them.
class ShareClient : public QObject
{
public:
    ShareClient(Share &share, QTcpSocket *socket, int number)
        : m_share(share), m_socket(socket), m_number(number)
    {
        m_socket->setParent(this);
        // What arrives is read (and mostly dropped) as it comes, never piled up; what the
        // system holds for a client that does not read is bounded too, not grown to megabytes.
        m_socket->setReadBufferSize(64 * 1024);
        m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
        connect(m_socket, &QTcpSocket::readyRead, this, &ShareClient::read);
        connect(m_socket, &QTcpSocket::disconnected, this, [this] { m_share.forget(this); });
        connect(m_socket, &QTcpSocket::errorOccurred, this, [this] { m_share.forget(this); });
    }

    int number() const { return m_number; }

    // False when the client has left too much unread: it is to be dropped.
    bool send(const QByteArray &bytes)
    {
        if (m_socket->bytesToWrite() + bytes.size() > m_share.m_limits.outputBytes)
            return false;
        m_socket->write(bytes);
        m_socket->flush(); // to the system now, rather than on the next turn of the event loop
        return true;
    }

    void close() { m_socket->abort(); }

private:
    void read()
    {
        while (m_socket->bytesAvailable() > 0) {
            const QByteArray bytes = m_socket->read(64 * 1024);
            if (bytes.isEmpty())
                break;
            m_splitter.feed(bytes, [this](QByteArrayView line, bool cut) {
                emit m_share.lineReceived(m_number, line.toByteArray(), cut);
            });
        }
    }

    Share &m_share;
    QTcpSocket *m_socket;
    int m_number;
    LineSplitter m_splitter;
};

Share::Share(const Limits &limits, QObject *parent) : QObject(parent), m_limits(limits) {}

Share::~Share()
{
    // Quietly: nothing is told of clients going with the panel.
    const QList<ShareClient *> clients = std::exchange(m_clients, {});
    for (ShareClient *c : clients)
        delete c;
}

bool Share::listen(quint16 port, QString *error)
{
    m_ipv4 = new QTcpServer(this);
    if (!m_ipv4->listen(QHostAddress::LocalHost, port)) {
        if (error)
            *error = tr("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(m_ipv4->errorString());
        delete std::exchange(m_ipv4, nullptr);
        return false;
    }
    connect(m_ipv4, &QTcpServer::newConnection, this, [this] { acceptConnections(m_ipv4); });
    // ::1 as well, on the same port, where the system has it; without it IPv4 serves alone.
    m_ipv6 = new QTcpServer(this);
    if (m_ipv6->listen(QHostAddress::LocalHostIPv6, m_ipv4->serverPort()))
        connect(m_ipv6, &QTcpServer::newConnection, this, [this] { acceptConnections(m_ipv6); });
    else
        delete std::exchange(m_ipv6, nullptr);
    return true;
}

quint16 Share::port() const
{
    return m_ipv4 ? m_ipv4->serverPort() : 0;
}

#ifdef Q_OS_LINUX
bool Share::openPty(const QString &path, QString *error)
{
    auto pty = std::make_unique<PtyEndpoint>(*this);
    if (!pty->open(path, error))
        return false;
    m_pty = std::move(pty);
    return true;
}

QString Share::ptyPath() const
{
    return m_pty ? m_pty->path() : QString();
}
#endif

QString Share::where() const
{
    QStringList places;
    if (m_ipv4)
        places << QStringLiteral("127.0.0.1:%1").arg(port()) + (m_ipv6 ? QStringLiteral(" and [::1]") : QString());
#ifdef Q_OS_LINUX
    if (m_pty)
        places << m_pty->path();
#endif
    return places.join(QStringLiteral(", "));
}

int Share::clientCount() const
{
    int count = int(m_clients.size());
#ifdef Q_OS_LINUX
    if (m_pty && m_pty->isConnected())
        ++count;
#endif
    return count;
}

void Share::acceptConnections(QTcpServer *server)
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        int places = m_limits.clients;
#ifdef Q_OS_LINUX
        if (m_pty)
            --places; // the pseudo-terminal's, kept for it
#endif
        if (m_clients.size() >= places) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_clients.append(new ShareClient(*this, socket, takeNumber()));
        emit clientsChanged(clientCount());
    }
}

void Share::forget(ShareClient *client)
{
    if (!m_clients.removeOne(client))
        return;
    client->deleteLater();
    emit clientsChanged(clientCount());
}

void Share::boardBytes(const QByteArray &bytes)
{
    // A copy of the list: a client dropped on the way leaves it.
    const QList<ShareClient *> clients = m_clients;
    for (ShareClient *c : clients) {
        if (c->send(bytes))
            continue;
        const int number = c->number();
        forget(c);
        c->close();
        drop(number);
    }
#ifdef Q_OS_LINUX
    if (m_pty)
        m_pty->send(bytes);
#endif
}

void Share::drop(int number)
{
    emit clientDropped(number, tr("dropped: it left more than %1 unread")
                                   .arg(QLocale::c().formattedDataSize(m_limits.outputBytes, 0)));
}
