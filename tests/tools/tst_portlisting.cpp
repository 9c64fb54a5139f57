// The port finder's listing, over a made-up set of devices; Windows' lists and --check there,
// over made-up ports; --find for real over pty links to virtual boards (PWM_VIRTUAL_BOARD,
// PWM_PORTS).
#include "comcheck.h"
#include "portlisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Devices that exist, and what probing each would find (nullopt: cannot be opened).
struct FakeSystem {
    QHash<QString, std::optional<bool>> devices;
    QList<SystemPort> reported;
    mutable QStringList probed;

    PortSources sources(const QString &folder = {}) const
    {
        PortSources s{PortNaming(folder), reported, {}, {}, {}, {}};
        s.present = [this](const QString &d) { return devices.contains(d); };
        s.probe = [this](const QString &d) {
            probed << d;
            return devices.value(d);
        };
        if (!folder.isEmpty())
            s.linkNumbers = linkNumbersIn(folder);
        return s;
    }
};

FakeSystem linuxMachine()
{
    FakeSystem f;
    f.devices = {{u"/dev/ttyS0"_s, true},
                 {u"/dev/ttyS1"_s, false},
                 {u"/dev/ttyS2"_s, std::nullopt},
                 {u"/dev/ttyUSB0"_s, true},
                 {u"/dev/ttyACM3"_s, true}};
    f.reported = {{u"ttyS0"_s, u"/dev/ttyS0"_s, {}, {}, {}, {}, {}},
                  {u"ttyUSB0"_s, u"/dev/ttyUSB0"_s, u"USB Serial"_s, u"Maker"_s, {}, 0x0403,
                   0x6001},
                  {u"ttyACM3"_s, u"/dev/ttyACM3"_s, u"Board"_s, u"Other maker"_s, u"A1B2"_s,
                   0x1234, 0x0043}};
    return f;
}

const PortEntry *entry(const QList<PortEntry> &list, int number)
{
    for (const PortEntry &e : list)
        if (e.number == number)
            return &e;
    return nullptr;
}

} // namespace

class TestPortListing : public QObject
{
    Q_OBJECT

private slots:
    void presentDevicesInOrder();
    void allNumbers();
    void whatIsThere_data();
    void whatIsThere();
    void onlyTtySNodesAreOpened();
    void linksBesideThePanel();
    void windowsLists_data();
    void windowsLists();
    void comCheck_data();
    void comCheck();
    void findOverPtyLinks_data();
    void findOverPtyLinks();
};

void TestPortListing::presentDevicesInOrder()
{
#ifdef Q_OS_WIN
    QSKIP("device nodes are a Linux matter");
#endif
    const FakeSystem f = linuxMachine();
    QList<int> numbers;
    for (const PortEntry &e : listPorts(f.sources(), false))
        numbers << e.number;
    QCOMPARE(numbers, (QList<int>{1, 2, 3, 33, 68}));
}

void TestPortListing::allNumbers()
{
#ifdef Q_OS_WIN
    QSKIP("device nodes are a Linux matter");
#endif
    const FakeSystem f = linuxMachine();
    const QList<PortEntry> list = listPorts(f.sources(), true);
    QCOMPARE(list.size(), 96);
    QCOMPARE(list[64].device, u"/dev/ttyACM0"_s);
    QVERIFY(!list[64].present);
    QVERIFY(formatPorts(list).contains(u"  65  /dev/ttyACM0         no such device\n"_s));
}

