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
    std::function<void()> onGot; // the panel's handler, after the bytes are logged

    Rig()
    {
        serial.setRThreshold(1);
        // Bytes handed on in pieces, one after another, count as one.
        QObject::connect(&serial, &SerialControl::onComm, [this] {
            if (log.isEmpty() || !log.last().startsWith(u"got "_s))
                log << u"got "_s;
            log.last() += serial.inputAll();
            if (onGot)
                onGot();
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
    const auto row = [](const char *name, Script script, const QString &told, const QByteArray &line,
                        bool open) {
        QTest::newRow(name) << script << (told.isEmpty() ? QStringList() : told.split(u'|')) << line
                            << open;
    };
    const QString got = u"got ORVIX7\r"_s;
    const auto reply = [](Rig &r) { r.driver->feed("ORVIX7\r"); };
    const auto later = [](Rig &r) { r.driver->writeMode = Mode::Later; r.open(); };
    const auto abort = [](Rig &r) { r.driver->failRead(CommDriver::OperationAborted); r.settle(); };

    row("read over at once: bytes waiting at the open", [](Rig &r) {
        r.driver->incoming = "ORVIX7\r";
        r.open();
    }, got, {}, true);
    row("read over later, a line in two pieces", [](Rig &r) {
        r.open();
        r.driver->feed("ORV");
        r.settle();
        r.driver->feed("IX7\r");
    }, got, {}, true);
    row("the panel closes the port on a reply", [](Rig &r) {
        r.driver->incoming = "ORVIX7\r";
        r.onGot = [&r] { r.serial.setPortOpen(false); };
        r.open();
    }, got, {}, false);
    // The read's next notice comes only when the handler of this one has returned.
    row("bytes that come while the panel's handler runs events follow it", [](Rig &r) {
        r.driver->incoming = "ORVIX7\r";
        r.onGot = [&r] {
            r.onGot = nullptr;
            r.driver->feed("PV01=5\r");
            r.settle();
            r.log << u"back"_s;
        };
        r.open();
    }, u"got ORVIX7\r|back|got PV01=5\r"_s, {}, true);
    row("event seen before the status is final", [=](Rig &r) {
        r.open();
        r.driver->statusLag = 1;
        reply(r);
    }, got, {}, true);
    row("status final only after a pause", [=](Rig &r) {
        r.open();
        r.driver->statusLag = 100000;
        reply(r);
        if (!r.settle())
            r.log << u"spins"_s;
        QTRY_VERIFY(!r.log.isEmpty());
    }, got, {}, true);
    row("old notice while a read is on its way", [=](Rig &r) {
        r.open();
        r.driver->staleNotice(Op::Read);
        r.driver->staleNotice(Op::Write);
        r.settle();
        reply(r);
    }, got, {}, true);
    row("read aborted, the device still there", [=](Rig &r) {
        r.open();
        r.driver->failRead(CommDriver::OperationAborted);
        r.settle();
        reply(r);
    }, got, {}, true);
    row("read aborted once between bytes, and once again after a reopen", [=](Rig &r) {
        r.open();
        abort(r);
        r.driver->feed("O");
        r.settle();
        abort(r);
        r.serial.setPortOpen(false);
        r.open();
        abort(r);
        r.driver->feed("RVIX7\r");
    }, got, {}, true);
    row("read aborted twice in a row", [](Rig &r) {
        r.open();
        r.driver->failRead(CommDriver::OperationAborted);
        r.settle();
        r.driver->failRead(CommDriver::OperationAborted);
    }, u"lost 8034"_s, {}, false);
    // An unplug: the read fails (access denied, bad command, general failure, broken pipe, or
    // aborted), and the driver's queue can no longer be read.
    for (const unsigned long error : {5ul, 22ul, 31ul, 109ul, CommDriver::OperationAborted}) {
        const QByteArray name = "unplugged: the read fails with " + QByteArray::number(uint(error));
        row(name.constData(), [=](Rig &r) {
            r.open();
            r.driver->gone = true;
            r.driver->failRead(error);
        }, u"lost 8034"_s, {}, false);
    }
    row("unplugged while a reply comes: what was read goes first", [](Rig &r) {
        r.open();
        r.driver->feed("PV01=5\r");
        r.driver->gone = true;
    }, u"got P|lost 8034"_s, {}, false);

    row("write over at once", [](Rig &r) { r.open(); r.write("I?\r"); }, {}, "I?\r", true);
    row("writes over later, queued behind one another", [=](Rig &r) {
        later(r);
        for (const char *command : {"SV11=50\r", "PV01?\r", "SV21=7\r"})
            r.write(command);
        for (int i = 0; i < 3; ++i, r.settle())
            r.driver->finishWrite();
    }, {}, "SV11=50\rPV01?\rSV21=7\r", true);
    row("write split by the driver: the rest goes first", [](Rig &r) {
        r.open();
        r.driver->partialOnce = 3;
        r.write("SV11=50\r");
        r.write("PV01?\r");
    }, {}, "SV11=50\rPV01?\r", true);
    row("a long session: more than the queue's bound written in all", [](Rig &r) {
        r.open();
        for (int i = 0; i < 700; ++i, r.settle())
            r.write(QByteArray(99, 'x') + '\r');
    }, {}, (QByteArray(99, 'x') + '\r').repeated(700), true);
    // The time for a write's bytes at 12 bits a byte, rounded up to whole milliseconds.
    row("a write's time limit at each speed", [](Rig &r) {
        r.serial.setSettings(u"9600,n,8,1"_s);
        r.open();
        r.serial.setSettings(u"115200,n,8,1"_s);
        r.serial.setSettings(u"300,n,8,1"_s);
        for (const auto &[msPerByte, limit] : r.driver->timeouts)
            r.log << u"%1 ms a byte + %2 ms"_s.arg(msPerByte).arg(limit);
    }, u"2 ms a byte + 2000 ms|1 ms a byte + 2000 ms|40 ms a byte + 2000 ms"_s, {}, true);
    row("write that makes no progress", [](Rig &r) {
        r.driver->writeMode = Mode::Nothing;
        r.open();
        r.write("I?\r");
    }, u"refused"_s, {}, false);
    row("queue past its bound", [=](Rig &r) {
        later(r);
        for (qsizetype n = 0; n <= WinSerialControl::WriteQueueLimit + 100 && r.serial.portOpen(); n += 100)
            r.write(QByteArray(99, 'x') + '\r');
    }, u"output 8033"_s, {}, false);
    row("queue filled to its bound, one byte more refused; empty when opened again", [=](Rig &r) {
        later(r);
        r.write("I?\r");
        r.write(QByteArray(WinSerialControl::WriteQueueLimit, 'x'));
        r.log << u"full"_s;
        r.write("x");
        r.open();
        r.write("PV01?\r");
        r.settle();
        r.driver->finishWrite();
    }, u"full|output 8033"_s, "PV01?\r", true);
    row("write refused, the device still there", [](Rig &r) {
        r.open();
        r.driver->writeError = 87;
        r.write("I?\r");
    }, u"output 8033"_s, {}, false);
    row("write meets the unplugged device first", [](Rig &r) {
        r.open();
        r.driver->gone = true;
        r.write("PV01?\r");
    }, u"output 8034"_s, {}, false);
    row("unplugged in the middle of a write", [=](Rig &r) {
        later(r);
        r.write("SV21=7\r");
        r.write("PV02?\r");
        r.settle();
        r.driver->gone = true;
        r.driver->finishWrite(22);
    }, u"lost 8034"_s, {}, false);

    row("completion after a cancel is not reported", [=](Rig &r) {
        later(r);
        r.write("I?\r");
        r.serial.setPortOpen(false);
    }, {}, {}, false);
    row("slow cancel: buffers left to the driver, then reopened", [=](Rig &r) {
        later(r);
        r.write("I?\r");
        r.driver->cancelEnds = false;
        r.serial.setPortOpen(false);
        if (r.driver->abandoned.size() == 2 && r.driver->abandoned.first().constData() == r.driver->abandonedRead)
            r.log << u"left 2"_s;
        if (r.driver->abandonedRead)
            std::memcpy(r.driver->abandonedRead, "X", 1); // it ends late, into what it was given
        r.log << u"waited %1 ms"_s.arg(r.driver->cancelWait);
        r.open();
        reply(r);
    }, u"left 2|waited 200 ms|"_s + got, {}, true);
}

// Besides: no notifier keeps firing, closing never leaves an operation on its way without
// handing its buffer to the driver, and nothing is asked of a port not open.
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
    QCOMPARE(r.driver->refused, 0);
}

QTEST_GUILESS_MAIN(TestWinSerialOrders)
#include "tst_winserialorders.moc"
