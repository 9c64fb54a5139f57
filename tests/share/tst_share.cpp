// The board shared with clients beside the panel: how their bytes become lines, and the bounds
// that keep any client from harming the panel, through real loopback sockets (and the
// pseudo-terminal) into a session on the fake serial control.
#include "share/linesplitter.h"
#include "support/sessionfixture.h"
#include "ui/panel.h"

#include <QFileInfo>
#include <QTcpSocket>
#include <QTest>

#include <optional>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using Direction = HistoryRing::Direction;

class TestShare : public QObject
{
    Q_OBJECT
private slots:
    void splitsLines_data();
    void splitsLines();
    void bounds_data();
    void bounds();
};

void TestShare::splitsLines_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces"); // as the client's reads deliver them
    QTest::addColumn<QStringList>("lines");         // "!" before a cut one
    QTest::addColumn<int>("kept");                  // bytes held for the next line
    const QByteArray full(256, 'a');
    QTest::newRow("CR, LF and CR LF end a line; empty lines are none")
        << QList<QByteArray>{"SV11=1\rSV11=2\n\n\rSV11=3\r\n"} << QStringList{u"SV11=1"_s, u"SV11=2"_s, u"SV11=3"_s} << 0;
    QTest::newRow("split across reads") << QList<QByteArray>{"SV", "11=4\r", "\nSV2", "1=5"} << QStringList{u"SV11=4"_s} << 6;
    const QByteArray any = QByteArray(255, '\xff') + '\0';
    QTest::newRow("256 bytes of any value is a line") << QList<QByteArray>{any + "\r"} << QStringList{QString::fromLatin1(any)} << 0;
    QTest::newRow("257 bytes: the first 256 cut at once, the rest dropped, the next line whole")
        << QList<QByteArray>{full, "bc", "d\rSV11=7\r"} << QStringList{u"!"_s + QString::fromLatin1(full), u"SV11=7"_s} << 0;
}

void TestShare::splitsLines()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, lines);
    QFETCH(int, kept);
    LineSplitter splitter;
    QStringList seen;
    for (const QByteArray &piece : pieces)
        splitter.feed(piece, [&](QByteArrayView line, bool cut) { seen << (cut ? u"!"_s : QString()) + QString::fromLatin1(line.toByteArray()); });
    QCOMPARE(seen, lines);
    QCOMPARE(splitter.kept(), kept);
}

void TestShare::bounds_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<QStringList>("sent");  // by clients, to the board
    QTest::addColumn<int>("refused");       // in the history, of them cut
    QTest::addColumn<int>("cut");
    QTest::addColumn<int>("dropped");       // clients let go, noted in the history
    QTest::newRow("a ninth client is closed at once") << u"ninth"_s << QStringList{} << 0 << 0 << 0;
    QTest::newRow("a 300-byte line is refused, cut") << u"long line"_s << QStringList{u"SV11=9\r"_s} << 1 << 1 << 0;
    QTest::newRow("a client flooding lines: 64 wait, the rest are refused") << u"flood"_s << QStringList{} << 936 << 0 << 0;
    QTest::newRow("a client that never reads while the board bursts 20,000 lines") << u"burst"_s << QStringList{} << 0 << 0 << 1;
#ifdef Q_OS_LINUX
    QTest::newRow("the pseudo-terminal's reader that never reads, then opens it again") << u"pty"_s << QStringList{u"SV11=8\r"_s} << 0 << 0 << 1;
#endif
    QTest::newRow("a client line while searching is refused") << u"searching"_s << QStringList{u"I?\r"_s} << 1 << 0 << 0;
    QTest::newRow("megabytes without a line end cost 256 bytes") << u"megabytes"_s << QStringList{u"SV11=5\r"_s} << 1 << 1 << 0;
}

