// The program's command line: --record FILE, --share tcp:PORT and pty:PATH, and --help;
// anything else is refused.
#include "shell/commandline.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parses_data();
    void parses();
    void parsesShare_data();
    void parsesShare();
};

void TestCommandLine::parses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("record");
    QTest::addColumn<bool>("help");
    QTest::addColumn<bool>("refused");

    QTest::newRow("nothing") << QStringList{} << QString() << false << false;
    QTest::newRow("--record FILE") << QStringList{u"--record"_s, u"run 1.csv"_s} << u"run 1.csv"_s << false << false;
    QTest::newRow("--record=FILE") << QStringList{u"--record=/tmp/a,b.csv"_s} << u"/tmp/a,b.csv"_s << false << false;
    QTest::newRow("--help") << QStringList{u"--help"_s} << QString() << true << false;
    QTest::newRow("-h") << QStringList{u"-h"_s} << QString() << true << false;
    QTest::newRow("--record without a file") << QStringList{u"--record"_s} << QString() << false << true;
    QTest::newRow("--record with an empty name") << QStringList{u"--record="_s} << QString() << false << true;
    QTest::newRow("an unknown option") << QStringList{u"--port"_s, u"3"_s} << QString() << false << true;
    QTest::newRow("an unknown option alone") << QStringList{u"--frobnicate"_s} << QString() << false << true;
    QTest::newRow("--record twice") << QStringList{u"--record"_s, u"a.csv"_s, u"--record"_s, u"b.csv"_s} << u""_s << false << true;
    QTest::newRow("Qt's own options are Qt's") << QStringList{u"-platform"_s, u"offscreen"_s, u"-style=fusion"_s, u"-reverse"_s, u"--record"_s, u"r.csv"_s} << u"r.csv"_s << false << false;
    QTest::newRow("--help after Qt's options") << QStringList{u"-style"_s, u"fusion"_s, u"--help"_s} << QString() << true << false;
    QTest::newRow("a stray argument") << QStringList{u"board.csv"_s} << QString() << false << true;
}

void TestCommandLine::parses()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, record);
    QFETCH(bool, help);
    QFETCH(bool, refused);

    const CommandLine line = CommandLine::parse(QStringList{u"pwmpanel"_s} + arguments);
    QCOMPARE(line.recordPath, record);
    QCOMPARE(line.help, help);
    QCOMPARE(!line.error.isEmpty(), refused);
}

void TestCommandLine::parsesShare_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("share"); // "tcp:PORT pty:PATH" as understood; empty: refused
    QTest::newRow("tcp:PORT") << QStringList{u"--share"_s, u"tcp:5000"_s} << u"tcp:5000"_s;
    QTest::newRow("=tcp:0, any free port") << QStringList{u"--share=tcp:0"_s} << u"tcp:0"_s;
    QTest::newRow("tcp:65536") << QStringList{u"--share"_s, u"tcp:65536"_s} << QString();
    QTest::newRow("tcp: without a port") << QStringList{u"--share"_s, u"tcp:"_s} << QString();
    QTest::newRow("tcp:-1") << QStringList{u"--share"_s, u"tcp:-1"_s} << QString();
    QTest::newRow("tcp: an address") << QStringList{u"--share"_s, u"tcp:0.0.0.0:5000"_s} << QString();
    QTest::newRow("tcp: twice") << QStringList{u"--share=tcp:1"_s, u"--share=tcp:2"_s} << QString();
    QTest::newRow("something else") << QStringList{u"--share"_s, u"udp:5000"_s} << QString();
#ifdef Q_OS_LINUX
    QTest::newRow("pty:PATH and tcp:PORT") << QStringList{u"--share"_s, u"pty:/tmp/my board"_s, u"--share=tcp:0"_s} << u"tcp:0 pty:/tmp/my board"_s;
    QTest::newRow("pty: without a path") << QStringList{u"--share"_s, u"pty:"_s} << QString();
#else
    QTest::newRow("no pty: on Windows") << QStringList{u"--share"_s, u"pty:/tmp/board"_s} << QString();
#endif
}

void TestCommandLine::parsesShare()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, share);
    const CommandLine line = CommandLine::parse(QStringList{u"pwmpanel"_s, u"--record=r.csv"_s} + arguments);
    QCOMPARE(line.error.isEmpty(), !share.isEmpty());
    if (share.isEmpty())
        return;
    QStringList asked;
    if (line.sharePort >= 0)
        asked << u"tcp:"_s + QString::number(line.sharePort);
    if (!line.sharePty.isEmpty())
        asked << u"pty:"_s + line.sharePty;
    QCOMPARE(asked.join(u' '), share);
    QCOMPARE(line.recordPath, u"r.csv"_s);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
