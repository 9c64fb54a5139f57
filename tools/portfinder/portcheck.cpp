#include "portcheck.h"

#include <QFileInfo>
#include <QSet>

#include <cstring>

namespace
{

using System = PortCheckSystem;

constexpr uint ReadWrite = 06; // the rw bits of one class, shifted into place below

QString modeText(const System::Node &n)
{
    QString s = n.charDevice ? QStringLiteral("c") : QStringLiteral("-");
    static const char Letters[] = "rwxrwxrwx";
    for (int bit = 8; bit >= 0; --bit)
        s += (n.mode >> bit) & 1 ? QLatin1Char(Letters[8 - bit]) : QLatin1Char('-');
    return s;
}

QString nameOrNumber(const QString &name, uint id)
{
    return name.isEmpty() ? QString::number(id) : name;
}

// Collects the lines; `trouble` marks what stands in the way and counts it. What keeps
// --find from opening the port has a short form too, `skip`.
class Report
{
public:
    void info(const QString &line) { m_text += line + QLatin1Char('\n'); }
    void trouble(const QString &line, const QString &skip = {})
    {
        m_text += QStringLiteral("  In the way: ") + line + QLatin1Char('\n');
        ++m_problems;
        if (m_skip.isEmpty())
            m_skip = skip;
    }
    void note(const QString &line) { m_note = line; }
    FindVerdict verdict() const { return {m_skip, m_note}; }
    // Something could not be looked at: "nothing found" holds only for what could be.
    void unseen() { m_unseen = true; }
    bool anyUnseen() const { return m_unseen; }
    int problems() const { return m_problems; }
    PortCheckReport done() const { return {m_text, m_problems}; }

private:
    QString m_text;
    int m_problems = 0;
    bool m_unseen = false;
    QString m_skip;
    QString m_note;
};

bool isTtyS(const QString &device)
{
    return QFileInfo(device).fileName().startsWith(QLatin1String("ttyS"));
}

bool mayOpen(const System &sys, const System::Node &node)
{
    return node.accessible || sys.identity.uid == 0;
}

// Why the user may not open the node, with the fix.
QString accessProblem(const System &sys, const QString &device, const System::Node &node)
{
    const System::Identity &me = sys.identity;
    const QString owner = nameOrNumber(sys.userName(node.owner), node.owner);
    const QString group = nameOrNumber(sys.groupName(node.group), node.group);
    const QString user = nameOrNumber(me.user, me.uid);
    const bool groupMay = (node.mode >> 3 & ReadWrite) == ReadWrite;
    if (node.owner == me.uid && (node.mode >> 6 & ReadWrite) != ReadWrite)
        return QStringLiteral("it is yours but not readable and writable: chmod u+rw %1")
            .arg(device);
    if (groupMay && me.processGroups.contains(node.group))
        return QStringLiteral("you are in group %1, yet may not open %2 (an access control "
                              "list?): getfacl %2 shows who may")
            .arg(group, device);
    if (groupMay && me.databaseGroups.contains(node.group) && !me.throughSudo)
        return QStringLiteral("you were added to group %1 after this login began, so this "
                              "session does not have it yet: log out and in again (or run "
                              "`newgrp %1` in this terminal for now)")
            .arg(group);
    if (groupMay)
        return QStringLiteral("only %1 and group %2 may open it, and you are not in %2: sudo "
                              "usermod -aG %2 %3, then log out and in again (a new login is "
                              "needed)")
            .arg(owner, group, user);
    // A built-in UART's node lasts until the machine restarts; a USB adapter's, until the
    // adapter is unplugged.
    return QStringLiteral("only %1 may open it: for now sudo setfacl -m u:%2:rw %3 (lasts %4); "
                          "for good, a udev rule with GROUP=\"dialout\", MODE=\"0660\"")
        .arg(owner, user, device,
             isTtyS(device) ? QStringLiteral("until the next reboot")
                            : QStringLiteral("until the board is plugged in again"));
}

// Who may open the node, and when the user may not, why and the fix.
void checkAccess(const System &sys, const QString &device, const System::Node &node, Report &out)
{
    const System::Identity &me = sys.identity;
    const QString owner = nameOrNumber(sys.userName(node.owner), node.owner);
    const QString group = nameOrNumber(sys.groupName(node.group), node.group);
    QString line = QStringLiteral("  %1 %2:%3; ").arg(modeText(node), owner, group);
    if (mayOpen(sys, node)) {
        line += QStringLiteral("you may open it");
        if (me.uid == 0)
            line += QStringLiteral(" (as root)");
        else if (node.owner != me.uid && me.processGroups.contains(node.group) &&
                 (node.mode >> 3 & ReadWrite) == ReadWrite)
            line += QStringLiteral(" (you are in group %1)").arg(group);
        out.info(line + QLatin1Char('.'));
        return;
    }
    out.info(line + QStringLiteral("you may not open it."));
    out.trouble(accessProblem(sys, device, node), QStringLiteral("you may not open it"));
}

// Whether the process now running as a lock's PID is the program that wrote the lock, told
// as Qt tells it: by its executable's file name, which is what Qt writes in the lock. Where
// that cannot be read, the name it was started by (the kernel keeps 15 characters of it) can
// only agree: a link or a script starts a program under another name, so a difference tells
// nothing. A lock without a name (older formats) is taken to be the running process's.
std::optional<bool> sameProgram(const System &sys, qint64 pid, const QString &running,
                                const QString &locked)
{
    constexpr qsizetype CommLength = 15;
    if (locked.isEmpty())
        return true;
    const QString lockedName = QFileInfo(locked).fileName();
    const QString executable = sys.executableName(pid);
    if (!executable.isEmpty())
        return executable == lockedName;
    if (QStringView(running).left(CommLength) == QStringView(lockedName).left(CommLength))
        return true;
    return std::nullopt;
}

// A Unix98 pseudo-terminal's number (majors 136 to 143), or none for other devices.
std::optional<int> ptyNumber(const System::DeviceId &id)
{
    if (id.major < 136 || id.major > 143)
        return std::nullopt;
    return int((id.major - 136) * 256 + id.minor);
}

// Whether a device a process holds is the port: the same numbers, and for a pseudo-terminal
// the same devpts instance. Other devices are the same under any node (a container's own
// /dev names the same USB adapter).
bool samePort(const System::DeviceId &held, const System::DeviceId &port)
{
    return held.major == port.major && held.minor == port.minor &&
           (!ptyNumber(port) || held.fileSystem == port.fileSystem);
}

void checkHolders(const System &sys, const QString &device, const System::Node &node,
                  Report &out)
{
    const System::OpenDevices open = sys.openDevices();
    // The other end of a pseudo-terminal (the program that plays the board) holds its master,
    // and often the terminal too: that one is not in the way.
    const std::optional<int> pty = ptyNumber(node.id);
    QList<qint64> holding;
    QSet<qint64> otherEnd;
    for (const System::OpenDevice &d : open.devices) {
        if (samePort(d.id, node.id)) {
            if (!holding.contains(d.pid))
                holding << d.pid;
        } else if (pty && d.ptyServed == pty && d.ptyServedFileSystem == node.id.fileSystem) {
            otherEnd.insert(d.pid);
        }
    }
    QSet<qint64> named;
    for (const qint64 pid : std::as_const(holding)) {
        if (otherEnd.contains(pid))
            continue;
        named.insert(pid);
        const QString name = sys.processName(pid).value_or(QStringLiteral("?"));
        out.trouble(QStringLiteral("%1 (PID %2) holds it open: close that program (a serial "
                                   "monitor, an upload still running, a second panel) or "
                                   "kill %2")
                        .arg(name)
                        .arg(pid),
                    QStringLiteral("held by %1 (PID %2)").arg(name).arg(pid));
    }
    for (const System::LockFile &lock : sys.locks(device)) {
        if (named.contains(lock.pid) && lock.pid != 0)
            continue;
        const std::optional<QString> name =
            lock.pid > 0 ? sys.processName(lock.pid) : std::optional<QString>();
        const std::optional<bool> same =
            name ? sameProgram(sys, lock.pid, *name, lock.program) : std::optional<bool>(false);
        // The PID taken by another program since: the locking one has ended all the same.
        const QString reused =
            name && same == false
                ? QStringLiteral(" (the PID now belongs to %1, not %2)").arg(*name, lock.program)
                : QString();
        const QString rm = lock.owner == sys.identity.uid || sys.identity.uid == 0
                               ? QStringLiteral("rm ")
                               : QStringLiteral("sudo rm ");
        if (lock.pid <= 0) {
            out.trouble(QStringLiteral("lock file %1 names no process: if no program uses the "
                                       "port, remove it: %2%1")
                            .arg(lock.path, rm),
                        QStringLiteral("lock file %1 names no process").arg(lock.path));
        } else if (!same) {
            // Qt does not take such a lock for stale either: it stands while the PID runs.
            out.trouble(QStringLiteral("possibly in use by PID %1 (%2; the lock names %3), "
                                       "which locked it in %4 and still runs: close that "
                                       "program (this check run with sudo tells for sure)")
                            .arg(lock.pid)
                            .arg(*name, lock.program, lock.path),
                        QStringLiteral("possibly held by %1 (PID %2), which locked it in %3")
                            .arg(*name)
                            .arg(lock.pid)
                            .arg(lock.path));
        } else if (*same) {
            const QString whose = lock.owner == sys.identity.uid
                                      ? QString()
                                      : QStringLiteral("another user's process ");
            const QString held = QStringLiteral("held by %1%2 (PID %3), which locked it in %4")
                                     .arg(whose, *name)
                                     .arg(lock.pid)
                                     .arg(lock.path);
            out.trouble(held + QStringLiteral(": close that program"), held);
        } else if (lock.owner == sys.identity.uid) {
            out.info(QStringLiteral("  A stale lock file %1 is left from PID %2, which has "
                                    "ended%3; the panel removes it itself.")
                         .arg(lock.path)
                         .arg(lock.pid)
                         .arg(reused));
            out.note(QStringLiteral("(its stale lock file %1, from PID %2, which has ended, is "
                                    "removed by the opening, as the panel's does)")
                         .arg(lock.path)
                         .arg(lock.pid));
        } else {
            out.trouble(QStringLiteral("stale lock file %1 from PID %2, which has ended%3, and "
                                       "it is not yours: %4%1")
                            .arg(lock.path)
                            .arg(lock.pid)
                            .arg(reused, rm),
                        QStringLiteral("another user's stale lock file %1 is left (PID %2 has "
                                       "ended): %3%1")
                            .arg(lock.path)
                            .arg(lock.pid)
                            .arg(rm));
        }
    }
    // Root sees every process but those another container's own root keeps from it; anyone
    // else may miss what another user's program holds. Opening the port to find out would
    // reset the board, so this is only said.
    if (open.unseen > 0 && sys.root) {
        out.unseen();
        out.info(QStringLiteral("  %1 program(s) could not be looked at even as root, and one "
                                "may hold the port.")
                     .arg(open.unseen));
    } else if (open.unseen > 0) {
        out.unseen();
        out.info(open.unseen == 1
                     ? QStringLiteral("  1 program of another user could not be looked at, and "
                                      "it may hold the port: sudo fuser -v %1 shows every "
                                      "holder (or run this check with sudo).")
                           .arg(device)
                     : QStringLiteral("  %1 programs of other users could not be looked at, and "
                                      "one may hold the port: sudo fuser -v %2 shows every "
                                      "holder (or run this check with sudo).")
                           .arg(open.unseen)
                           .arg(device));
    }
}

void checkModemManager(const System &sys, const PortEntry &e, Report &out)
{
    if (!QFileInfo(e.device).fileName().startsWith(QLatin1String("ttyACM")) ||
        !sys.running(QStringLiteral("ModemManager")))
        return;
    out.trouble(QStringLiteral("ModemManager is running; it opens every new ttyACM port for 10 "
                               "to 20 s and sends it AT commands (port busy, noise to the "
                               "board). Make it leave the board alone: echo '%1' | sudo tee "
                               "/etc/udev/rules.d/99-pwmpanel-modemmanager.rules, then sudo "
                               "udevadm control --reload and plug the board in again")
                    .arg(modemManagerRule(e.vendorId, e.productId, e.device)));
}

QString hex4(quint16 v)
{
    return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0'));
}

// brltty and adapters without a port node: about the machine, not one port.
void checkAdapters(const System &sys, bool usbPortAsked, Report &out)
{
    const bool brlttyRuns = sys.running(QStringLiteral("brltty"));
    const bool brltty = brlttyRuns || !sys.brlttyRules.isEmpty();
    if (brltty && (usbPortAsked || !sys.usbAdapters.isEmpty())) {
        const QString what = brlttyRuns ? QStringLiteral("is running")
                                        : QStringLiteral("has udev rules in force (%1)")
                                              .arg(sys.brlttyRules.join(QLatin1String(", ")));
        out.info(QStringLiteral("Machine:"));
        out.trouble(QStringLiteral("brltty (a braille display service) %1; it takes CH340, "
                                   "CP210x and FTDI adapters, and their ttyUSB node vanishes "
                                   "seconds after plugging in. Unless you use a braille "
                                   "display: sudo apt remove brltty (or sudo systemctl mask "
                                   "brltty-udev.service brltty.service), then plug the board "
                                   "in again")
                        .arg(what));
        return;
    }
    bool heading = false;
    for (const System::UsbAdapter &a : sys.usbAdapters) {
        if (!a.tty.isEmpty())
            continue;
        if (!heading)
            out.info(QStringLiteral("Machine:"));
        heading = true;
        out.trouble(QStringLiteral("USB serial adapter %1:%2 (USB %3) is plugged in but has no "
                                   "port node: its driver is not loaded or another program took "
                                   "it; sudo dmesg | tail shows which")
                        .arg(hex4(a.vendorId), hex4(a.productId), a.usbPath));
    }
}

void checkPort(const PortSources &sources, const System &sys, const PortEntry &e, Report &out)
{
    QString head = QStringLiteral("Port %1  %2").arg(e.number).arg(e.device);
    if (sources.linkNumbers.contains(e.number))
        head += QStringLiteral(" (through ports/com%1)").arg(e.number);
    if (e.device.isEmpty()) {
        out.info(QStringLiteral("Port %1").arg(e.number));
        out.trouble(QStringLiteral("%1 names no port: use 1 to 96 (see pwmports --all), or a "
                                   "ports/com%1 link beside the panel")
                        .arg(e.number),
                    QStringLiteral("%1 names no port: use 1 to 96").arg(e.number));
        return;
    }
    const std::optional<System::Node> node = e.present ? sys.node(e.device) : std::nullopt;
    if (!node) {
        out.info(head);
        const QString link = sources.naming.linkPathFor(e.number);
        out.trouble(e.device == link
                        ? QStringLiteral("the link %1 points to nothing: plug the board in, or "
                                         "point the link at its device")
                              .arg(link)
                        : QStringLiteral("%1 does not exist: plug the board in, or run pwmports "
                                         "to see which numbers have a device")
                              .arg(e.device),
                    QStringLiteral("no such device"));
        return;
    }
    out.info(head);
    if (!node->charDevice) {
        out.trouble(QStringLiteral("%1 is not a device node: point ports/com%2 at the board's "
                                   "device")
                        .arg(e.device)
                        .arg(e.number),
                    QStringLiteral("not a device node"));
        return;
    }
    checkAccess(sys, e.device, *node, out);
    if (e.chip == PortEntry::Chip::Unfitted)
        out.trouble(QStringLiteral("no UART behind %1, so no board can answer there: run "
                                   "pwmports to find the board's number")
                        .arg(e.device),
                    QStringLiteral("no UART behind it"));
    if (e.chip == PortEntry::Chip::Unreadable && mayOpen(sys, *node)) {
        const QString why = e.openError ? QString::fromLocal8Bit(std::strerror(e.openError))
                                        : QStringLiteral("it refuses");
        out.trouble(QStringLiteral("%1 cannot be opened (%2), so no board can answer there: "
                                   "run pwmports to find the board's number")
                        .arg(e.device, why),
                    QStringLiteral("it cannot be opened (%1)").arg(why));
    }
    checkHolders(sys, e.device, *node, out);
    checkModemManager(sys, e, out);
}

} // namespace

