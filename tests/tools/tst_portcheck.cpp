// pwmports --check: what it says on made-up machines, and once for real over a pty link.
// The real run needs the virtual board and pwmports (PWM_VIRTUAL_BOARD, PWM_PORTS).
#include "portcheck.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace
{

// A machine as the check sees it. Access follows the mode bits, as the kernel's would.
struct FakeMachine {
    QHash<QString, PortCheckSystem::Node> nodes;
    QHash<QString, NodeProbe> ttySChips; // what probing a ttyS node finds
    PortCheckSystem::Identity me{1000, u"alice"_s, {1000}, {1000}};
    QHash<qint64, QString> processes;  // the names they were started by
    QHash<qint64, QString> executables; // their executables' file names, where readable
    QHash<QString, QList<qint64>> holders; // processes holding each node open
    int unseen = 0; // processes whose open files cannot be looked at, for every device
    int unseenByRoot = 0; // of those, the ones root cannot look at either
    QHash<qint64, PortCheckSystem::DeviceId> serving; // pseudo-terminal masters held: the pty
    QList<PortCheckSystem::LockFile> locks; // all for /dev/ttyACM0
    QStringList running;
    QStringList brlttyRules;
    QList<PortCheckSystem::UsbAdapter> adapters;
    QList<SystemPort> reported;

    PortSources sources() const
    {
        PortSources s{PortNaming({}), reported, {}, {}, {}, {}};
        s.present = [n = nodes](const QString &d) { return n.contains(d); };
        s.probe = [c = ttySChips](const QString &d) { return c.value(d, NodeProbe(true)); };
        return s;
    }

    PortCheckSystem system() const
    {
        PortCheckSystem s;
        s.node = [n = nodes, me = me](const QString &d) -> std::optional<PortCheckSystem::Node> {
            if (!n.contains(d))
                return std::nullopt;
            PortCheckSystem::Node node = n.value(d);
            const int shift = node.owner == me.uid                    ? 6
                              : me.processGroups.contains(node.group) ? 3
                                                                      : 0;
            node.accessible = (node.mode >> shift & 06) == 06;
            return node;
        };
        s.identity = me;
        s.root = me.uid == 0;
        s.groupName = [](uint gid) {
            return QHash<uint, QString>{{0, u"root"_s}, {20, u"dialout"_s}, {1000, u"alice"_s}}
                .value(gid);
        };
        s.userName = [](uint uid) {
            return QHash<uint, QString>{{0, u"root"_s}, {1000, u"alice"_s}}.value(uid);
        };
        s.openDevices = [h = holders, n = nodes, u = me.uid == 0 ? unseenByRoot : unseen,
                         p = serving] {
            PortCheckSystem::OpenDevices out;
            for (auto it = h.begin(); it != h.end(); ++it)
                for (qint64 pid : it.value())
                    out.devices.append({pid, n.value(it.key()).id, {}, 0});
            for (auto it = p.begin(); it != p.end(); ++it)
                out.devices.append({it.key(), {1, 5, 2}, int(it->minor), it->fileSystem});
            out.unseen = u;
            return out;
        };
        s.locks = [l = locks](const QString &d) {
            return d == u"/dev/ttyACM0"_s ? l : QList<PortCheckSystem::LockFile>();
        };
        s.processName = [p = processes](qint64 pid) {
            return p.contains(pid) ? std::optional<QString>(p.value(pid)) : std::nullopt;
        };
        s.executableName = [e = executables](qint64 pid) { return e.value(pid); };
        s.running = [r = running](const QString &name) { return r.contains(name); };
        s.brlttyRules = brlttyRules;
        s.usbAdapters = adapters;
        return s;
    }
};

const PortCheckSystem::Node Dialout{0, 20, 0660, true, false, {}};

// An Uno on /dev/ttyACM0, owned by group dialout, and alice in that group.
FakeMachine uno()
{
    FakeMachine m;
    m.nodes.insert(u"/dev/ttyACM0"_s, Dialout);
    m.me.processGroups << 20;
    m.me.databaseGroups << 20;
    m.adapters = {{u"1-2"_s, 0x1234, 0x0043, u"ttyACM0"_s}};
    m.reported = {{u"ttyACM0"_s, u"/dev/ttyACM0"_s, {}, {}, {}, 0x1234, 0x0043}};
    return m;
}

// A Nano clone's CH340 on /dev/ttyUSB0.
FakeMachine nano()
{
    FakeMachine m = uno();
    m.nodes.clear();
    m.nodes.insert(u"/dev/ttyUSB0"_s, Dialout);
    m.adapters = {{u"1-2"_s, 0x1a86, 0x7523, u"ttyUSB0"_s}};
    m.reported = {{u"ttyUSB0"_s, u"/dev/ttyUSB0"_s, {}, {}, {}, 0x1a86, 0x7523}};
    return m;
}

QStringList problemLines(const QString &text)
{
    QStringList out;
    for (const QString &line : text.split(u'\n'))
        if (line.startsWith(u"  In the way: "_s))
            out << line;
    return out;
}

} // namespace