// Each present number's line, as the user reads it, with the port the settings name marked.
void TestPortListing::whatIsThere_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("settingsPort");
    QTest::newRow("ttyS with a UART") << 1 << u"   1  /dev/ttyS0           a UART answers"_s << 0;
    QTest::newRow("unfitted ttyS") << 2 << u"   2  /dev/ttyS1           no UART behind it"_s << 0;
    QTest::newRow("ttyS that cannot be opened")
        << 3 << u"   3  /dev/ttyS2           cannot be opened"_s << 0;
    QTest::newRow("USB adapter") << 33
                                 << u"  33  /dev/ttyUSB0         USB Serial; made by Maker; USB "
                                    u"0403:6001; not opened (opening resets most boards)"_s
                                 << 0;
    QTest::newRow("USB board with a serial number")
        << 68
        << u"  68  /dev/ttyACM3         Board; made by Other maker; USB 1234:0043; serial "
           u"number A1B2; not opened (opening resets most boards)"_s
        << 0;
    QTest::newRow("the settings' port")
        << 33
        << u"  33  /dev/ttyUSB0         USB Serial; made by Maker; USB 0403:6001; not opened "
           u"(opening resets most boards); the settings' port (pwmpanel.ini)"_s
        << 33;
    QTest::newRow("the settings' port missing")
        << 1
        << u"   1  /dev/ttyS0           a UART answers\nThe settings' port, 40 (pwmpanel.ini), is not "
           u"there: the panel shows Invalid Port Number! until the board is plugged in there, or "
           u"the number is changed (Set, COM box)."_s
        << 40;
}

void TestPortListing::whatIsThere()
{
#ifdef Q_OS_WIN
    QSKIP("device nodes are a Linux matter");
#endif
    QFETCH(int, number);
    QFETCH(QString, line);
    QFETCH(int, settingsPort);
    const FakeSystem f = linuxMachine();
    const QList<PortEntry> list = listPorts(f.sources(), false);
    const PortEntry *e = entry(list, number);
    QVERIFY(e);
    const QString text = formatPorts({*e}, {settingsPort, u"pwmpanel.ini"_s});
    QCOMPARE(text.section(u'\n', 1).chopped(1), line);
}

void TestPortListing::onlyTtySNodesAreOpened()
{
#ifdef Q_OS_WIN
    QSKIP("device nodes are a Linux matter");
#endif
    const FakeSystem f = linuxMachine();
    listPorts(f.sources(), true);
    QCOMPARE(f.probed, (QStringList{u"/dev/ttyS0"_s, u"/dev/ttyS1"_s, u"/dev/ttyS2"_s}));
}

// A link beside the panel gives a number its device, beyond 96 too; whether the device is
// probed follows the device it names, not the number.
void TestPortListing::linksBesideThePanel()
{
#ifdef Q_OS_WIN
    QSKIP("port links are a Linux feature");
#else
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QDir(dir.path()).mkpath(u"ports"_s);
    QDir(dir.path()).mkpath(u"dev"_s);
    for (const QString &name : {u"ttyACM7"_s, u"ttyS9"_s}) {
        QFile node(dir.filePath(u"dev/"_s + name));
        QVERIFY(node.open(QIODevice::WriteOnly));
    }
    const QString acm = QFileInfo(dir.filePath(u"dev/ttyACM7"_s)).canonicalFilePath();
    const QString ttys = QFileInfo(dir.filePath(u"dev/ttyS9"_s)).canonicalFilePath();
    QVERIFY(QFile::link(acm, dir.filePath(u"ports/com200"_s)));
    QVERIFY(QFile::link(ttys, dir.filePath(u"ports/com2"_s)));
    QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"ports/com150"_s)));

    FakeSystem f = linuxMachine();
    f.devices.insert(acm, true);
    f.devices.insert(ttys, false);
    const QList<PortEntry> list = listPorts(f.sources(dir.path()), false);

    QVERIFY(entry(list, 200));
    QCOMPARE(entry(list, 200)->device, acm);
    QCOMPARE(entry(list, 200)->chip, PortEntry::Chip::NotProbed);
    QCOMPARE(entry(list, 2)->device, ttys);
    QCOMPARE(entry(list, 2)->chip, PortEntry::Chip::Unfitted);
    QVERIFY2(!entry(list, 150), "a dangling link names nothing present");
    QVERIFY(!f.probed.contains(acm));