int checkExitStatus(const PortCheckReport &report)
{
    return report.problems == 0 ? 0 : 1;
}

QString modemManagerRule(std::optional<quint16> vendorId, std::optional<quint16> productId,
                         const QString &device)
{
    const QString ignore = QStringLiteral("ENV{ID_MM_DEVICE_IGNORE}=\"1\"");
    if (vendorId && productId)
        return QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", %3")
            .arg(hex4(*vendorId), hex4(*productId), ignore);
    return QStringLiteral("KERNEL==\"%1\", %2").arg(QFileInfo(device).fileName(), ignore);
}

QString accessTrouble(const PortCheckSystem &system, const QString &device)
{
    const std::optional<System::Node> node = system.node(device);
    return node && !mayOpen(system, *node) ? accessProblem(system, device, *node) : QString();
}

FindVerdict judgeForFind(const PortSources &sources, const PortCheckSystem &system,
                         const PortEntry &entry)
{
    Report out;
    checkPort(sources, system, entry, out);
    return out.verdict();
}

PortCheckReport checkPorts(const PortSources &sources, const PortCheckSystem &system,
                           std::optional<int> number)
{
    Report out;
    if (system.identity.throughSudo)
        out.info(QStringLiteral("Checked for %1, who ran sudo and runs the panel.")
                     .arg(nameOrNumber(system.identity.user, system.identity.uid)));
    QList<PortEntry> entries;
    if (number) {
        PortEntry asked;
        asked.number = *number;
        for (const PortEntry &e : listPorts(sources, true))
            if (e.number == *number)
                asked = e;
        entries << asked;
    } else {
        // Most PCs have ttyS nodes without a UART behind them; only those that answer, or
        // that a link names, are worth a line.
        for (const PortEntry &e : listPorts(sources, false))
            if (!isTtyS(e.device) || e.chip == PortEntry::Chip::Fitted ||
                sources.linkNumbers.contains(e.number))
                entries << e;
    }

    bool usbPortAsked = false;
    for (const PortEntry &e : std::as_const(entries)) {
        checkPort(sources, system, e, out);
        usbPortAsked = usbPortAsked || QFileInfo(e.device).fileName().startsWith(u"ttyUSB");
    }
    checkAdapters(system, usbPortAsked, out);

    if (entries.isEmpty() && system.usbAdapters.isEmpty()) {
        out.trouble(QStringLiteral("no serial device found: plug the board in (pwmports --all "
                                   "lists every number)"));
    }
    if (out.problems() == 0)
        out.info(
            QStringLiteral("Nothing found in the way%1. Opening the port resets most "
                           "boards: the first I? goes unanswered, and the panel's next "
                           "search, 2.5 s later, finds the board.")
                .arg(out.anyUnseen() ? QStringLiteral(" among what could be seen") : QString()));
    else
        out.info(out.problems() == 1 ? QStringLiteral("1 thing in the way.")
                                     : QStringLiteral("%1 things in the way.").arg(out.problems()));
    return out.done();
}