Q_DECLARE_METATYPE(FakeMachine)

class TestPortCheck : public QObject
{
    Q_OBJECT

private slots:
    void situations_data();
    void situations();
    void exitStatus_data();
    void exitStatus();
    void modemManagerRule();
    void realRunOverAPtyLink_data();
    void realRunOverAPtyLink();
};

// Each row: a machine, the number asked for (0: none), pieces that must each be in the
// output, pieces that must not, and how many lines name something in the way.
void TestPortCheck::situations_data()
{
    QTest::addColumn<FakeMachine>("machine");
    QTest::addColumn<int>("number");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<int>("problems");

    const QString nothing = u"Nothing found in the way. Opening the port resets most boards"_s;

    QTest::newRow("clear") << uno() << 65
                           << QStringList{u"Port 65  /dev/ttyACM0\n"_s,
                                          u"  crw-rw---- root:dialout; you may open it (you are "
                                          u"in group dialout).\n"_s,
                                          nothing}
                           << QStringList{u"In the way"_s} << 0;
    {
        FakeMachine m = uno();
        m.me.processGroups = {1000};
        m.me.databaseGroups = {1000};
        QTest::newRow("not in the group")
            << m << 65
            << QStringList{u"you may not open it.\n"_s,
                           u"only root and group dialout may open it, and you are not in "
                           u"dialout: sudo usermod -aG dialout alice, then log out and in again"_s}
            << QStringList{nothing} << 1;
        m.me.databaseGroups << 20;
        QTest::newRow("added to the group, not logged in again")
            << m << 65
            << QStringList{u"you were added to group dialout after this login began"_s,
                           u"log out and in again (or run `newgrp dialout`"_s}
            << QStringList{u"usermod"_s} << 1;
    }
    {
        FakeMachine m = uno();
        m.nodes[u"/dev/ttyACM0"_s].mode = 0600;
        QTest::newRow("only the owner may")
            << m << 65
            << QStringList{u"only root may open it: for now sudo setfacl -m "
                           u"u:alice:rw /dev/ttyACM0"_s}
            << QStringList{u"usermod"_s} << 1;
        m.me = {0, u"root"_s, {0}, {0}};
        QTest::newRow("root may open anything")
            << m << 65 << QStringList{u"you may open it (as root).\n"_s, nothing} << QStringList{}
            << 0;
    }
    {
        FakeMachine m = uno();
        m.processes = {{4242, u"serialmon"_s}, {4243, u"uploader"_s}};
        m.holders.insert(u"/dev/ttyACM0"_s, {4242});
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 4242, 1000, {}}};
        QTest::newRow("held, and its own lock not named twice")
            << m << 65 << QStringList{u"In the way: serialmon (PID 4242) holds it open: close"_s}
            << QStringList{u"LCK"_s} << 1;
        // Port 65 a pseudo-terminal here (devpts 22), and a chroot's devpts (23) has one of
        // the same number, whose master serialmon holds too: not the port's other end.
        m.nodes[u"/dev/ttyACM0"_s].id = {22, 136, 1};
        m.nodes.insert(u"/srv/chroot/dev/pts/1"_s, {0, 5, 0620, true, false, {23, 136, 1}});
        m.processes.insert(24041, u"tst_endtoend"_s);
        m.holders.insert(u"/srv/chroot/dev/pts/1"_s, {24041});
        m.serving.insert(4242, {23, 136, 1});
        QTest::newRow("a pseudo-terminal of another devpts, of the same number, is not the port")
            << m << 65 << QStringList{u"In the way: serialmon (PID 4242) holds it open"_s}
            << QStringList{u"tst_endtoend"_s} << 1;
        m.serving.clear();
        m.holders.clear();
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 4243, 0, {}}};
        QTest::newRow("locked by another user's process")
            << m << 65
            << QStringList{u"held by another user's process uploader (PID 4243), which "
                           u"locked it in /run/lock/LCK..ttyACM0"_s}
            << QStringList{} << 1;
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 999, 1000, {}}};
        QTest::newRow("own stale lock")
            << m << 65
            << QStringList{u"A stale lock file /run/lock/LCK..ttyACM0 is left from PID 999"_s,
                           nothing}
            << QStringList{} << 0;
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 999, 0, {}}};
        QTest::newRow("another user's stale lock")
            << m << 65 << QStringList{u"sudo rm /run/lock/LCK..ttyACM0"_s} << QStringList{} << 1;
        m.executables.insert(4243, u"uploader"_s);
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 4243, 1000, u"pwmpanel"_s}};
        QTest::newRow("own lock whose PID another program took since")
            << m << 65
            << QStringList{u"A stale lock file /run/lock/LCK..ttyACM0 is left from PID 4243, "
                           u"which has ended (the PID now belongs to uploader, not pwmpanel); "
                           u"the panel removes it itself."_s,
                           nothing}
            << QStringList{u"held by"_s} << 0;
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 4243, 0, u"/opt/pwm/pwmpanel"_s}};
        QTest::newRow("another user's lock whose PID another program took since")
            << m << 65
            << QStringList{u"stale lock file /run/lock/LCK..ttyACM0 from PID 4243, which has "
                           u"ended (the PID now belongs to uploader, not /opt/pwm/pwmpanel), "
                           u"and it is not yours: sudo rm /run/lock/LCK..ttyACM0"_s}
            << QStringList{u"held by"_s} << 1;
        m.processes.insert(4244, u"pwmpanel-virtua"_s); // the kernel keeps 15 characters
        m.locks = {{u"/run/lock/LCK..ttyACM0"_s, 4244, 1000, u"pwmpanel-virtualboard"_s}};
        QTest::newRow("lock by a long name, the process's cut short")
            << m << 65
            << QStringList{u"held by pwmpanel-virtua (PID 4244), which locked it in "
                           u"/run/lock/LCK..ttyACM0"_s}
            << QStringList{u"stale"_s} << 1;
        m.processes.insert(14332, u"serial-monitor"_s); // started through a link to sermon
        m.locks = {{u"/var/lock/LCK..ttyACM0"_s, 14332, 0, u"sermon"_s}};
        QTest::newRow("another user's lock, its program started by another name")
            << m << 65
            << QStringList{u"possibly in use by PID 14332 (serial-monitor; the lock names "
                           u"sermon), which locked it in /var/lock/LCK..ttyACM0 and still "
                           u"runs: close that program"_s}
            << QStringList{u"stale"_s, u"rm "_s} << 1;
        m.processes.insert(14333, u"monitor.py"_s);
        m.executables.insert(14333, u"python3.11"_s);
        m.locks = {{u"/var/lock/LCK..ttyACM0"_s, 14333, 1000, u"python3.11"_s}};
        QTest::newRow("lock by a script, the process named after it")
            << m << 65 << QStringList{u"held by monitor.py (PID 14333), which locked it in"_s}
            << QStringList{u"stale"_s} << 1;
        m.locks = {{u"/var/lock/LCK..ttyACM0"_s, 0, 1000, {}}};
        QTest::newRow("lock naming no process")
            << m << 65
            << QStringList{u"lock file /var/lock/LCK..ttyACM0 names no process: if no program "
                           u"uses the port, remove it: rm /var/lock/LCK..ttyACM0"_s}
            << QStringList{} << 1;
    }
    {
        FakeMachine m = uno();
        m.unseen = 3;
        QTest::newRow("other users' programs unseen: not called clear")
            << m << 65
            << QStringList{u"  3 programs of other users could not be looked at, and one may "
                           u"hold the port: sudo fuser -v /dev/ttyACM0 shows every holder (or "
                           u"run this check with sudo).\n"_s,
                           u"Nothing found in the way among what could be seen. "_s}
            << QStringList{nothing} << 0;
        m.me = {0, u"root"_s, {0}, {0}};
        QTest::newRow("root sees every program")
            << m << 65 << QStringList{nothing} << QStringList{u"could not be looked at"_s} << 0;
        m.unseenByRoot = 2;
        QTest::newRow("even root's look refused: not called clear")
            << m << 65 << QStringList{u"Nothing found in the way among what could be seen. "_s}
            << QStringList{} << 0;
    }
    {
        FakeMachine m = uno();
        m.running = {u"ModemManager"_s};
        QTest::newRow("ModemManager and a ttyACM port")
            << m << 0
            << QStringList{u"ModemManager is running"_s,
                           u"echo 'ATTRS{idVendor}==\"1234\", ATTRS{idProduct}==\"0043\", "
                           u"ENV{ID_MM_DEVICE_IGNORE}=\"1\"' | sudo tee "
                           u"/etc/udev/rules.d/99-pwmpanel-modemmanager.rules"_s}
            << QStringList{} << 1;
        FakeMachine n = nano();
        n.running = {u"ModemManager"_s};
        QTest::newRow("ModemManager leaves ttyUSB alone")
            << n << 33 << QStringList{nothing} << QStringList{u"ModemManager"_s} << 0;
    }
    {
        FakeMachine m = nano();
        m.running = {u"brltty"_s};
        QTest::newRow("brltty running, adapter plugged in")
            << m << 0
            << QStringList{u"Machine:\n"_s,
                           u"brltty (a braille display service) is running; it takes CH340"_s,
                           u"sudo apt remove brltty"_s}
            << QStringList{} << 1;
        m.running.clear();
        m.nodes.clear();
        m.adapters[0].tty.clear();
        m.brlttyRules = {u"/usr/lib/udev/rules.d/85-brltty.rules"_s};
        QTest::newRow("brltty's rules took the node")
            << m << 33
            << QStringList{u"/dev/ttyUSB0 does not exist"_s,
                           u"has udev rules in force (/usr/lib/udev/rules.d/85-brltty.rules)"_s}
            << QStringList{u"has no port node"_s} << 2;
        m.brlttyRules.clear();
        QTest::newRow("adapter without a node, no brltty")
            << m << 0
            << QStringList{u"USB serial adapter 1a86:7523 (USB 1-2) is plugged in but has no "
                           u"port node"_s}
            << QStringList{u"brltty"_s, u"no serial device found"_s} << 1;
        FakeMachine u = uno();
        u.running = {u"brltty"_s};
        u.adapters.clear();
        QTest::newRow("brltty with no adapter around")
            << u << 0 << QStringList{nothing} << QStringList{u"brltty"_s} << 0;
    }
    {
        FakeMachine m;
        m.nodes.insert(u"/dev/ttyS0"_s, Dialout);
        m.nodes.insert(u"/dev/ttyS1"_s, Dialout);
        m.ttySChips.insert(u"/dev/ttyS1"_s, false);
        m.me.processGroups << 20;
        QTest::newRow("every port: only ttyS nodes with a UART")
            << m << 0 << QStringList{u"Port 1  /dev/ttyS0\n"_s, nothing} << QStringList{u"Port 2"_s}
            << 0;
        QTest::newRow("a ttyS node without a UART, asked for")
            << m << 2 << QStringList{u"no UART behind /dev/ttyS1, so no board can answer there"_s}
            << QStringList{} << 1;
        m.nodes.insert(u"/dev/ttyS5"_s, Dialout);
        m.ttySChips.insert(u"/dev/ttyS5"_s, NodeProbe(std::nullopt, ENXIO));
        QTest::newRow("a node that cannot be opened")
            << m << 6 << QStringList{u"/dev/ttyS5 cannot be opened (No such device or address)"_s}
            << QStringList{} << 1;
        m.me.processGroups = {1000};
        m.nodes[u"/dev/ttyS0"_s].mode = 0600;
        QTest::newRow("only the owner may open a built-in UART")
            << m << 1 << QStringList{u"u:alice:rw /dev/ttyS0 (lasts until the next reboot)"_s}
            << QStringList{} << 1;
        m.nodes.insert(u"/dev/ttyS0"_s, {0, 20, 0660, false, false, {}});
        QTest::newRow("not a device node")
            << m << 1 << QStringList{u"/dev/ttyS0 is not a device node"_s}
            << QStringList{u"you may"_s} << 1;
    }
    QTest::newRow("a number naming no port")
        << uno() << 200 << QStringList{u"200 names no port: use 1 to 96"_s} << QStringList{} << 1;
    QTest::newRow("nothing plugged in")
        << FakeMachine{} << 0 << QStringList{u"no serial device found: plug the board in"_s}
        << QStringList{u"Port "_s} << 1;
    QTest::newRow("several things in the way: counted") <<
        [] {
            FakeMachine m = uno();
            m.me.processGroups = {1000};
            m.running = {u"ModemManager"_s};
            return m;
        }() << 65 << QStringList{u"2 things in the way.\n"_s}
                                                        << QStringList{} << 2;
}

