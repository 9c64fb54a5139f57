#include "ptyendpoint.h"

#include "share.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <utility>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

PtyEndpoint::PtyEndpoint(Share &share) : m_share(share) {}

PtyEndpoint::~PtyEndpoint()
{
    m_readable.reset();
    m_writable.reset();
    m_opened.reset();
    // Only our own link goes: someone may have pointed the name elsewhere meanwhile.
    if (!m_path.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_path);
        char target[4096];
        const ssize_t n = ::readlink(link.constData(), target, sizeof target);
        if (n > 0 && QByteArrayView(target, n) == m_slavePath)
            ::unlink(link.constData());
    }
    for (const int fd : {m_watch, m_slave, m_master})
        if (fd >= 0)
            ::close(fd);
}

bool PtyEndpoint::fail(QString *error, const QString &what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(what, systemError());
    return false;
}

bool PtyEndpoint::open(const QString &path, QString *error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 || !::ptsname(m_master))
        return fail(error, QStringLiteral("cannot make a pseudo-terminal"));
    m_slavePath = ::ptsname(m_master);
    m_slave = ::open(m_slavePath.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios tio{};
    if (m_slave < 0 || ::fchmod(m_slave, 0600) != 0 || ::tcgetattr(m_slave, &tio) != 0)
        return fail(error, QStringLiteral("cannot set up %1").arg(QString::fromLocal8Bit(m_slavePath)));
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);

    // Watched from here on: our own opening above is not a client's.
    m_watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watch < 0 || ::inotify_add_watch(m_watch, m_slavePath.constData(), IN_OPEN | IN_CLOSE) < 0)
        return fail(error, QStringLiteral("cannot watch %1").arg(QString::fromLocal8Bit(m_slavePath)));

    const QByteArray link = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(link.constData(), &st) == 0) {
        struct stat target {};
        if (!S_ISLNK(st.st_mode) || ::stat(link.constData(), &target) == 0) {
            if (error)
                *error = QStringLiteral("%1 exists; only a link to nothing (a stale one) is replaced").arg(path);
            return false;
        }
    }
    const QByteArray temporary = link + ".tmp" + QByteArray::number(::getpid());
    ::unlink(temporary.constData());
    if (::symlink(m_slavePath.constData(), temporary.constData()) != 0
        || ::rename(temporary.constData(), link.constData()) != 0) {
        fail(error, QStringLiteral("cannot link %1").arg(path));
        ::unlink(temporary.constData());
        return false;
    }
    m_path = path;

    m_readable = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    QObject::connect(m_readable.get(), &QSocketNotifier::activated, [this] { readMaster(); });
    m_writable = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Write);
    m_writable->setEnabled(false);
    QObject::connect(m_writable.get(), &QSocketNotifier::activated, [this] { writeMaster(); });
    m_opened = std::make_unique<QSocketNotifier>(m_watch, QSocketNotifier::Read);
    QObject::connect(m_opened.get(), &QSocketNotifier::activated, [this] { watchOpeners(); });
    return true;
}

void PtyEndpoint::watchOpeners()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_watch, buffer, sizeof buffer);
        if (n <= 0)
            break;
        // Event by event: a close and the next opening may come in one read.
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if ((event->mask & IN_OPEN) && m_openers++ == 0)
                connectClient();
            if ((event->mask & IN_CLOSE) && m_openers > 0 && --m_openers == 0)
                disconnectClient();
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
}

void PtyEndpoint::connectClient()
{
    // What was written while no one had the slave open is not for this client.
    ::tcflush(m_slave, TCIFLUSH);
    m_out.clear();
    m_outFrom = 0;
    m_splitter = {};
    m_dropped = false;
    m_number = m_share.takeNumber();
    emit m_share.clientsChanged(m_share.clientCount());
}

void PtyEndpoint::disconnectClient()
{
    readMaster(); // what it wrote before it closed is its own still
    m_number = 0;
    m_out.clear();
    m_outFrom = 0;
    m_writable->setEnabled(false);
    ::tcflush(m_slave, TCIFLUSH);
    emit m_share.clientsChanged(m_share.clientCount());
}

void PtyEndpoint::readMaster()
{
    // A client may write at once after it opened the slave, before its opening was seen.
    if (m_number == 0)
        watchOpeners();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return; // EAGAIN: all read
        if (m_number == 0 || m_dropped)
            continue;
        m_splitter.feed(QByteArrayView(buffer, n), [this](QByteArrayView line, bool cut) {
            emit m_share.lineReceived(m_number, line.toByteArray(), cut);
        });
    }
}

void PtyEndpoint::send(const QByteArray &bytes)
{
    if (m_number == 0 || m_dropped)
        return;
    if (m_out.size() - m_outFrom + bytes.size() > m_share.limits().outputBytes) {
        m_dropped = true;
        m_out.clear();
        m_outFrom = 0;
        m_writable->setEnabled(false);
        ::tcflush(m_slave, TCIFLUSH);
        m_share.drop(m_number);
        emit m_share.clientsChanged(m_share.clientCount());
        return;
    }
    if (!m_out.isEmpty()) {
        m_out.append(bytes);
        return;
    }
    const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
    const qsizetype written = n > 0 ? n : 0;
    if (written < bytes.size()) {
        m_out = bytes.sliced(written);
        m_writable->setEnabled(true);
    }
}

void PtyEndpoint::writeMaster()
{
    const ssize_t n = ::write(m_master, m_out.constData() + m_outFrom, size_t(m_out.size() - m_outFrom));
    if (n > 0)
        m_outFrom += n;
    if (m_outFrom == m_out.size()) {
        m_out.clear();
        m_outFrom = 0;
        m_writable->setEnabled(false);
    } else if (m_outFrom > m_out.size() / 2) {
        m_out.remove(0, std::exchange(m_outFrom, 0)); // moved seldom, not on every write
    }
}
