// The serial layer on real devices: its failure codes and a pseudo-terminal to the board.
#include "link/qtserialcontrol.h"
#include "link/serialnode.h"
#include "support/boardprocess.h"

#include <QDir>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A pseudo-terminal whose board end the test holds itself: it reads what the port was set to
// (on Linux the master reports the slave's termios) and reads the bytes only when it chooses.
struct Pty {
    int master = -1;

    explicit Pty(const QString &link)
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        if (!QFile::link(QString::fromLocal8Bit(::ptsname(master)), link))
            ::close(std::exchange(master, -1));
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    bool ok() const { return master >= 0; }
    termios settings() const
    {
        termios t{};
        ::tcgetattr(master, &t);
        return t;
    }
    QByteArray readAvailable() const
    {
        QByteArray out;
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            out.append(buf, n);
        return out;
    }
};

} // namespace

class TestQtSerialControl : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void propertyChecks();
    void missingDevicesAreNoSuchPort_data();
    void missingDevicesAreNoSuchPort();
    void portHeldElsewhereIsInUse();
    void talksToTheBoard();
    void vanishedBoardClosesOnceWithoutSpinning();
    void nodeWithoutChipIsNoSuchPort();
    void refusedWriteFailsTheWrite();
    void lineSettingsReachThePort_data();
    void lineSettingsReachThePort();
    void stalledReaderLosesNothing();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString link(int n) const { return m_dir->filePath(u"ports/com%1"_s.arg(n)); }
};

void TestQtSerialControl::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir(m_dir->path()).mkpath(u"ports"_s));
}

void TestQtSerialControl::propertyChecks()
{
    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setCommPort(0), SerialCode::BadPropertyValue);
    QCOMPARE(s.commPort(), 1);
    QCOMPARE(s.setSettings(u"fast,n,8,1"_s), SerialCode::BadSettings);
    QCOMPARE(s.setSettings(u"9600,N,8,1"_s), SerialCode::Ok);
    QCOMPARE(s.output("x\r"), SerialCode::PortNotOpen);
    QCOMPARE(s.inBufferCount(), 0);
    QVERIFY(s.input().isEmpty());
}

void TestQtSerialControl::missingDevicesAreNoSuchPort_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("outside the table") << u"none"_s;
    QTest::newRow("dangling link") << u"dangling"_s;
    QTest::newRow("regular file") << u"file"_s;
}

void TestQtSerialControl::missingDevicesAreNoSuchPort()
{
    QFETCH(QString, what);
    QtSerialControl s{PortNaming(m_dir->path())};
    if (what == u"dangling")
        QVERIFY(QFile::link(m_dir->filePath(u"no-such-device"_s), link(200)));
    if (what == u"file") {
        QFile f(link(200));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(s.setCommPort(200), SerialCode::Ok);
    QCOMPARE(s.setPortOpen(true), SerialCode::NoSuchPort);
    QVERIFY(!s.portOpen());
}

void TestQtSerialControl::portHeldElsewhereIsInUse()
{
    BoardProcess board(link(1), m_dir->filePath(u"log"_s));
    QVERIFY(board.started());
    QSerialPort holder(QFileInfo(link(1)).canonicalFilePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));

    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setPortOpen(true), SerialCode::PortInUse);
    holder.close();
    QCOMPARE(s.setPortOpen(true), SerialCode::Ok);
    QCOMPARE(s.setCommPort(2), SerialCode::NotWhileOpen);
}

void TestQtSerialControl::talksToTheBoard()
{
    BoardProcess board(link(1), m_dir->filePath(u"log"_s), {u"--eol"_s, u"crlf"_s});
    QVERIFY(board.started());
    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setSettings(u"115200,n,8,1"_s), SerialCode::Ok);
    QCOMPARE(s.setPortOpen(true), SerialCode::Ok);
    // Pseudo-terminals have no modem lines; holding them off must still succeed.
    QCOMPARE(s.setDTREnable(false), SerialCode::Ok);
    QCOMPARE(s.setRTSEnable(false), SerialCode::Ok);
    QCOMPARE(s.setRThreshold(1), SerialCode::Ok);
    QCOMPARE(s.setInputLen(1), SerialCode::Ok);
    QSignalSpy events(&s, &SerialControl::onComm);
    QCOMPARE(s.output("I?\r"), SerialCode::Ok);

    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            while (s.inBufferCount() > 0) {
                const QByteArray one = s.input();
                if (one.size() != 1)
                    return false;
                got += one;
            }
            return got == "ORVIX7\r\n";
        }(),
        3000);
    QVERIFY(events.size() >= 1);
    QCOMPARE(s.commEvent(), int(SerialControl::EventReceive));
    QCOMPARE(board.commands(), QStringList{u"I?"_s});
}

void TestQtSerialControl::vanishedBoardClosesOnceWithoutSpinning()
{
    auto board = std::make_unique<BoardProcess>(link(1), m_dir->filePath(u"log"_s));
    QVERIFY(board->started());
    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setPortOpen(true), SerialCode::Ok);
    QSignalSpy lost(&s, &SerialControl::linkLost);
    board->kill();

    const std::clock_t cpuBefore = std::clock();
    QTRY_COMPARE_WITH_TIMEOUT(lost.size(), 1, 3000);
    QCOMPARE(lost.at(0).at(0).toInt(), SerialCode::LinkLost);
    QVERIFY(!s.portOpen());
    QTest::qWait(500);
    QCOMPARE(lost.size(), 1);
    const double cpuSeconds = double(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    QVERIFY2(cpuSeconds < 0.4, qPrintable(u"busy after the board vanished: %1 s CPU"_s.arg(cpuSeconds)));
    QCOMPARE(s.output("I?\r"), SerialCode::PortNotOpen);
}