void TestPortCheck::situations()
{
    QFETCH(FakeMachine, machine);
    QFETCH(int, number);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QFETCH(int, problems);

    const PortCheckReport report = checkPorts(machine.sources(), machine.system(),
                                              number ? std::optional<int>(number) : std::nullopt);
    for (const QString &piece : present)
        QVERIFY2(report.text.contains(piece),
                 qPrintable(u"missing: "_s + piece + u"\n"_s + report.text));
    for (const QString &piece : absent)
        QVERIFY2(!report.text.contains(piece),
                 qPrintable(u"unexpected: "_s + piece + u"\n"_s + report.text));
    QCOMPARE(report.problems, problems);
    QCOMPARE(problemLines(report.text).size(), problems);
}

// 2 means bad usage: any number of problems is 1.
void TestPortCheck::exitStatus_data()
{
    QTest::addColumn<int>("problems");
    QTest::addColumn<int>("status");
    QTest::newRow("nothing in the way") << 0 << 0;
    QTest::newRow("one thing") << 1 << 1;
    QTest::newRow("two things") << 2 << 1;
}

void TestPortCheck::exitStatus()
{
    QFETCH(int, problems);
    QFETCH(int, status);
    QCOMPARE(checkExitStatus({u"..."_s, problems}), status);
}

