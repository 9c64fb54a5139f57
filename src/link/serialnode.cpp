#include "serialnode.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace SerialNode {

bool hasChip(qintptr handle)
{
#ifdef Q_OS_LINUX
    const int fd = int(handle);
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN)
        return true;
    // USB drivers leave the type at 0 as well, but their modem lines answer.
    int lines = 0;
    return ::ioctl(fd, TIOCMGET, &lines) == 0 || errno != EIO;
#else
    Q_UNUSED(handle);
    return true;
#endif
}

std::optional<bool> probe(const QString &devicePath, int *error)
{
#ifdef Q_OS_LINUX
    const QByteArray path = QFile::encodeName(devicePath);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    const bool fitted = hasChip(fd);
    ::close(fd);
    return fitted;
#else
    Q_UNUSED(devicePath);
    Q_UNUSED(error);
    return true;
#endif
}

} // namespace SerialNode
