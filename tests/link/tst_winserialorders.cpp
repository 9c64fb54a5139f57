// The Windows serial layer's logic against a scripted driver: every order in which Windows'
// drivers and Wine end operations, and the failures of an unplugged device, a stuck write and
// a slow cancel, none of which Wine produces on a pseudo-terminal.
#include "link/winserialcontrol.h"
#include "support/scripteddriver.h"

#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;
using Op = CommDriver::Op;
using Mode = ScriptedDriver::WriteMode;

namespace {

// The layer on a scripted driver, and a log of what it told the panel.
struct Rig {
    ScriptedDriver *driver = new ScriptedDriver;
    WinSerialControl serial{PortNaming({}), std::unique_ptr<CommDriver>(driver)};
    QStringList log;

    Rig()
    {
        serial.setRThreshold(1);
        // Bytes handed on in pieces, one after another, count as one.
        QObject::connect(&serial, &SerialControl::onComm, [this] {
            if (log.isEmpty() || !log.last().startsWith(u"got "_s))
                log << u"got "_s;
            log.last() += serial.inputAll();
        });
        QObject::connect(&serial, &SerialControl::linkLost, [this](int code) { log << u"lost %1"_s.arg(code); });
        QObject::connect(&serial, &SerialControl::writeFailed, [this] { log << u"refused"_s; });
    }
    void open()
    {
        if (const int rc = serial.setPortOpen(true))
            log << u"open %1"_s.arg(rc);
    }
    void write(const QByteArray &bytes)
    {
        if (const int rc = serial.output(bytes))
            log << u"output %1"_s.arg(rc);
    }
    // Runs the notices until none is left; a notifier that keeps firing fails it.
    bool settle()
    {
        for (int i = 0; i < 1000; ++i) {
            if (!driver->anyPosted())
                return true;
            QCoreApplication::processEvents();
        }
        return false;
    }
};

using Script = std::function<void(Rig &)>;

} // namespace

Q_DECLARE_METATYPE(Script)

class TestWinSerialOrders : public QObject
{
    Q_OBJECT
private slots:
    void completionOrders_data();
    void completionOrders();
};