// Without the board's USB identity the rule names the node; with it, the board wherever
// it is plugged in.
void TestPortCheck::modemManagerRule()
{
    QCOMPARE(::modemManagerRule(0x2a03, 0x0043, u"/dev/ttyACM1"_s),
             u"ATTRS{idVendor}==\"2a03\", ATTRS{idProduct}==\"0043\", "
             u"ENV{ID_MM_DEVICE_IGNORE}=\"1\""_s);
    QCOMPARE(::modemManagerRule(std::nullopt, std::nullopt, u"/dev/ttyACM1"_s),
             u"KERNEL==\"ttyACM1\", ENV{ID_MM_DEVICE_IGNORE}=\"1\""_s);
}

// The real pwmports over the virtual board's link, with whatever the row sets up in the way:
// `program` ("test": this test; "ended": a PID that has ended; else a program of that name)
// holds the port open, or, given a `lock`, runs and is named by the port's lock file, owned
// by `lockOwner` (0: this test's user), a minute old. In `piece`, %1 is the program's PID and
// %2 the lock file. Neither run may remove the lock or write to the board.
void TestPortCheck::realRunOverAPtyLink_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QByteArray>("lock"); // %1: the PID
    QTest::addColumn<uint>("lockOwner");
    // SUDO_UID=n first: that in the environment; nobody first: run as nobody
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("piece");
    QTest::addColumn<int>("status");
    const QStringList check{u"--check"_s, u"1"_s}, find{u"--find"_s, u"1"_s};
    const auto row = [](const char *name, const QString &program, const QByteArray &lock,
                        uint owner, const QStringList &args, const QString &piece, int status) {
        QTest::newRow(name) << program << lock << owner << args << piece << status;
    };
    row("clear", {}, {}, 0, check, u" (through ports/com1)\n"_s, 0);
    row("held by this test", u"test"_s, {}, 0, check,
        u"In the way: tst_portcheck (PID %1) holds it open"_s, 1);
    row("held without a lock: --find leaves it alone", u"serialmon"_s, {}, 0, find,
        u"not asked: held by serialmon (PID %1); pwmports --check 1 says more"_s, 1);
    row("a lock of the PID alone, its program running: --find leaves it alone", u"sermon"_s, "%1\n",
        0, find, u"not asked: held by sermon (PID %1), which locked it in %2;"_s, 1);
    row("minicom's lock, minicom running", u"minicom"_s, "%1 minicom root\n", 0, check,
        u"In the way: held by minicom (PID %1), which locked it in %2"_s, 1);
    row("Qt's lock older than 30 s, its program running: --find leaves it alone", u"sermon"_s,
        "%1\nsermon\n" + QSysInfo::machineHostName().toUtf8() + '\n', 0, find,
        u"not asked: held by sermon (PID %1)"_s, 1);
    row("under sudo, root's stale lock is not the user's", u"ended"_s, "%1\n", 0,
        QStringList{u"SUDO_UID=4321"_s} + check,
        u"In the way: stale lock file %2 from PID %1, which has ended, and it is not yours: "
        u"sudo rm %2"_s,
        1);
    row("another user's stale lock: --find leaves it alone", u"ended"_s, "%1\n", 4321, find,
        u"not asked: another user's stale lock file %2 is left (PID %1 has ended)"_s, 1);
    row("the listing names the fix for a port you may not open", {}, {}, 0, {u"nobody"_s},
        u"you may not open it: only root may open it: for now sudo setfacl -m u:nobody:rw"_s, 0);
    row("--find points to --check for a port you may not open", {}, {}, 0,
        {u"nobody"_s, u"--find"_s, u"1"_s},
        u"not asked: you may not open it; pwmports --check 1 says more."_s, 1);
    row("--check with --find: bad usage", {}, {}, 0, {u"--check"_s, u"--find"_s}, {}, 2);
    row("an unknown option: bad usage", {}, {}, 0, {u"--chek"_s}, {}, 2);
}

