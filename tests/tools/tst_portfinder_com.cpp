// pwmports.exe on Windows' own port lists, on the COM ports tests/wine/withboards maps: COM3 to
// a board answering ORVIX7, COM12 to one answering KALDOR2; COM5 is mapped to nothing. The
// settings beside it name port 12. A port is held by this test through the panel's own serial
// layer, as a running panel holds it.
#include "link/platformserialcontrol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestPortFinderCom : public QObject
{
    Q_OBJECT
private slots:
    void commandLines_data();
    void commandLines();
};

void TestPortFinderCom::commandLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("holdCom12");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    QTest::addColumn<int>("status");

    QTest::newRow("list")
        << QStringList{} << false
        << QStringList{u"\n   3  COM3 "_s, u"\n  12  COM12 "_s, u"; the settings' port (pwmpanel.ini)\n"_s}
        << QStringList{u"COM5"_s, u"is not there"_s} << 0;
    QTest::newRow("check a free port")
        << QStringList{u"--check"_s, u"12"_s} << false
        << QStringList{u"COM12  "_s, u" (the settings' port: pwmpanel.ini)\n  Present, and no program "
                       u"holds it: the panel shows Searching for uc code..., then Found: ORVIX7"_s,
                       u"\nNothing found in the way."_s}
        << QStringList{} << 0;
    QTest::newRow("check a held port")
        << QStringList{u"--check"_s, u"12"_s} << true
        << QStringList{u"  In the way: another program holds it (a second panel, a serial monitor, "
                       u"an upload still running); the panel shows Port already open!"_s}
        << QStringList{u"no program holds it"_s} << 1;
    QTest::newRow("check a port that is not there")
        << QStringList{u"--check"_s, u"5"_s} << false
        << QStringList{u"COM5\n  In the way: Windows lists no COM5 (not plugged in, or another "
                       u"number); the panel shows Invalid Port Number!"_s}
        << QStringList{} << 1;
    // The ports named: asking every port would also write to COM1, which Wine maps to the
    // host's /dev/ttyS0 by itself.
    QTest::newRow("find")
        << QStringList{u"--find"_s, u"3"_s, u"12"_s} << false
        << QStringList{u"\n  COM3   answered ORVIX7: the board.\n"_s,
                       u"\n  COM12  answered \"KALDOR2\", not ORVIX7: a board with another name"_s,
                       u"The board is on port 3."_s}
        << QStringList{u"COM5"_s} << 0;
    QTest::newRow("find skips a held port")
        << QStringList{u"--find"_s, u"12"_s} << true
        << QStringList{u"  COM12  not asked: another program holds it"_s}
        << QStringList{u"KALDOR2"_s} << 1;
}

void TestPortFinderCom::commandLines()
{
    QFETCH(QStringList, args);
    QFETCH(bool, holdCom12);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QFETCH(int, status);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile ini(dir.filePath(u"pwmpanel.ini"_s));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("12,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n");
    ini.close();

    PlatformSerialControl holder(PortNaming({}));
    if (holdCom12) {
        QCOMPARE(holder.setCommPort(12), 0);
        QCOMPARE(holder.setPortOpen(true), 0);
    }

    QProcess ports;
    ports.start(QCoreApplication::applicationDirPath() + u"/pwmports.exe"_s,
                args + QStringList{u"--dir"_s, QDir::toNativeSeparators(dir.path())});
    QVERIFY(ports.waitForFinished(60000));
    const QString out =
        QString::fromUtf8(ports.readAllStandardOutput()).replace(u"\r\n"_s, u"\n"_s);
    for (const QString &piece : present)
        QVERIFY2(out.contains(piece), qPrintable(u"missing: "_s + piece + u"\n"_s + out));
    for (const QString &piece : absent)
        QVERIFY2(!out.contains(piece), qPrintable(u"unexpected: "_s + piece + u"\n"_s + out));
    QCOMPARE(ports.exitCode(), status);
}

QTEST_GUILESS_MAIN(TestPortFinderCom)
#include "tst_portfinder_com.moc"
