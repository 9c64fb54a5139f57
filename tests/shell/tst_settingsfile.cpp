#include "shell/settingsfile.h"
#include "support/unprivileged.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace
{

StoredSettings withApp(const QString &ucApp)
{
    StoredSettings s;
    s.ucApp = ucApp;
    return s;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

#define COMPARE_SETTINGS(actual, expected)                                                         \
    do {                                                                                           \
        QCOMPARE((actual).comPort, (expected).comPort);                                            \
        QCOMPARE((actual).baud, (expected).baud);                                                  \
        QCOMPARE((actual).devPass, (expected).devPass);                                            \
        QCOMPARE((actual).sTime, (expected).sTime);                                                \
        QCOMPARE((actual).ucApp, (expected).ucApp);                                                \
        QCOMPARE((actual).userLabel1, (expected).userLabel1);                                      \
        QCOMPARE((actual).userLabel2, (expected).userLabel2);                                      \
    } while (false)

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void compose_data();
    void compose();
    void parse_data();
    void parse();
    void roundTrip_data();
    void roundTrip();
    void decode_data();
    void decode();
    void load_data();
    void load();
    void save_data();
    void save();
};

void TestSettingsFile::compose_data()
{
    QTest::addColumn<StoredSettings>("settings");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("defaults") << withApp(QStringLiteral("ORVIX7"))
                              << QByteArray("1,\"9600\",\"-\",0,\"ORVIX7\"\r\n"
                                            "\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n");
    StoredSettings s;
    s.comPort = -5;
    s.sTime = -32768;
    s.baud = s.devPass = s.userLabel1 = s.userLabel2 = QString();
    QTest::newRow("negative numbers, empty strings")
        << s << QByteArray("-5,\"\",\"\",-32768,\"\"\r\n\"\",\"\"\r\n");
    s = StoredSettings();
    s.comPort = 32767;
    s.userLabel1 = QStringLiteral("a, b");
    QTest::newRow("comma inside a label")
        << s << QByteArray("32767,\"9600\",\"-\",0,\"\"\r\n\"a, b\",\"PWM Out2(%):\"\r\n");
}

void TestSettingsFile::compose()
{
    QFETCH(StoredSettings, settings);
    QFETCH(QByteArray, bytes);
    QCOMPARE(SettingsFile::compose(settings).toLatin1(), bytes);
}

void TestSettingsFile::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("valuesRead");
    QTest::addColumn<StoredSettings>("expected");

    const StoredSettings defaults;
    const QString line2 = QStringLiteral("\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n");

    QTest::newRow("as written") << u"1,\"9600\",\"-\",0,\"ORVIX7\"\r\n"_s + line2 << 7
                                << withApp(QStringLiteral("ORVIX7"));

    StoredSettings s;
    s.comPort = 3;
    s.baud = QStringLiteral("19200,e,7,2");
    s.devPass = QStringLiteral("pw");
    s.sTime = 250;
    s.ucApp = QStringLiteral("X");
    s.userLabel1 = QStringLiteral("Out 1, duty (%)");
    s.userLabel2 = QStringLiteral("a,b,c");
    QTest::newRow("commas inside quotes")
        << u"3,\"19200,e,7,2\",\"pw\",250,\"X\"\r\n\"Out 1, duty (%)\",\"a,b,c\"\r\n"_s << 7 << s;

    QTest::newRow("only the first line")
        << u"1,\"9600\",\"-\",0,\"ORVIX7\"\r\n"_s << 5 << withApp(QStringLiteral("ORVIX7"));
    QTest::newRow("first line without line end")
        << u"1,\"9600\",\"-\",0,\"ORVIX7\""_s << 5 << withApp(QStringLiteral("ORVIX7"));
    QTest::newRow("ends after the first label")
        << u"1,\"9600\",\"-\",0,\"\"\r\n\"L1\""_s << 6 << [] {
               StoredSettings r;
               r.userLabel1 = QStringLiteral("L1");
               return r;
           }();

    s = StoredSettings();
    s.comPort = 0;
    QTest::newRow("port 0 is a number like any other")
        << u"0,\"9600\",\"-\",0,\"\"\r\n"_s + line2 << 7 << s;

    s = StoredSettings();
    s.comPort = -5;
    s.sTime = -12;
    QTest::newRow("negative numbers") << u"-5,\"9600\",\"-\",-12,\"\"\r\n"_s + line2 << 7 << s;

    s = StoredSettings();
    s.comPort = 7;
    s.sTime = 2;
    QTest::newRow("numbers quoted, blank, rounded")
        << u"\"7\",\"9600\",\"-\", 2.5 ,\"\"\r\n"_s + line2 << 7 << s;

    QTest::newRow("port out of range")
        << u"40000,\"9600\",\"-\",0,\"\"\r\n"_s + line2 << 0 << defaults;
    QTest::newRow("STime not a number") << u"1,\"4800\",\"x\",abc,\"U\"\r\n"_s + line2 << 3 << [] {
        StoredSettings r;
        r.baud = QStringLiteral("4800");
        r.devPass = QStringLiteral("x");
        return r;
    }();
    QTest::newRow("empty port") << u",\"9600\",\"-\",0,\"\"\r\n"_s + line2 << 0 << defaults;
    QTest::newRow("empty text") << QString() << 0 << defaults;
    QTest::newRow("only blanks") << u"  \t "_s << 0 << defaults;

    s = StoredSettings();
    s.comPort = 2;
    QTest::newRow("missing closing quote")
        << u"2,\"9600\",\"-\",0,\"ORVIX7\r\nL1,L2\r\n"_s << 4 << s;
    QTest::newRow("a quote runs across lines")
        << u"2,\"9600\",\"-\",0,\"ORVIX7\r\n\"L1\",\"L2\"\r\n"_s << 6 << [] {
               StoredSettings r;
               r.comPort = 2;
               r.ucApp = QStringLiteral("ORVIX7\r\n");
               r.userLabel1 = QStringLiteral("L2");
               return r;
           }();
    QTest::newRow("missing closing quote at the end") << u"2,\"9600"_s << 1 << s;

    s = StoredSettings();
    s.ucApp = QStringLiteral("U");
    s.userLabel1 = QStringLiteral("L1");
    s.userLabel2 = QStringLiteral("L2");
    QTest::newRow("extra values and lines ignored")
        << u"1,\"9600\",\"-\",0,\"U\"\r\n\"L1\",\"L2\",\"L3\",abc\r\n40000\r\n\"open"_s << 7 << s;
    QTest::newRow("all on one line") << u"1,\"9600\",\"-\",0,\"U\",\"L1\",\"L2\""_s << 7 << s;
    QTest::newRow("CR line ends") << u"1,\"9600\",\"-\",0,\"U\"\r\"L1\",\"L2\"\r"_s << 7 << s;
    QTest::newRow("LF line ends") << u"1,\"9600\",\"-\",0,\"U\"\n\"L1\",\"L2\"\n"_s << 7 << s;
    QTest::newRow("text after a closing quote ignored")
        << u"1,\"9600\"junk,\"-\" ,0,\"U\"x\r\n \"L1\"  ,\t\"L2\"\"\r\n"_s << 7 << s;
    QTest::newRow("NUL after the seventh value ignored")
        << u"1,\"9600\",\"-\",0,\"U\"\r\n\"L1\",\"L2\"\r\n\0\0"_s << 7 << s;

    s = StoredSettings();
    s.comPort = 2;
    s.baud = QStringLiteral("4800");
    s.devPass = QStringLiteral("pass word");
    s.sTime = 7;
    s.ucApp = QStringLiteral("app");
    s.userLabel1 = QStringLiteral("left label");
    s.userLabel2 = QStringLiteral("right");
    QTest::newRow("unquoted strings")
        << u"2, 4800 ,pass word\t,7,app\r\n  left label,right\r\n"_s << 7 << s;

    s = StoredSettings();
    s.ucApp = QStringLiteral("U");
    s.userLabel1 = QString();
    s.userLabel2 = QStringLiteral("L1");
    QTest::newRow("a blank line is an empty value")
        << u"1,\"9600\",\"-\",0,\"U\"\r\n\r\n\"L1\",\"L2\"\r\n"_s << 7 << s;

    s = StoredSettings();
    s.baud = s.devPass = s.ucApp = s.userLabel1 = s.userLabel2 = QString();
    QTest::newRow("empty strings") << u"1,\"\",\"\",0,\"\"\r\n\"\",\"\"\r\n"_s << 7 << s;

    s = StoredSettings();
    QTest::newRow("NUL inside a quoted value") << u"1,\"96\0"
                                                  "00\",\"-\",0,\"\"\r\n"_s +
                                                      line2
                                               << 1 << s;
    QTest::newRow("NUL inside a number") << u"1\0,\"9600\",\"-\",0,\"\"\r\n"_s + line2 << 0 << s;
}