void TestPortCheck::realRunOverAPtyLink()
{
#ifndef Q_OS_LINUX
    QSKIP("the check reads /proc");
#else
    QFETCH(QString, program);
    QFETCH(QByteArray, lock);
    QFETCH(uint, lockOwner);
    QFETCH(QStringList, args);
    QFETCH(QString, piece);
    QFETCH(int, status);
    if (::getuid() != 0 &&
        (lockOwner != 0 || args.value(0).contains(u"SUDO_UID="_s) || args.value(0) == u"nobody"_s))
        QSKIP("another user's lock, sudo and nobody need root");
    lockOwner = lockOwner ? lockOwner : ::getuid();
    const QString board = qEnvironmentVariable("PWM_VIRTUAL_BOARD");
    const QString ports = qEnvironmentVariable("PWM_PORTS");
    QVERIFY2(!board.isEmpty() && !ports.isEmpty(), "PWM_VIRTUAL_BOARD and PWM_PORTS must be set");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(u"ports/com1"_s);
    QProcess boardProc;
    boardProc.start(board, {u"--link"_s, link, u"--log"_s, dir.filePath(u"log"_s)});
    QVERIFY(boardProc.waitForStarted(3000));
    QVERIFY(boardProc.waitForReadyRead(5000)); // its start line: the link is there
    // The lock of the terminal's name, as the panel's serial layer takes it (one left by a
    // program that had a terminal of that number before is overwritten).
    const QString lockPath =
        u"/var/lock/LCK.."_s + QFileInfo(link).canonicalFilePath().mid(5).replace(u'/', u'_');

    // A copy of sleep under the program's name; one PID above the kernel's limit has ended.
    QProcess sleeper;
    qint64 pid = program == u"ended"_s ? 4194305 : QCoreApplication::applicationPid();
    if (!program.isEmpty() && program != u"test"_s && program != u"ended"_s) {
        QVERIFY(QFile::copy(QStandardPaths::findExecutable(u"sleep"_s), dir.filePath(program)));
        sleeper.start(
            u"sh"_s, {u"-c"_s, lock.isEmpty() ? u"exec \"$0\" 60 3<>\"$1\""_s : u"exec \"$0\" 60"_s,
                      dir.filePath(program), link});
        QVERIFY(sleeper.waitForStarted(3000));
        pid = sleeper.processId();
    }
    const int fd = program == u"test"_s
                       ? ::open(QFile::encodeName(link).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)
                       : -1;
    if (!lock.isEmpty()) {
        QFile f(lockPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QString::fromUtf8(lock).arg(pid, 10).toUtf8());
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                              QFileDevice::FileModificationTime));
        f.close();
        QVERIFY(::chown(QFile::encodeName(lockPath).constData(), lockOwner, 0) == 0);
    }
    const auto removeLock = qScopeGuard([&] { // the row's own, also when a check fails
        if (!lock.isEmpty())
            QFile::remove(lockPath);
    });
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (args.value(0).startsWith(u"SUDO_UID="_s))
        env.insert(u"SUDO_UID"_s, args.takeFirst().mid(9));
    p.setProcessEnvironment(env);
    const bool nobody = args.value(0) == u"nobody"_s; // the folder open to them (rwx---r-x)
    if (nobody && QFile::setPermissions(dir.path(), QFile::Permissions(0x7705)))
        args = QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, ports} +
               args.mid(1);
    p.start(nobody ? u"setpriv"_s : ports, args + QStringList{u"--dir"_s, dir.path()});
    QVERIFY(p.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (fd >= 0)
        ::close(fd);
    const bool lockKept = QFile::exists(lockPath);
    sleeper.kill();
    sleeper.waitForFinished(3000);

    // Without a lock of the row's, one left by whatever had a terminal of that number before
    // is not counted.
    QStringList problems = problemLines(out);
    if (lock.isEmpty())
        problems.removeIf([](const QString &line) { return line.contains(u"/LCK.."_s); });
    if (args.first() == u"--check"_s && status == 0 && problemLines(out).isEmpty())
        // a plain user is told what is not seen
        QVERIFY2(out.contains(::getuid() == 0
                                  ? u"Nothing found in the way."_s
                                  : u"Nothing found in the way among what could be seen."_s),
                 qPrintable(out));
    piece.replace(u"%1"_s, QString::number(pid)).replace(u"%2"_s, lockPath);
    QVERIFY2(out.contains(piece), qPrintable(piece + u"\n"_s + out));
    QCOMPARE(p.exitCode(), status == 0 && !problemLines(out).isEmpty() ? 1 : status);
    if (args.first() == u"--check"_s && status < 2)
        QCOMPARE(problems.isEmpty(), status == 0);
    QVERIFY2(lockKept || lock.isEmpty(), "the lock file was removed");
    QFile log(dir.filePath(u"log"_s));
    QVERIFY(!log.open(QIODevice::ReadOnly) || !log.readAll().contains("I?"));
    boardProc.terminate();
    QVERIFY(boardProc.waitForFinished(3000));
#endif
}

QTEST_GUILESS_MAIN(TestPortCheck)
#include "tst_portcheck.moc"