void TestShare::bounds()
{
    QFETCH(QString, row);
    QFETCH(QStringList, sent);
    QFETCH(int, refused);
    QFETCH(int, cut);
    QFETCH(int, dropped);
    // A session with its history and a share, wired as the panel wires them; pauses take no time.
    SessionFixture f(nullptr, false);
    SessionHistory history;
    std::optional<Share> share(std::in_place, Share::Limits{8, 16 * 1024});
    f.link.setTap(&history);
    connectShare(f.link, f.s(), history, *share);
    f.s().start();
    QVERIFY(share->listen(0, nullptr));
    const auto connectClient = [&] {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(u"127.0.0.1"_s, share->port());
        socket->waitForConnected(5000);
        return socket;
    };
    const auto count = [&](Direction d, bool cutOnly = false) {
        int n = 0;
        for (qsizetype i = 0; i < history.ring().size(); ++i)
            n += history.ring().at(i).direction == d && (!cutOnly || history.ring().at(i).cut);
        return n;
    };
    int bursts = 0; // of 20,000 lines PV01=1, PV01=2, ...
    const auto burst = [&](const std::function<void()> &meanwhile) {
        ++bursts;
        for (int i = 1; i <= 20000; ++i) {
            f.serial.feedNow("PV01=" + QByteArray::number(i) + '\r');
            if (i % 200 == 0)
                meanwhile();
        }
    };
    if (row == u"searching")
        f.link.searchStep(); // the port open, I? sent, no answer yet
    else
        f.identify();
    auto client = connectClient();
    QTRY_COMPARE(share->clientCount(), 1);
    QByteArray got; // what the reading client received

    if (row == u"ninth") {
        std::vector<std::unique_ptr<QTcpSocket>> more;
        for (int i = 2; i <= 9; ++i)
            more.push_back(connectClient());
        QTRY_COMPARE(more.back()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(share->clientCount(), 8);
    } else if (row == u"long line") {
        client->write(QByteArray(300, 'S') + "\r\nSV11=9\r\n");
    } else if (row == u"flood") { // the command path held by the operator until the flood is in
        f.pacer.actions << [&] {
            for (int i = 1; i <= 1000; ++i)
                client->write("SV11=" + QByteArray::number(i % 101) + '\r');
            QTRY_COMPARE(f.s().clientLinesWaiting() + count(Direction::Refused), 1000);
        };
        f.s().sendCommand(u"SV21=1"_s);
        QTRY_COMPARE(f.serial.written.size(), 1 + 64);
        f.serial.written.clear();
    } else if (row == u"burst") {
        auto silent = connectClient();
        silent->setReadBufferSize(4096); // Qt takes no more from the system for it
        silent->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
        QTRY_COMPARE(share->clientCount(), 2);
        // Bursts until the silent one is let go (not reading, it cannot tell): one does on
        // Linux; Wine's sockets take a few MB first.
        while (bursts < 50 && share->clientCount() == 2)
            burst([&] { QCoreApplication::processEvents(), got += client->readAll(); });
        QTRY_COMPARE(share->clientCount(), 1);
        f.serial.written.clear(); // the read-back, which a slow run lets in meanwhile
#ifdef Q_OS_LINUX
    } else if (row == u"pty") {
        const QString path = f.dir.filePath(u"board"_s);
        QVERIFY(share->openPty(path, nullptr));
        QCOMPARE(QFileInfo(QFileInfo(path).symLinkTarget()).permissions(), // group and others: none
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        const QByteArray name = QFile::encodeName(path);
        const int silent = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QTRY_COMPARE(share->clientCount(), 2);
        burst([&] { QCoreApplication::processEvents(), got += client->readAll(); });
        QTRY_COMPARE(share->clientCount(), 1);
        ::close(silent); // closed and opened again, it is a new client
        const int again = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QTRY_COMPARE(share->clientCount(), 2);
        QCOMPARE(::write(again, "SV11=8\n", 7), 7);
        QTRY_COMPARE(f.serial.writtenText(), sent);
        ::close(again);
        share.reset(); // the link goes with the share
        QVERIFY(!QFileInfo(path).isSymLink());
#endif
    } else if (row == u"searching") {
        client->write("SV11=42\r");
        QTRY_COMPARE(count(Direction::Refused), 1);
    } else if (row == u"megabytes") {
        client->write(QByteArray(4 * 1024 * 1024, 'x') + "\rSV11=5\r");
    }
    QTRY_COMPARE(f.serial.writtenText(), sent);
    QTRY_COMPARE(count(Direction::Refused), refused);
    QCOMPARE(count(Direction::Refused, true), cut);
    QCOMPARE(count(Direction::Note), dropped);
    if (row == u"burst" || row == u"pty") { // every byte, as it came, for the one that reads
        QCOMPARE(f.screen.status, u"COM:1 Baud:9600 COM data: PV01=20000"_s);
        QTRY_VERIFY((got += client->readAll()).endsWith("PV01=20000\r"));
        QVERIFY(got.startsWith("PV01=1\rPV01=2\r") && got.count('\r') == 20000 * bursts);
    }
}

QTEST_GUILESS_MAIN(TestShare)
#include "tst_share.moc"
