// The port finder's listing, over a made-up set of devices.
#include "portlisting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Devices that exist, and what probing each would find (nullopt: cannot be opened).
struct FakeSystem {
    QHash<QString, std::optional<bool>> devices;
    QList<SystemPort> reported;
    mutable QStringList probed;

    PortSources sources(const QString &folder = {}) const
    {
        PortSources s{PortNaming(folder), reported, {}, {}, {}};
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

// Each present number's line, as the user reads it.
void TestPortListing::whatIsThere_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("line");
    QTest::newRow("ttyS with a UART") << 1 << u"   1  /dev/ttyS0           a UART answers"_s;
    QTest::newRow("unfitted ttyS") << 2 << u"   2  /dev/ttyS1           no UART behind it"_s;
    QTest::newRow("ttyS that cannot be opened")
        << 3 << u"   3  /dev/ttyS2           cannot be opened"_s;
    QTest::newRow("USB adapter") << 33
                                 << u"  33  /dev/ttyUSB0         USB Serial; made by Maker; USB "
                                    u"0403:6001; not opened (opening resets most boards)"_s;
    QTest::newRow("USB board with a serial number")
        << 68
        << u"  68  /dev/ttyACM3         Board; made by Other maker; USB 1234:0043; serial "
           u"number A1B2; not opened (opening resets most boards)"_s;
}

void TestPortListing::whatIsThere()
{
#ifdef Q_OS_WIN
    QSKIP("device nodes are a Linux matter");
#endif
    QFETCH(int, number);
    QFETCH(QString, line);
    const FakeSystem f = linuxMachine();
    const QList<PortEntry> list = listPorts(f.sources(), false);
    const PortEntry *e = entry(list, number);
    QVERIFY(e);
    QCOMPARE(formatPorts({*e}).split(u'\n').value(1), line);
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

QTEST_GUILESS_MAIN(TestPortListing)
#include "tst_portlisting.moc"
