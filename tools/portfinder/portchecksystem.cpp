#include "portchecksystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#ifdef Q_OS_LINUX
namespace
{

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(4096) : QByteArray();
}

QList<qint64> processIds()
{
    QList<qint64> out;
    const QStringList names = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &name : names) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok && pid > 0)
            out << pid;
    }
    return out;
}

std::optional<QString> nameOf(qint64 pid)
{
    const QByteArray comm = readSmallFile(QStringLiteral("/proc/%1/comm").arg(pid));
    if (comm.isEmpty())
        return std::nullopt;
    return QString::fromLocal8Bit(comm.trimmed());
}

QString executableOf(qint64 pid)
{
    const QByteArray link = QStringLiteral("/proc/%1/exe").arg(pid).toLocal8Bit();
    char buf[4096];
    const ssize_t n = ::readlink(link.constData(), buf, sizeof buf);
    if (n <= 0)
        return {};
    QByteArray target(buf, n);
    if (target.endsWith(" (deleted)")) // the file was replaced since the process started
        target.chop(10);
    return QFileInfo(QFile::decodeName(target)).fileName();
}

// The devpts instance a pseudo-terminal master descriptor allocates from: the "pts" beside
// the ptmx node it was opened by (/dev/ptmx and /dev/pts), or the folder holding it
// (/dev/pts/ptmx), as the process sees its file system. 0 where that cannot be read.
quint64 ptyInstance(qint64 pid, const char *fd)
{
    const QByteArray link =
        QStringLiteral("/proc/%1/fd/%2").arg(pid).arg(QLatin1String(fd)).toLocal8Bit();
    char buf[4096];
    const ssize_t n = ::readlink(link.constData(), buf, sizeof buf);
    if (n <= 0 || buf[0] != '/')
        return 0;
    const QString folder = QFileInfo(QFile::decodeName(QByteArray(buf, n))).path();
    const QString root = QStringLiteral("/proc/%1/root").arg(pid);
    struct stat st {
    };
    if (::stat(QFile::encodeName(root + folder + QLatin1String("/pts")).constData(), &st) == 0 &&
        S_ISDIR(st.st_mode))
        return quint64(st.st_dev);
    if (QFileInfo(folder).fileName() == QLatin1String("pts") &&
        ::stat(QFile::encodeName(root + folder).constData(), &st) == 0)
        return quint64(st.st_dev);
    return 0;
}

// The pty index a pseudo-terminal master descriptor serves, from its fdinfo.
std::optional<int> ptyIndex(qint64 pid, const char *fd)
{
    const QByteArray info =
        readSmallFile(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid).arg(QLatin1String(fd)));
    for (const QByteArray &line : info.split('\n')) {
        if (line.startsWith("tty-index:")) {
            bool ok = false;
            const int n = line.mid(10).trimmed().toInt(&ok);
            if (ok)
                return n;
        }
    }
    return std::nullopt;
}

PortCheckSystem::DeviceId idOf(const struct stat &st)
{
    return {quint64(st.st_dev), major(st.st_rdev), minor(st.st_rdev)};
}

PortCheckSystem::OpenDevices openDevices()
{
    PortCheckSystem::OpenDevices out;
    const qint64 self = ::getpid();
    for (const qint64 pid : processIds()) {
        if (pid == self)
            continue;
        const QByteArray fdDir = QStringLiteral("/proc/%1/fd").arg(pid).toLocal8Bit();
        DIR *dir = ::opendir(fdDir.constData());
        if (!dir) {
            // Another user's process (or one that has just ended). Kernel threads and
            // zombies, with no command line, hold nothing.
            if ((errno == EACCES || errno == EPERM) &&
                !readSmallFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).isEmpty())
                ++out.unseen;
            continue;
        }
        while (const dirent *d = ::readdir(dir)) {
            if (d->d_name[0] == '.')
                continue;
            // stat() follows the descriptor to the node it was opened by.
            struct stat st {
            };
            const QByteArray path = fdDir + '/' + d->d_name;
            if (::stat(path.constData(), &st) != 0 || !S_ISCHR(st.st_mode))
                continue;
            PortCheckSystem::OpenDevice open{pid, idOf(st), {}, 0};
            if (open.id.major == 5 && open.id.minor == 2) { // /dev/ptmx
                open.ptyServed = ptyIndex(pid, d->d_name);
                open.ptyServedFileSystem = ptyInstance(pid, d->d_name);
            }
            out.devices << open;
        }
        ::closedir(dir);
    }
    return out;
}

