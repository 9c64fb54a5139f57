// The program's command line: only --record FILE and --help; anything else is refused.
#include "shell/commandline.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parses_data();
    void parses();
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

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