void TestSettingsFile::parse()
{
    QFETCH(QString, text);
    QFETCH(int, valuesRead);
    QFETCH(StoredSettings, expected);

    const SettingsFile::ReadResult got = SettingsFile::parse(text);
    QCOMPARE(got.valuesRead, valuesRead);
    QCOMPARE(got.complete(), valuesRead == 7);
    COMPARE_SETTINGS(got.values, expected);
}

void TestSettingsFile::roundTrip_data()
{
    QTest::addColumn<StoredSettings>("settings");

    QTest::newRow("defaults") << StoredSettings();
    StoredSettings s;
    s.comPort = -32768;
    s.sTime = 32767;
    s.baud = QStringLiteral("115200,n,8,1");
    s.devPass = QStringLiteral(" padded ");
    s.ucApp = QStringLiteral("ORVIX7");
    s.userLabel1 = QStringLiteral("Fan, left (%):");
    s.userLabel2 = QStringLiteral(",,,");
    QTest::newRow("commas, blanks, extremes") << s;
    s = StoredSettings();
    s.userLabel1 = QStringLiteral("Lüfter");
    s.userLabel2 = QStringLiteral("\u00b0C");
    QTest::newRow("8-bit labels") << s;
}

void TestSettingsFile::roundTrip()
{
    QFETCH(StoredSettings, settings);

    const SettingsFile::ReadResult got = SettingsFile::parse(SettingsFile::compose(settings));
    QCOMPARE(got.valuesRead, 7);
    COMPARE_SETTINGS(got.values, settings);

    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    QString error;
    QVERIFY2(SettingsFile::save(path, SettingsFile::compose(settings), &error), qPrintable(error));
    const auto loaded = SettingsFile::load(path);
    QVERIFY(loaded.has_value());
    const SettingsFile::ReadResult again = SettingsFile::parse(*loaded);
    QCOMPARE(again.valuesRead, 7);
    COMPARE_SETTINGS(again.values, settings);
}