#endif
}

using Ports = QList<SystemPort>;
using Codes = QMap<int, int>;

SystemPort classPort(const QString &name, const QString &description)
{
    return {name, {}, description, {}, {}, {}, {}};
}

SystemPort mapPort(const QString &name, const QString &device)
{
    return {name, device, {}, {}, {}, {}, {}};
}

// One entry per COM port from Windows' two lists, as "COMn: description".
void TestPortListing::windowsLists_data()
{
    QTest::addColumn<Ports>("portsClass");
    QTest::addColumn<Ports>("deviceMap");
    QTest::addColumn<QStringList>("listed");
    QTest::newRow("the driver's name wins")
        << Ports{classPort(u"COM5"_s, u"USB-SERIAL CH340 (COM5)"_s)}
        << Ports{mapPort(u"COM5"_s, u"\\Device\\Serial2"_s)}
        << QStringList{u"COM5: USB-SERIAL CH340 (COM5)"_s};
    QTest::newRow("only in the device map, as under Wine")
        << Ports{} << Ports{mapPort(u"COM1"_s, u"\\Device\\Serial0"_s), mapPort(u"COM12"_s, u"\\Device\\Serial11"_s)}
        << QStringList{u"COM1: \\Device\\Serial0"_s, u"COM12: \\Device\\Serial11"_s};
    QTest::newRow("printer ports left out, both lists kept")
        << Ports{classPort(u"LPT1"_s, u"Printer Port (LPT1)"_s),
                 classPort(u"COM7"_s, u"Standard Serial over Bluetooth link (COM7)"_s)}
        << Ports{mapPort(u"com3"_s, u"\\Device\\VCP0"_s), mapPort(u"COM7"_s, u"\\Device\\BthModem0"_s)}
        << QStringList{u"COM7: Standard Serial over Bluetooth link (COM7)"_s,
                       u"com3: \\Device\\VCP0"_s};
}

void TestPortListing::windowsLists()
{
    QFETCH(Ports, portsClass);
    QFETCH(Ports, deviceMap);
    QFETCH(QStringList, listed);
    QStringList got;
    for (const SystemPort &p : mergeComPorts(portsClass, deviceMap))
        got << p.portName + u": "_s + p.description;
    QCOMPARE(got, listed);
}

// --check on Windows: Windows' lists say whether a port is there, opening it whether it is
// held, and the panel's status text follows from the code. The settings name COM1. (A free, a
// held and a missing port are checked for real under Wine, tst_portfinder_com.)
void TestPortListing::comCheck_data()
{
    QTest::addColumn<Ports>("listed");
    QTest::addColumn<Codes>("codes"); // what opening each port gives; 0 where not given
    QTest::addColumn<int>("number");  // 0: every port
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("problems");

    const Ports two{mapPort(u"COM3"_s, {}), classPort(u"COM12"_s, u"USB-SERIAL CH340 (COM12)"_s)};
    QTest::newRow("listed, yet gone when opened")
        << two << Codes{{3, 8002}} << 3
        << QStringList{u"COM3 is listed but cannot be found; the panel shows Invalid Port Number!"_s}
        << 1;
    QTest::newRow("not listed, yet it opens")
        << two << Codes{} << 9 << QStringList{u"COM9\n  Not in Windows' lists, yet it opens; no "_s}
        << 0;
    QTest::newRow("the driver refuses")
        << two << Codes{{12, 8031}} << 12
        << QStringList{u"its driver refused to open it; the panel shows COM Port comm-error! 8031"_s}
        << 1;
    QTest::newRow("every port and the settings' port, in order")
        << two << Codes{{1, 8002}, {12, 8005}} << 0
        << QStringList{u"COM1 (the settings' port: the defaults, no pwmpanel.ini yet)\n"
                       u"  In the way: Windows lists no COM1"_s,
                       u"there are\nCOM3\n  Present"_s, u"holds it: the panel shows Searching"_s,
                       u"\nCOM12  USB-SERIAL CH340 (COM12)\n  In the way: another program"_s,
                       u"\n2 things in the way.\n"_s}
        << 2;
}

