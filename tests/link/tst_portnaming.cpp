#include "link/portnaming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

class TestPortNaming : public QObject
{
    Q_OBJECT

private slots:
    void table_data();
    void table();
    void linkOverride_data();
    void linkOverride();
};

void TestPortNaming::table_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("device");

#ifdef Q_OS_WIN
    QTest::newRow("1") << 1 << "COM1";
    QTest::newRow("10") << 10 << "COM10";
    QTest::newRow("97") << 97 << "COM97";
    QTest::newRow("0") << 0 << "";
    QTest::newRow("-1") << -1 << "";
#else
    QTest::newRow("0") << 0 << "";
    QTest::newRow("-1") << -1 << "";
    QTest::newRow("lowest int") << std::numeric_limits<int>::min() << "";
    QTest::newRow("1") << 1 << "/dev/ttyS0";
    QTest::newRow("32") << 32 << "/dev/ttyS31";
    QTest::newRow("33") << 33 << "/dev/ttyUSB0";
    QTest::newRow("64") << 64 << "/dev/ttyUSB31";
    QTest::newRow("65") << 65 << "/dev/ttyACM0";
    QTest::newRow("96") << 96 << "/dev/ttyACM31";
    QTest::newRow("97") << 97 << "";
    QTest::newRow("highest int") << std::numeric_limits<int>::max() << "";
#endif
}

void TestPortNaming::table()
{
    QFETCH(int, number);
    QFETCH(QString, device);

    const QTemporaryDir noPorts; // a folder without ports/
    QVERIFY(noPorts.isValid());
    QCOMPARE(PortNaming(noPorts.path()).deviceFor(number), device);
    QCOMPARE(PortNaming(QString()).deviceFor(number), device);
}

void TestPortNaming::linkOverride_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("kind");     // what ports/com<number> is
    QTest::addColumn<QString>("expected"); // "target", "link" or a fixed path

#ifdef Q_OS_WIN
    QSKIP("port links are a Linux feature");
#else
    QTest::newRow("link into the table range") << 3 << "link"
                                               << "target";
    QTest::newRow("link beyond the table") << 200 << "link"
                                           << "target";
    QTest::newRow("link to a link") << 4 << "chain"
                                    << "target";
    QTest::newRow("dangling link") << 5 << "dangling"
                                   << "link";
    QTest::newRow("plain file") << 6 << "file"
                                << "link";
    QTest::newRow("unrelated link leaves the table alone") << 7 << "other"
                                                           << "/dev/ttyS6";
    QTest::newRow("link for port 0 is not used") << 0 << "link"
                                                 << "";
#endif
}

void TestPortNaming::linkOverride()
{
    QFETCH(int, number);
    QFETCH(QString, kind);
    QFETCH(QString, expected);

    const QTemporaryDir exeDir;
    QVERIFY(exeDir.isValid());
    QVERIFY(QDir(exeDir.path()).mkpath(QStringLiteral("ports")));
    const PortNaming naming(exeDir.path());
    const QString link = naming.linkPathFor(number);
    QCOMPARE(link, exeDir.path() + QLatin1String("/ports/com") + QString::number(number));

    const QString target = exeDir.filePath(QStringLiteral("device"));
    QFile device(target);
    QVERIFY(device.open(QIODevice::WriteOnly));
    device.close();

    if (kind == u"link") {
        QVERIFY(QFile::link(target, link));
    } else if (kind == u"chain") {
        const QString middle = exeDir.filePath(QStringLiteral("middle"));
        QVERIFY(QFile::link(target, middle));
        QVERIFY(QFile::link(middle, link));
    } else if (kind == u"dangling") {
        QVERIFY(QFile::link(exeDir.filePath(QStringLiteral("gone")), link));
    } else if (kind == u"file") {
        QFile plain(link);
        QVERIFY(plain.open(QIODevice::WriteOnly));
    } else if (kind == u"other") {
        QVERIFY(QFile::link(target, naming.linkPathFor(number + 1)));
    }

    if (expected == u"target")
        expected = QFileInfo(target).canonicalFilePath();
    else if (expected == u"link")
        expected = kind == u"file" ? QFileInfo(link).canonicalFilePath() : link;
    QCOMPARE(naming.deviceFor(number), expected);
}

QTEST_APPLESS_MAIN(TestPortNaming)
#include "tst_portnaming.moc"