void TestSettingsFile::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QByteArray("1,\"9600\"\r\n") << u"1,\"9600\"\r\n"_s;
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("degree sign, one byte") << QByteArray("\"Temp \xb0" "C\"") << u"\"Temp \u00b0C\""_s;
    QTest::newRow("what UTF-8 makes of it") << QByteArray("L\xc3\xbc" "fter") << u"L\u00c3\u00bcfter"_s;
#ifdef Q_OS_WIN
    if (GetACP() == 1252) // the ANSI code page of Western Windows
        QTest::newRow("NUL and a euro sign") << QByteArray("a\0\x80\xff", 4) << u"a\u0000\u20ac\u00ff"_s;
#else
    QTest::newRow("NUL and every high byte") << QByteArray("a\0\x80\xff", 4) << u"a\u0000\u0080\u00ff"_s;
#endif
}

// One character a byte, and every byte comes back from an encode.
void TestSettingsFile::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    const QString got = SettingsFile::decode(bytes);
    QCOMPARE(got, text);
    QCOMPARE(SettingsFile::encode(got), bytes);
}

void TestSettingsFile::load_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("kept"); // what is read of it

    const QByteArray written(
        "1,\"9600\",\"-\",0,\"ORVIX7\"\r\n\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n");
    const qsizetype max = SettingsFile::MaxFileSize;
    QTest::newRow("settings file") << "file" << written << true << written;
    QTest::newRow("empty file") << "file" << QByteArray() << true << QByteArray();
    QTest::newRow("binary after the values")
        << "file" << written + QByteArray("\0\x01\xff", 3) << true << written + QByteArray("\0\x01\xff", 3);
    QTest::newRow("exactly the size limit") << "file" << QByteArray(max, 'x') << true << QByteArray(max, 'x');
    // Past the limit, a line cut at the limit is not taken as whole.
    QTest::newRow("one line over the limit") << "file" << QByteArray(max + 1, 'x') << true << QByteArray();
    QTest::newRow("5 MB after the values")
        << "file" << written + QByteArray(5 * 1024 * 1024, 'x') << true << written;
    QTest::newRow("missing") << "missing" << QByteArray() << false << QByteArray();
    QTest::newRow("a folder") << "folder" << QByteArray() << false << QByteArray();