// The forms serial programs write: the PID alone in ten columns (the UUCP tools), the PID
// followed by the program and the user on the same line (minicom: "      4242 minicom
// alice"), or the PID, the program and the host on three lines (Qt); and the old binary
// form, four bytes.
void readLock(const QByteArray &data, PortCheckSystem::LockFile &lock)
{
    const QList<QByteArray> lines = data.split('\n');
    const QList<QByteArray> first = lines.value(0).simplified().split(' ');
    bool ok = false;
    const qint64 pid = first.value(0).toLongLong(&ok);
    if (ok && pid > 0) {
        lock.pid = pid;
        lock.program = QString::fromUtf8(first.size() > 1 ? first.at(1) : lines.value(1).trimmed());
    } else if (data.size() == 4) {
        lock.pid = *reinterpret_cast<const qint32 *>(data.constData());
    }
}

// The folders Qt SerialPort, minicom, screen and the UUCP tools put LCK..name files in.
QList<PortCheckSystem::LockFile> locksOf(const QString &device)
{
    QString name = device;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    const QStringList names = {QStringLiteral("LCK..") + QString(name).replace(u'/', u'_'),
                               QStringLiteral("LCK..") + QFileInfo(device).fileName()};
    static const char *const Folders[] = {"/var/lock",  "/run/lock",        "/var/lock/lockdev",
                                          "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                          "/tmp",       "/var/tmp"};
    QSet<QString> seen;
    QList<PortCheckSystem::LockFile> out;
    for (const char *folder : Folders) {
        for (const QString &n : names) {
            const QFileInfo info(QLatin1String(folder) + u'/' + n);
            if (!info.exists() || seen.contains(info.canonicalFilePath()))
                continue;
            seen.insert(info.canonicalFilePath());
            PortCheckSystem::LockFile lock{info.filePath(), 0, info.ownerId(), {}};
            readLock(readSmallFile(info.filePath()), lock);
            out << lock;
        }
    }
    return out;
}

// brltty's rules files that udev applies: a file of the same name in /etc or /run that is
// empty or a link to /dev/null masks the packaged one.
QStringList brlttyRulesInForce()
{
    static const char *const Folders[] = {"/etc/udev/rules.d", "/run/udev/rules.d",
                                          "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
    QHash<QString, QString> first;
    QStringList order;
    for (const char *folder : Folders) {
        const QDir dir{QLatin1String(folder)};
        for (const QString &name :
             dir.entryList({QStringLiteral("*brltty*.rules")}, QDir::Files | QDir::System)) {
            if (first.contains(name))
                continue;
            first.insert(name, dir.filePath(name));
            order << name;
        }
    }
    QStringList out;
    for (const QString &name : std::as_const(order)) {
        const QFileInfo info(first.value(name));
        if (info.size() > 0 && info.canonicalFilePath() != QLatin1String("/dev/null"))
            out << info.filePath();
    }
    return out;
}

// USB devices with a serial port under them, and the common adapter chips without one
// (taken by another driver, or their driver missing).
QList<PortCheckSystem::UsbAdapter> usbAdapters()
{
    static const QSet<QString> KnownChips = {
        QStringLiteral("1a86:7523"), QStringLiteral("1a86:5523"), // CH340, CH341
        QStringLiteral("10c4:ea60"),                              // CP210x
        QStringLiteral("0403:6001"), QStringLiteral("0403:6015"), // FTDI
        QStringLiteral("067b:2303"),                              // PL2303
    };
    QList<PortCheckSystem::UsbAdapter> out;
    const QDir bus(QStringLiteral("/sys/bus/usb/devices"));
    for (const QString &name : bus.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString vendor = QString::fromLatin1(
            readSmallFile(bus.filePath(name + QLatin1String("/idVendor"))).trimmed());
        const QString product = QString::fromLatin1(
            readSmallFile(bus.filePath(name + QLatin1String("/idProduct"))).trimmed());
        if (vendor.isEmpty() || product.isEmpty())
            continue; // an interface, not a device
        QString tty;
        const QDir device(bus.filePath(name));
        for (const QString &iface : device.entryList({name + QLatin1String(":*")}, QDir::Dirs)) {
            const QDir i(device.filePath(iface));
            const QStringList usb = i.entryList({QStringLiteral("ttyUSB*")}, QDir::Dirs);
            const QStringList acm = QDir(i.filePath(QStringLiteral("tty")))
                                        .entryList({QStringLiteral("tty*")}, QDir::Dirs);
            if (!usb.isEmpty())
                tty = usb.first();
            else if (!acm.isEmpty())
                tty = acm.first();
        }
        if (tty.isEmpty() && !KnownChips.contains(vendor + u':' + product))
            continue;
        out.append(
            {name, quint16(vendor.toUInt(nullptr, 16)), quint16(product.toUInt(nullptr, 16)), tty});
    }
    return out;
}

// Under sudo, the user who ran it: the panel runs as them. Their session's groups are not
// known here; the database's stand for them.
PortCheckSystem::Identity currentIdentity()
{
    PortCheckSystem::Identity me;
    me.uid = ::geteuid();
    bool ok = false;
    const uint sudoUid = qEnvironmentVariable("SUDO_UID").toUInt(&ok);
    if (me.uid == 0 && ok && sudoUid != 0) {
        me.uid = sudoUid;
        me.throughSudo = true;
    } else {
        const int count = ::getgroups(0, nullptr);
        std::vector<gid_t> groups(count > 0 ? count : 0);
        if (count > 0 && ::getgroups(count, groups.data()) == count)
            for (gid_t g : groups)
                me.processGroups << g;
        if (!me.processGroups.contains(::getegid()))
            me.processGroups << ::getegid();
    }
    if (const passwd *pw = ::getpwuid(me.uid)) {
        me.user = QString::fromLocal8Bit(pw->pw_name);
        int n = 64;
        std::vector<gid_t> db(n);
        if (::getgrouplist(pw->pw_name, pw->pw_gid, db.data(), &n) < 0) {
            db.resize(n);
            ::getgrouplist(pw->pw_name, pw->pw_gid, db.data(), &n);
        }
        for (int i = 0; i < n && i < int(db.size()); ++i)
            me.databaseGroups << db[i];
    }
    if (me.throughSudo)
        me.processGroups = me.databaseGroups;
    return me;
}

} // namespace

PortCheckSystem currentPortCheckSystem()
{
    // The process list is read once: names for "running" come from one look.
    QSet<QString> running;
    for (const qint64 pid : processIds())
        if (const std::optional<QString> n = nameOf(pid))
            running.insert(*n);

    PortCheckSystem s;
    s.identity = currentIdentity();
    s.root = ::geteuid() == 0;
    s.node = [me = s.identity](const QString &device) -> std::optional<PortCheckSystem::Node> {
        const QByteArray path = QFile::encodeName(device);
        struct stat st {
        };
        if (::stat(path.constData(), &st) != 0)
            return std::nullopt;
        PortCheckSystem::Node node{st.st_uid,           st.st_gid, uint(st.st_mode & 0777),
                                   S_ISCHR(st.st_mode), false,     idOf(st)};
        if (me.throughSudo) { // the mode bits, as the kernel would judge the user
            const int shift = node.owner == me.uid                    ? 6
                              : me.processGroups.contains(node.group) ? 3
                                                                      : 0;
            node.accessible = (node.mode >> shift & 06) == 06;
        } else {
            node.accessible = ::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) == 0;
        }
        return node;
    };
    s.groupName = [](uint gid) {
        const group *g = ::getgrgid(gid);
        return g ? QString::fromLocal8Bit(g->gr_name) : QString();
    };
    s.userName = [](uint uid) {
        const passwd *pw = ::getpwuid(uid);
        return pw ? QString::fromLocal8Bit(pw->pw_name) : QString();
    };
    s.openDevices = openDevices;
    s.locks = locksOf;
    s.processName = nameOf;
    s.executableName = executableOf;
    s.running = [running](const QString &name) { return running.contains(name); };
    s.brlttyRules = brlttyRulesInForce();
    s.usbAdapters = usbAdapters();
    return s;
}

#else

PortCheckSystem currentPortCheckSystem()
{
    PortCheckSystem s;
    s.node = [](const QString &) { return std::optional<PortCheckSystem::Node>(); };
    s.groupName = [](uint) { return QString(); };
    s.userName = [](uint) { return QString(); };
    s.openDevices = [] { return PortCheckSystem::OpenDevices(); };
    s.locks = [](const QString &) { return QList<PortCheckSystem::LockFile>(); };
    s.processName = [](qint64) { return std::optional<QString>(); };
    s.executableName = [](qint64) { return QString(); };
    s.running = [](const QString &) { return false; };
    return s;
}

#endif
