#include "ptypeer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer(const QString &linkPath) : m_link(linkPath)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return;
    const char *slaveName = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
    const int slave = slaveName ? ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0) {
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return;
    }
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);

    QDir().mkpath(QFileInfo(linkPath).absolutePath());
    QFile::remove(linkPath);
    if (!QFile::link(QString::fromLocal8Bit(slaveName), linkPath)) {
        ::close(slave);
        ::close(master);
        return;
    }
    m_master = master;
    m_slave = slave;
    m_notifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PtyPeer::readCommands);
}

PtyPeer::~PtyPeer()
{
    if (m_master < 0)
        return;
    delete m_notifier;
    QFile::remove(m_link);
    ::close(m_slave);
    ::close(m_master);
}

bool PtyPeer::writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n > 0) {
            data += n;
            size -= n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            if (::poll(&pfd, 1, 5000) <= 0)
                return false;
        } else {
            return false;
        }
    }
    return true;
}

void PtyPeer::readCommands()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break; // EAGAIN: drained; EIO: the panel has closed its end for now
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == '\n')
                continue;
            if (buf[i] != '\r') {
                m_pending += buf[i];
                continue;
            }
            if (!m_pending.isEmpty())
                answer(m_pending);
            m_pending.clear();
        }
    }
}

void PtyPeer::answer(const QByteArray &command)
{
    ++m_received[command];
    if (!m_answering)
        return;
    QByteArray reply;
    if (command == "I?")
        reply = BoardName;
    else if (command == "SV01?")
        reply = "SV01=3";
    else if (command == "SV11?" || command == "SV21?")
        reply = command.left(4) + "=0";
    else if (command == "PV01?" || command == "PV02?")
        reply = command.left(4) + "=0.0";
    else if (command.size() > 5 && command.startsWith("SV") && command[4] == '=')
        reply = command; // a setpoint is echoed as set
    if (!reply.isEmpty()) {
        reply += '\r';
        writeAll(m_master, reply.constData(), reply.size());
    }
}