#ifdef Q_OS_LINUX
    QTest::newRow("endless device") << "/dev/zero" << QByteArray() << true << QByteArray();
#endif
}

void TestSettingsFile::load()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    QFETCH(QByteArray, kept);

    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("settings.ini"));
    if (kind == u"file")
        QVERIFY(writeFile(path, content));
    else if (kind == u"folder")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("settings.ini")));
    else if (kind != u"missing")
        path = kind;

    const auto got = SettingsFile::load(path);
    QCOMPARE(got.has_value(), valid);
    if (valid)
        QCOMPARE(SettingsFile::encode(*got), kept);
}

void TestSettingsFile::save_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("oldFile");
    QTest::addColumn<bool>("saved");

    QTest::newRow("new file") << "folder" << false << true;
    QTest::newRow("replaces the old file") << "folder" << true << true;
    QTest::newRow("parent is a regular file") << "under a file" << false << false;
#ifdef Q_OS_WIN
    QTest::newRow("file held open by another program") << "held open" << true << false;
#else
    QTest::newRow("read-only folder keeps the old file") << "read-only" << true << false;
#endif
    QTest::newRow("path is a folder") << "is a folder" << false << false;
}

void TestSettingsFile::save()
{
    QFETCH(QString, where);
    QFETCH(bool, oldFile);
    QFETCH(bool, saved);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir folder(dir.path());
    const QByteArray oldBytes("0,\"1200\",\"old\",9,\"\"\r\n\"a\",\"b\"\r\n");
    QString path = dir.filePath(QStringLiteral("settings.ini"));

    if (oldFile)
        QVERIFY(writeFile(path, oldBytes));
    if (where == u"under a file") {
        QVERIFY(writeFile(dir.filePath(QStringLiteral("plain")), "x"));
        path = dir.filePath(QStringLiteral("plain/settings.ini"));
    } else if (where == u"is a folder") {
        QVERIFY(folder.mkdir(QStringLiteral("settings.ini")));
    } else if (where == u"read-only") {
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                                      | QFile::ExeOther));
    }
    const QStringList before = folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    std::optional<QFile> holder;
    if (where == u"held open")
        QVERIFY(holder.emplace(path).open(QIODevice::ReadOnly));

    StoredSettings s;
    s.ucApp = QStringLiteral("ORVIX7");
    const QString text = SettingsFile::compose(s);
    QString error;
    bool ok, okWithoutError, probeWritten;
    {
        // Root writes through permissions: save as an ordinary user, as the panel runs.
        std::optional<Unprivileged> user;
        if (where == u"read-only")
            user.emplace();
        probeWritten = user && writeFile(dir.filePath(QStringLiteral("probe")), "x");
        ok = SettingsFile::save(path, text, &error);
        okWithoutError = SettingsFile::save(path, text, nullptr);
    }
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY2(!probeWritten, "the read-only folder took a file: this test cannot run here");

    QCOMPARE(ok, saved);
    QCOMPARE(okWithoutError, saved);
    if (saved) {
        QCOMPARE(readAll(path), QByteArray("1,\"9600\",\"-\",0,\"ORVIX7\"\r\n"
                                           "\"PWM Out1(%):\",\"PWM Out2(%):\"\r\n"));
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("settings.ini")});
    } else {
        QVERIFY(!error.isEmpty());
        QCOMPARE(folder.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        if (oldFile)
            QCOMPARE(readAll(path), oldBytes);
    }
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
