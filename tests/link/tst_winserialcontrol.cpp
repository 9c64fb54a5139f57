// The Windows serial layer on Wine's driver: what each Win32 failure means, and on COM1, which
// tests/wine/withboards maps to a virtual board, what the driver is set to, writes in order and
// a connected port that costs nothing while idle. (Its logic under
// every completion order is tst_winserialorders, on a scripted driver.)
// (The whole panel's run over this layer, tst_endtoend_com, finds the board, sees a port
// missing, held and vanishing.)
#include "link/winserialcontrol.h"
#include "support/boardlog.h"
#include "support/cputime.h"

#include <QTest>

#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

// Opens COM1 with the settings the panel uses; the first open of a test may wait for Wine.
bool openBoard(WinSerialControl &s)
{
    return s.setPortOpen(true) == SerialCode::Ok
           && s.setDTREnable(false) == SerialCode::Ok && s.setRTSEnable(false) == SerialCode::Ok
           && s.setRThreshold(1) == SerialCode::Ok && s.setInputLen(1) == SerialCode::Ok;
}

} // namespace

class TestWinSerialControl : public QObject
{
    Q_OBJECT
private slots:
    void win32FailuresAsCodes_data();
    void win32FailuresAsCodes();
    void lineSettingsReachThePort_data();
    void lineSettingsReachThePort();
    void writesGoOutWholeAndInOrder();
    void idleWhileConnectedCostsNothing();

private:
    BoardLog m_board1{qEnvironmentVariable("PWM_BOARD1_LOG")};
};

void TestWinSerialControl::win32FailuresAsCodes_data()
{
    QTest::addColumn<uint>("error");
    QTest::addColumn<int>("code");
    QTest::newRow("no such file") << uint(ERROR_FILE_NOT_FOUND) << SerialCode::NoSuchPort;
    QTest::newRow("no such path") << uint(ERROR_PATH_NOT_FOUND) << SerialCode::NoSuchPort;
    QTest::newRow("no such device") << uint(ERROR_DEV_NOT_EXIST) << SerialCode::NoSuchPort;
    QTest::newRow("held: sharing violation") << uint(ERROR_SHARING_VIOLATION) << SerialCode::PortInUse;
    QTest::newRow("held: access denied") << uint(ERROR_ACCESS_DENIED) << SerialCode::PortInUse;
    QTest::newRow("busy") << uint(ERROR_BUSY) << SerialCode::PortInUse;
    QTest::newRow("claimed by another panel") << uint(ERROR_ALREADY_EXISTS) << SerialCode::PortInUse;
    QTest::newRow("anything else") << uint(ERROR_GEN_FAILURE) << SerialCode::OpenFailed;
}

void TestWinSerialControl::win32FailuresAsCodes()
{
    QFETCH(uint, error);
    QFETCH(int, code);
    QCOMPARE(WinSerialControl::openFailureCode(error), code);
}

// What the settings text asks for is what the driver holds, given before the open or while the
// port is open, without handshake. (A pseudo-terminal under Wine keeps the speed and the stop
// bits only, and shows no control lines.)
void TestWinSerialControl::lineSettingsReachThePort_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("the board's") << u"9600,n,8,1"_s << 9600 << int(LineSettings::StopBits::One);
    QTest::newRow("fast, 2 stop bits") << u"115200,N,8,2"_s << 115200 << int(LineSettings::StopBits::Two);
    QTest::newRow("slow, blanks") << u" 300 , n , 8 , 1 "_s << 300 << int(LineSettings::StopBits::One);
}

void TestWinSerialControl::lineSettingsReachThePort()
{
    QFETCH(QString, settings);
    QFETCH(int, speed);
    QFETCH(int, stopBits);
    const auto setTo = [&](const WinSerialControl &s) {
        const std::optional<CommDriver::Line> d = s.driverLine();
        return d && d->line.baud == speed && int(d->line.stopBits) == stopBits && d->line.dataBits == 8
               && d->line.parity == LineSettings::Parity::None && !d->flowControl;
    };
    {
        WinSerialControl before{PortNaming({})};
        QCOMPARE(before.setSettings(settings), SerialCode::Ok);
        QVERIFY(openBoard(before));
        QVERIFY(setTo(before));
    }
    WinSerialControl whileOpen{PortNaming({})};
    QCOMPARE(whileOpen.setSettings(u"2400,n,8,1"_s), SerialCode::Ok);
    QVERIFY(openBoard(whileOpen));
    QVERIFY(!setTo(whileOpen));
    QCOMPARE(whileOpen.setSettings(settings), SerialCode::Ok);
    QCOMPARE(whileOpen.setHandshaking(0), SerialCode::Ok);
    QVERIFY(setTo(whileOpen));
}

// Many commands handed over faster than the line takes them: each whole, in order.
void TestWinSerialControl::writesGoOutWholeAndInOrder()
{
    WinSerialControl s{PortNaming({})};
    QCOMPARE(s.setSettings(u"115200,n,8,1"_s), SerialCode::Ok);
    QVERIFY(openBoard(s));
    const qsizetype before = m_board1.commands().size();
    QStringList sent;
    for (int i = 0; i < 300; ++i) {
        const QString command = u"SV11=%1"_s.arg(i % 101);
        QCOMPARE(s.output(command.toLatin1() + '\r'), SerialCode::Ok);
        sent << command;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_board1.commands().size() - before, sent.size(), 10000);
    QCOMPARE(m_board1.commands().mid(before), sent);
    QVERIFY(s.portOpen());
}

// A connected port with nothing coming: the read on its way costs nothing while it waits.
void TestWinSerialControl::idleWhileConnectedCostsNothing()
{
    WinSerialControl s{PortNaming({})};
    QVERIFY(openBoard(s));
    QByteArray received;
    connect(&s, &SerialControl::onComm, this, [&] { received += s.inputAll(); });
    QCOMPARE(s.output("I?\r"), SerialCode::Ok);
    QTRY_VERIFY_WITH_TIMEOUT(received.contains("ORVIX7\r"), 10000);
    const double before = processCpuSeconds();
    QTest::qWait(10000);
    const double cpu = processCpuSeconds() - before;
    qInfo("%.3f s of CPU in 10 s connected and idle", cpu);
    QVERIFY2(cpu < 0.5, qPrintable(u"%1 s of CPU in 10 s connected and idle"_s.arg(cpu)));
    QVERIFY(s.portOpen());
}

QTEST_GUILESS_MAIN(TestWinSerialControl)
#include "tst_winserialcontrol.moc"