void TestPortListing::comCheck()
{
    QFETCH(Ports, listed);
    QFETCH(Codes, codes);
    QFETCH(int, number);
    QFETCH(QStringList, present);
    QFETCH(int, problems);
    PanelSettings settings{u"C:/panel/pwmpanel.ini"_s, {}};
    settings.values.ucApp = u"ORVIX7"_s;
    const PortCheckReport report =
        checkComPorts(mergeComPorts(listed, {}), [&](int n) { return codes.value(n); }, settings,
                      number ? std::optional<int>(number) : std::nullopt);
    for (const QString &piece : present)
        QVERIFY2(report.text.contains(piece), qPrintable(u"missing: "_s + piece + u"\n"_s + report.text));
    QCOMPARE(report.problems, problems);
    QCOMPARE(checkExitStatus(report), problems ? 1 : 0);
}

// pwmports --find over ports/com3, a board answering ORVIX7, and ports/com12, one answering
// another name, or as `board12` says, with pwmpanel.ini beside them naming `settingsPort`.
// Status 143: it is sent SIGTERM once it has asked com12, and must leave it as it was. A port's
// line may go on with a note of a stale lock that another program left for a terminal of the
// same number, so the pieces end with the sentence.
void TestPortListing::findOverPtyLinks_data()
{
    QTest::addColumn<int>("settingsPort");
    QTest::addColumn<QStringList>("ports");
    QTest::addColumn<QStringList>("board12");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("status");
    const QStringList twelve{u"12"_s};
    const auto row = [](const char *name, const QStringList &ports, const QStringList &replies,
                        const QStringList &pieces, int status) {
        QTest::newRow(name) << 1 << ports << replies << pieces << status;
    };
    row("a board that misses two searches as it starts", twelve, {u"--first-replies"_s, u"-,-"_s},
        {u"answered ORVIX7: the board."_s}, 0);
    row("a stray byte before the name, then the name", twelve, {u"--first-replies"_s, u"?ORVIX7"_s},
        {u"answered ORVIX7: the board."_s}, 0);
    row("one garbled reply: no advice to change the name", twelve,
        {u"--first-replies"_s, u"?ORVIX7"_s, u"--silent"_s},
        {u"the name after other bytes, but never ORVIX7 alone, which the panel's search needs: "
         u"a board still starting, or noise on the line; ask again."_s,
         u"\nNo port answered ORVIX7.\n"_s},
        1);
    row("controls from a device shown as visible text, cut", twelve, // U+009B as C2 9B
        {u"--name"_s, u"\x1b]0;x\x07\u009b2J"_s + QString(70, u'A')},
        {u"answered \"\u241b]0;x\u2407\u00c2\\x9b2J"_s + QString(50, u'A') +
         u"... (80 characters in all)\", not ORVIX7"_s},
        1);
    row("a port named twice is asked once", {u"3"_s, u"3"_s}, {},
        {u"answered ORVIX7: the board."_s, u"\nThe board is on port 3."_s}, 0);
    row("a number that names no port", {u"0"_s}, {},
        {u"not asked: 0 names no port: use 1 to 96; pwmports --check 0 says more."_s}, 1);
    row("SIGTERM while asking: the port left as it was", twelve, {u"--silent"_s},
        {u"interrupted: closed, and left as it was.\nInterrupted: no port was left open.\n"_s},
        143);
    QTest::newRow("the board and another")
        << 1 << QStringList{u"3"_s, u"12"_s} << QStringList{}
        << QStringList{u"I? at 9600 baud, up to 4 times 2.5 s apart); the settings (pwmpanel.ini) "
                       u"expect ORVIX7.\n"_s,
                       u"answered ORVIX7: the board."_s,
                       u"answered \"KALDOR2\", not ORVIX7: a board with another name"_s,
                       u"The board is on port 3. In the panel press Set, enter 3 in the COM box "
                       u"and press SAVE-CLOSE; the first line of pwmpanel.ini then reads:\n"
                       u"  3,\"9600\",\"-\",0,\"ORVIX7\"\n"_s}
        << 0;
    QTest::newRow("the settings name it already")
        << 3 << QStringList{u"3"_s} << QStringList{}
        << QStringList{u"pwmpanel.ini names port 3 already: the panel finds the board there.\n"_s}
        << 0;
    QTest::newRow("only another name")
        << 1 << twelve << QStringList{}
        << QStringList{u"No port answered ORVIX7. If a board above that answered another name "_s}
        << 1;
}