// Each row: what the device does, what the panel is told (and the codes output() returns),
// what reached the line, and whether the port is open at the end.
void TestWinSerialOrders::completionOrders_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QStringList>("told");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("open");

    const auto reply = [](Rig &r) { r.driver->feed("ORVIX7\r"); };
    QTest::newRow("read over at once: bytes waiting at the open") << Script([](Rig &r) {
        r.driver->incoming = "ORVIX7\r";
        r.open();
    }) << QStringList{u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("read over later, a line in two pieces") << Script([](Rig &r) {
        r.open();
        r.settle();
        r.driver->feed("ORV");
        r.settle();
        r.driver->feed("IX7\r");
    }) << QStringList{u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("event seen before the status is final") << Script([=](Rig &r) {
        r.open();
        r.driver->statusLag = 1;
        reply(r);
    }) << QStringList{u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("status final only after a pause") << Script([=](Rig &r) {
        r.open();
        r.driver->statusLag = 100000;
        reply(r);
        if (!r.settle())
            r.log << u"spins"_s;
        QTRY_VERIFY(!r.log.isEmpty());
    }) << QStringList{u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("old notice while a read is on its way") << Script([=](Rig &r) {
        r.open();
        r.driver->staleNotice(Op::Read);
        r.driver->staleNotice(Op::Write);
        r.settle();
        reply(r);
    }) << QStringList{u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("read aborted, the device still there") << Script([=](Rig &r) {
        r.open();
        r.driver->failRead(CommDriver::OperationAborted);
        r.settle();
        reply(r);
    }) << QStringList{u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("read aborted twice in a row") << Script([](Rig &r) {
        r.open();
        r.driver->failRead(CommDriver::OperationAborted);
        r.settle();
        r.driver->failRead(CommDriver::OperationAborted);
    }) << QStringList{u"lost 8034"_s} << QByteArray() << false;
    for (const unsigned long error : {5ul, 22ul, 31ul, 109ul}) {
        QTest::addRow("unplugged: the read fails with %lu", error) << Script([=](Rig &r) {
            r.open();
            r.driver->gone = true;
            r.driver->failRead(error);
        }) << QStringList{u"lost 8034"_s} << QByteArray() << false;
    }
    QTest::newRow("unplugged: aborted, and the queue cannot be read") << Script([](Rig &r) {
        r.open();
        r.driver->gone = true;
        r.driver->failRead(CommDriver::OperationAborted);
    }) << QStringList{u"lost 8034"_s} << QByteArray() << false;
    QTest::newRow("unplugged while a reply comes: what was read goes first") << Script([](Rig &r) {
        r.open();
        r.driver->feed("PV01=5\r");
        r.driver->gone = true;
    }) << QStringList{u"got P"_s, u"lost 8034"_s} << QByteArray() << false;

    QTest::newRow("write over at once") << Script([](Rig &r) {
        r.open();
        r.write("I?\r");
    }) << QStringList() << QByteArray("I?\r") << true;
    QTest::newRow("writes over later, queued behind one another") << Script([](Rig &r) {
        r.driver->writeMode = Mode::Later;
        r.open();
        r.write("SV11=50\r");
        r.write("PV01?\r");
        r.write("SV21=7\r");
        for (int i = 0; i < 3; ++i) {
            r.settle();
            r.driver->finishWrite();
        }
    }) << QStringList() << QByteArray("SV11=50\rPV01?\rSV21=7\r") << true;
    QTest::newRow("write split by the driver: the rest goes first") << Script([](Rig &r) {
        r.open();
        r.driver->partialOnce = 3;
        r.write("SV11=50\r");
        r.write("PV01?\r");
    }) << QStringList() << QByteArray("SV11=50\rPV01?\r") << true;
    QTest::newRow("write that makes no progress") << Script([](Rig &r) {
        r.driver->writeMode = Mode::Nothing;
        r.open();
        r.write("I?\r");
    }) << QStringList{u"refused"_s} << QByteArray() << false;
    QTest::newRow("queue past its bound") << Script([](Rig &r) {
        r.driver->writeMode = Mode::Later;
        r.open();
        for (qsizetype n = 0; n <= WinSerialControl::WriteQueueLimit + 100 && r.serial.portOpen(); n += 100)
            r.write(QByteArray(99, 'x') + '\r');
    }) << QStringList{u"output 8033"_s} << QByteArray() << false;
    QTest::newRow("write refused, the device still there") << Script([](Rig &r) {
        r.open();
        r.driver->writeError = 87;
        r.write("I?\r");
    }) << QStringList{u"output 8033"_s} << QByteArray() << false;
    QTest::newRow("write meets the unplugged device first") << Script([](Rig &r) {
        r.open();
        r.driver->gone = true;
        r.write("PV01?\r");
    }) << QStringList{u"output 8034"_s} << QByteArray() << false;
    QTest::newRow("unplugged in the middle of a write") << Script([](Rig &r) {
        r.driver->writeMode = Mode::Later;
        r.open();
        r.write("SV21=7\r");
        r.write("PV02?\r");
        r.settle();
        r.driver->gone = true;
        r.driver->finishWrite(22);
    }) << QStringList{u"lost 8034"_s} << QByteArray() << false;

    QTest::newRow("completion after a cancel is not reported") << Script([](Rig &r) {
        r.driver->writeMode = Mode::Later;
        r.open();
        r.write("I?\r");
        r.serial.setPortOpen(false);
    }) << QStringList() << QByteArray() << false;
    QTest::newRow("slow cancel: buffers left to the driver, then reopened") << Script([=](Rig &r) {
        r.driver->writeMode = Mode::Later;
        r.open();
        r.write("I?\r");
        r.driver->cancelEnds = false;
        r.serial.setPortOpen(false);
        if (r.driver->abandoned.size() == 2 && r.driver->abandoned.first().constData() == r.driver->abandonedRead)
            r.log << u"left 2"_s;
        std::memcpy(r.driver->abandonedRead, "X", 1); // it ends late, into what it was given
        r.log << u"waited %1 ms"_s.arg(r.driver->cancelWait);
        r.open();
        reply(r);
    }) << QStringList{u"left 2"_s, u"waited 200 ms"_s, u"got ORVIX7\r"_s} << QByteArray() << true;
    QTest::newRow("claim refused: access denied") << Script([](Rig &r) {
        r.driver->openError = CommDriver::AccessDenied;
        r.open();
    }) << QStringList{u"open 8005"_s} << QByteArray() << false;
    QTest::newRow("claimed by another panel") << Script([](Rig &r) {
        r.driver->openError = CommDriver::AlreadyExists;
        r.open();
    }) << QStringList{u"open 8005"_s} << QByteArray() << false;
}

// Besides: no notifier keeps firing, and closing never leaves an operation on its way without
// handing its buffer to the driver.
void TestWinSerialOrders::completionOrders()
{
    QFETCH(Script, script);
    QFETCH(QStringList, told);
    QFETCH(QByteArray, line);
    QFETCH(bool, open);

    Rig r;
    script(r);
    QVERIFY2(r.settle(), "a notifier keeps firing");
    QCOMPARE(r.log, told);
    QCOMPARE(r.driver->device, line);
    QCOMPARE(r.serial.portOpen(), open);
    QVERIFY(!r.driver->closedWithOperationOnItsWay);
}

QTEST_GUILESS_MAIN(TestWinSerialOrders)
#include "tst_winserialorders.moc"