// An unfitted ttyS node opens, but has no chip behind it: no usable port, and the node is
// let go again so that nothing holds it.
void TestQtSerialControl::nodeWithoutChipIsNoSuchPort()
{
    BoardProcess board(link(1), m_dir->filePath(u"log"_s));
    QVERIFY(board.started());
    qintptr asked = -1;
    QtSerialControl chipless{PortNaming(m_dir->path()), [&](qintptr handle) {
                                 asked = handle;
                                 return false;
                             }};
    QCOMPARE(chipless.setPortOpen(true), SerialCode::NoSuchPort);
    QVERIFY(asked >= 0);
    QVERIFY(!chipless.portOpen());

    // The real check lets a pseudo-terminal through, and the node was released.
    QCOMPARE(SerialNode::probe(QFileInfo(link(1)).canonicalFilePath()), std::optional<bool>(true));
    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setPortOpen(true), SerialCode::Ok);
    QCOMPARE(SerialNode::probe(m_dir->filePath(u"no-such-node"_s)), std::nullopt);
}

// The board vanishes and a command is written before anything else runs: the write itself
// fails, and the port is closed without a link-lost report.
void TestQtSerialControl::refusedWriteFailsTheWrite()
{
    auto board = std::make_unique<BoardProcess>(link(1), m_dir->filePath(u"log"_s));
    QVERIFY(board->started());
    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setPortOpen(true), SerialCode::Ok);
    QSignalSpy lost(&s, &SerialControl::linkLost);
    QSignalSpy refused(&s, &SerialControl::writeFailed);
    board->kill();

    QCOMPARE(s.output("SV11=50\r"), SerialCode::WriteFailed);
    QVERIFY(!s.portOpen());
    QTest::qWait(200);
    QCOMPARE(lost.size(), 0);
    QCOMPARE(refused.size(), 0);
    QCOMPARE(s.output("PV01?\r"), SerialCode::PortNotOpen);
}

// What the settings text asks for is what the device is set to, whether it is given before
// the open or while the port is open. A pseudo-terminal shows the speed, the stop bits and the
// parity's kind (odd, mark or space); it drops the parity enable bit, refuses even parity, takes
// 8 data bits only, and refuses parity once more after it was turned off, hence two opens.
void TestQtSerialControl::lineSettingsReachThePort_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<uint>("framing"); // PARODD, CMSPAR and CSTOPB of c_cflag
    QTest::newRow("none") << u"9600,n,8,1"_s << uint(B9600) << 0u;
    QTest::newRow("none, 2 stop bits") << u"19200,N,8,2"_s << uint(B19200) << uint(CSTOPB);
    QTest::newRow("odd") << u"4800,o,8,1"_s << uint(B4800) << uint(PARODD);
    QTest::newRow("mark") << u"1200,m,8,1"_s << uint(B1200) << uint(CMSPAR | PARODD);
    QTest::newRow("space, 2 stop bits")
        << u"115200,s,8,2"_s << uint(B115200) << uint(CMSPAR | CSTOPB);
}

void TestQtSerialControl::lineSettingsReachThePort()
{
    QFETCH(QString, settings);
    QFETCH(uint, speed);
    QFETCH(uint, framing);
    Pty pty(link(1));
    QVERIFY(pty.ok());
    const auto setTo = [&] {
        const termios t = pty.settings();
        return ::cfgetospeed(&t) == speed && ::cfgetispeed(&t) == speed
               && (t.c_cflag & (PARODD | CMSPAR | CSTOPB)) == framing;
    };
    {
        QtSerialControl before{PortNaming(m_dir->path())};
        QCOMPARE(before.setSettings(settings), SerialCode::Ok);
        QCOMPARE(before.setPortOpen(true), SerialCode::Ok);
        QVERIFY(setTo());
    }
    QtSerialControl whileOpen{PortNaming(m_dir->path())};
    QCOMPARE(whileOpen.setSettings(u"300,n,8,1"_s), SerialCode::Ok);
    QCOMPARE(whileOpen.setPortOpen(true), SerialCode::Ok);
    QVERIFY(!setTo());
    QCOMPARE(whileOpen.setSettings(settings), SerialCode::Ok);
    QVERIFY(setTo());
}

// The board stops reading until the kernel's queue to it is full, then reads again. A full
// queue is a stall, not a failure: the port stays open and every byte arrives, in order.
void TestQtSerialControl::stalledReaderLosesNothing()
{
    Pty pty(link(1));
    QVERIFY(pty.ok());
    QtSerialControl s{PortNaming(m_dir->path())};
    QCOMPARE(s.setPortOpen(true), SerialCode::Ok);
    QSignalSpy lost(&s, &SerialControl::linkLost);
    QSignalSpy refused(&s, &SerialControl::writeFailed);

    QByteArray sent;
    for (int i = 0; sent.size() < 128 * 1024; ++i) { // several times what the kernel queues
        const QByteArray command = "SV11=" + QByteArray::number(i) + '\r';
        QCOMPARE(s.output(command), SerialCode::Ok);
        sent += command;
        if (i % 4096 == 0)
            QTest::qWait(1); // let the port try to write while nothing is read
    }
    QVERIFY(s.portOpen());

    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += pty.readAvailable(), got.size() >= sent.size()), 20000);
    QCOMPARE(got.size(), sent.size());
    QVERIFY(got == sent);
    QVERIFY(s.portOpen());
    QCOMPARE(lost.size(), 0);
    QCOMPARE(refused.size(), 0);
}

QTEST_GUILESS_MAIN(TestQtSerialControl)
#include "tst_qtserialcontrol.moc"