void TestPortListing::findOverPtyLinks()
{
#ifndef Q_OS_LINUX
    QSKIP("pseudo-terminals and the virtual board are Linux matters");
#else
    QFETCH(int, settingsPort);
    QFETCH(QStringList, ports);
    QFETCH(QStringList, board12);
    QFETCH(QStringList, present);
    QFETCH(int, status);
    const QString board = qEnvironmentVariable("PWM_VIRTUAL_BOARD");
    const QString pwmports = qEnvironmentVariable("PWM_PORTS");
    QVERIFY2(!board.isEmpty() && !pwmports.isEmpty(), "PWM_VIRTUAL_BOARD and PWM_PORTS must be set");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile ini(dir.filePath(u"pwmpanel.ini"_s));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QByteArray::number(settingsPort) + ",\"9600\",\"-\",0,\"ORVIX7\"\r\n\"a\",\"b\"\r\n");
    ini.close();

    const QString link12 = dir.filePath(u"ports/com12"_s);
    const QString log = dir.filePath(u"log"_s);
    QProcess named;
    QProcess other;
    named.start(board, {u"--link"_s, dir.filePath(u"ports/com3"_s)});
    other.start(board, QStringList{u"--link"_s, link12, u"--log"_s, log} +
                           (board12.isEmpty() ? QStringList{u"--name"_s, u"KALDOR2"_s} : board12));
    for (QProcess *p : {&named, &other})
        QVERIFY(p->waitForReadyRead(5000)); // its start line: the link is there
    const auto state = [&] {                // the terminal's settings, and whether it is exclusive
        const int fd =
            ::open(QFile::encodeName(link12).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        int exclusive = -1;
        ::tcgetattr(fd, &t), ::ioctl(fd, TIOCGEXCL, &exclusive), ::close(fd);
        return std::tuple(t.c_cflag, t.c_lflag, t.c_iflag, exclusive);
    };
    const auto before = state();
    const QString lock = QFileInfo(link12).canonicalFilePath().mid(5).replace(u'/', u'_');

    QProcess find;
    find.start(pwmports, QStringList{u"--find"_s, u"--dir"_s, dir.path()} + ports);
    if (status == 143) { // once it has asked, the port open
        QTRY_VERIFY_WITH_TIMEOUT(QFile(log).size() > 0, 10000);
        find.terminate();
    }
    QVERIFY(find.waitForFinished(30000));
    const QString out = QString::fromUtf8(find.readAllStandardOutput());
    if (status == 143) // left as it was, and no lock of its own left
        QVERIFY(state() == before && !QFile::exists(u"/var/lock/LCK.."_s + lock));
    for (const QString &piece : present)
        QVERIFY2(out.contains(piece), qPrintable(u"missing: "_s + piece + u"\n"_s + out));
    QCOMPARE(find.exitCode(), status);
    for (QProcess *p : {&named, &other}) {
        p->terminate();
        QVERIFY(p->waitForFinished(3000));
    }
#endif
}

QTEST_GUILESS_MAIN(TestPortListing)
#include "tst_portlisting.moc"
