#pragma once

#include "portlisting.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What `pwmports --check` looks at besides the port listing: the device node, who the
// user is, which processes hold the node or lock it, and the services that get between a
// desktop and a USB board. Plain values and look-ups, so that a test can describe any
// machine; portchecksystem.h fills it from the running Linux system.
struct PortCheckSystem {
    // A device as stat() tells it: its numbers (st_rdev) and the file system of the node it
    // was reached by (st_dev). Every devpts instance (a container's, a chroot's) numbers its
    // pseudo-terminals from 0, so only the two together name one of those.
    struct DeviceId {
        quint64 fileSystem = 0;
        uint major = 0;
        uint minor = 0;
    };
    struct Node {
        uint owner = 0;
        uint group = 0;
        uint mode = 0; // the nine permission bits
        bool charDevice = true;
        bool accessible = false; // this process may open it for reading and writing
        DeviceId id;
    };
    // The user the check is for: the one who runs the panel, so under sudo the one who ran
    // sudo (SUDO_UID), not root.
    struct Identity {
        uint uid = 0;
        QString user;
        QList<uint> processGroups;  // what the running process has (primary included)
        QList<uint> databaseGroups; // what the group database gives the user today
        bool throughSudo = false;   // this process runs as root for that user
    };
    struct LockFile {
        QString path;
        qint64 pid = 0; // 0: no process id could be read from it
        uint owner = 0;
        QString program; // the locking program's name, its second line; empty: none there
    };
    struct UsbAdapter {
        QString usbPath; // the USB device's name under /sys/bus/usb/devices, e.g. 1-2
        quint16 vendorId = 0;
        quint16 productId = 0;
        QString tty; // the port node's name (ttyUSB0), empty when it has none
    };

    std::function<std::optional<Node>(const QString &device)> node; // empty: no such node
    Identity identity;
    std::function<QString(uint gid)> groupName;
    std::function<QString(uint uid)> userName;
    struct OpenDevice {
        qint64 pid = 0;
        DeviceId id;
        std::optional<int> ptyServed; // a pseudo-terminal master: the terminal's number
        quint64 ptyServedFileSystem = 0; // and its devpts instance (0: unknown)
    };
    struct OpenDevices {
        // The character devices other processes than this one hold open.
        QList<OpenDevice> devices;
        // Processes whose open files could not be looked at (other users', unless root;
        // even root's look can be refused): any of them may hold the device too.
        int unseen = 0;
    };
    bool root = false; // this process runs as root
    std::function<OpenDevices()> openDevices;
    std::function<QList<LockFile>(const QString &device)> locks;
    std::function<std::optional<QString>(qint64 pid)> processName; // empty: not running
    // The file name of the executable a process runs (what Qt writes in its lock files);
    // empty where it cannot be read (another user's process, unless root).
    std::function<QString(qint64 pid)> executableName;
    std::function<bool(const QString &name)> running;              // a process of that name
    QStringList brlttyRules; // brltty's udev rules files in force
    QList<UsbAdapter> usbAdapters;
};

struct PortCheckReport {
    QString text;     // what to print, one line each
    int problems = 0; // lines that name something in the way
};

// Checks the port `number` (when given) or every port whose device is present (ttyS nodes
// only when a UART answers or a link names them) and the USB serial adapters plugged in.
// Never opens a USB port: ttyS nodes alone are probed, through sources.probe.
PortCheckReport checkPorts(const PortSources &sources, const PortCheckSystem &system,
                           std::optional<int> number);

// Why the user may not open the device, with the fix; empty when they may (or there is no
// such node).
QString accessTrouble(const PortCheckSystem &system, const QString &device);

// What --find must know before it opens a port: whatever --check would call in the way
// there (a holder, a lock not provably stale and the user's own, no access, no device),
// in short. A port with anything of that is not asked.
struct FindVerdict {
    QString skip; // why it is not asked: "held by python3 (PID 4242)"; empty: ask it
    QString note; // said with its result: a stale lock of the user's that the opening removes
};
FindVerdict judgeForFind(const PortSources &sources, const PortCheckSystem &system,
                         const PortEntry &entry);

// The exit status for a check: 0 when nothing was found in the way, 1 otherwise (2 is
// left for bad usage, whatever the count).
int checkExitStatus(const PortCheckReport &report);

// The udev rule that makes ModemManager leave a board alone.
QString modemManagerRule(std::optional<quint16> vendorId, std::optional<quint16> productId,
                         const QString &device);
