// The board shared with clients beside the panel: how their bytes become lines, and the bounds
// that keep any client from harming the panel, through real loopback sockets into a session
// on the fake serial control.
#include "history/csvformat.h"
#include "share/linesplitter.h"
#include "support/sessionfixture.h"
#include "ui/panel.h"

#include <QDir>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTest>

#include <optional>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

using Direction = HistoryRing::Direction;

// A session with its history and a share on a free loopback port, wired as the panel wires
// them; pauses take no time.
struct Shared {
    SessionFixture f{nullptr, false};
    SessionHistory history;
    std::optional<Share> share;

    explicit Shared(const Share::Limits &limits)
    {
        share.emplace(limits);
        f.link.setTap(&history);
        connectShare(f.link, f.s(), history, *share);
        f.s().start();
    }
    std::unique_ptr<QTcpSocket> connectClient(int receiveBuffer = 0)
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(u"127.0.0.1"_s, share->port());
        if (!socket->waitForConnected(5000))
            return nullptr;
        if (receiveBuffer > 0) { // and Qt takes no more than that from it either
            socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
            socket->setReadBufferSize(receiveBuffer);
        }
        return socket;
    }
    QList<HistoryRing::Entry> entries(Direction direction) const
    {
        QList<HistoryRing::Entry> out;
        for (qsizetype i = 0; i < history.ring().size(); ++i)
            if (history.ring().at(i).direction == direction)
                out << history.ring().at(i);
        return out;
    }
};

} // namespace

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
    QTest::newRow("CR, LF and CR LF each end a line")
        << QList<QByteArray>{"SV11=1\rSV11=2\nSV11=3\r\nPV01?\r"} << QStringList{u"SV11=1"_s, u"SV11=2"_s, u"SV11=3"_s, u"PV01?"_s} << 0;
    QTest::newRow("empty lines are none") << QList<QByteArray>{"\r\n\r\n\n\rI?\n\n"} << QStringList{u"I?"_s} << 0;
    QTest::newRow("split across reads, CR LF too") << QList<QByteArray>{"SV", "11=4\r", "\nSV2", "1=5"} << QStringList{u"SV11=4"_s} << 6;
    QTest::newRow("256 bytes is a line") << QList<QByteArray>{full + "\r"} << QStringList{QString::fromLatin1(full)} << 0;
    QTest::newRow("257 bytes: its first 256, cut, at once; the rest dropped")
        << QList<QByteArray>{full, "bc", "d"} << QStringList{u"!"_s + QString::fromLatin1(full)} << 0;
    QTest::newRow("after a cut line the next is whole")
        << QList<QByteArray>{full + "zz\rSV11=7\r"} << QStringList{u"!"_s + QString::fromLatin1(full), u"SV11=7"_s} << 0;
    QTest::newRow("bytes of every value pass") << QList<QByteArray>{QByteArray("\0\x7f\xff=\t", 5) + "\r"} << QStringList{QString::fromLatin1(QByteArray("\0\x7f\xff=\t", 5))} << 0;
}

void TestShare::splitsLines()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, lines);
    QFETCH(int, kept);
    LineSplitter splitter;
    QStringList seen;
    for (const QByteArray &piece : pieces)
        splitter.feed(piece, [&](QByteArrayView line, bool cut) {
            seen << (cut ? u"!"_s : QString()) + QString::fromLatin1(line.toByteArray());
        });
    QCOMPARE(seen, lines);
    QCOMPARE(splitter.kept(), kept);
}

void TestShare::bounds_data()
{
    QTest::addColumn<QString>("row");
    QTest::newRow("a ninth client is closed at once") << u"ninth"_s;
    QTest::newRow("a 300-byte line is refused, cut") << u"long line"_s;
    QTest::newRow("a client flooding lines: 64 wait, the rest are refused") << u"flood"_s;
    QTest::newRow("a client that never reads while the board bursts 20,000 lines") << u"burst"_s;
#ifdef Q_OS_LINUX
    QTest::newRow("the pseudo-terminal's reader that never reads, while the board bursts") << u"pty burst"_s;
#endif
    QTest::newRow("a client line while searching is refused") << u"searching"_s;
    QTest::newRow("megabytes without a line end cost 256 bytes") << u"megabytes"_s;
}

void TestShare::bounds()
{
    QFETCH(QString, row);
    Shared s({8, 16 * 1024});
    QVERIFY(s.share->listen(0, nullptr));
    if (row == u"searching")
        s.f.link.searchStep(); // the port open, I? sent, no answer yet
    else
        s.f.identify();
    auto client = s.connectClient();
    QVERIFY(client);
    QTRY_COMPARE(s.share->clientCount(), 1);

    if (row == u"ninth") {
        std::vector<std::unique_ptr<QTcpSocket>> more;
        for (int i = 2; i <= 8; ++i)
            more.push_back(s.connectClient());
        QTRY_COMPARE(s.share->clientCount(), 8);
        const auto ninth = s.connectClient();
        QVERIFY(!ninth || ninth->state() == QAbstractSocket::ConnectedState);
        if (ninth)
            QTRY_COMPARE(ninth->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(s.share->clientCount(), 8);
        more.pop_back(); // one leaves: there is room again
        QTRY_COMPARE(s.share->clientCount(), 7);
        const auto next = s.connectClient();
        QTRY_COMPARE(s.share->clientCount(), 8);
        QCOMPARE(next->state(), QAbstractSocket::ConnectedState);
    } else if (row == u"long line") {
        client->write(QByteArray(300, 'S') + "\r\nSV11=9\r\n");
        QTRY_COMPARE(s.f.serial.writtenText(), QStringList{u"SV11=9\r"_s});
        const auto refused = s.entries(Direction::Refused);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused[0].text, QByteArray(256, 'S'));
        QVERIFY(refused[0].cut);
        QCOMPARE(CsvFormat::direction(refused[0]), "refused (client 1; cut)");
        QCOMPARE(CsvFormat::direction(s.entries(Direction::Sent).last()), "sent (client 1)");
    } else if (row == u"flood") {
        // The command path is held by an operator's command until the flood is in.
        QByteArray flood;
        for (int i = 1; i <= 1000; ++i)
            flood += "SV11=" + QByteArray::number(i % 101) + '\r';
        s.f.pacer.actions << [&] {
            client->write(flood);
            QTRY_COMPARE(s.f.s().clientLinesWaiting() + s.entries(Direction::Refused).size(), qsizetype(1000));
        };
        s.f.s().sendCommand(u"SV21=1"_s);
        QTRY_COMPARE(s.f.serial.written.size(), 1 + 64);
        QCOMPARE(s.entries(Direction::Refused).size(), 1000 - 64);
        QCOMPARE(s.f.serial.writtenText().mid(1, 2), (QStringList{u"SV11=1\r"_s, u"SV11=2\r"_s}));
        QCOMPARE(s.f.s().clientLinesWaiting(), 0);
    } else if (row == u"burst") {
        auto silent = s.connectClient(4096);
        QTRY_COMPARE(s.share->clientCount(), 2);
        QByteArray burst, got;
        for (int i = 1; i <= 20000; ++i)
            burst += "PV01=" + QByteArray::number(i) + '\r';
        for (qsizetype at = 0; at < burst.size(); at += 4096) {
            s.f.serial.feedNow(burst.mid(at, 4096));
            QCoreApplication::processEvents(); // the reading client takes its share meanwhile
            got += client->readAll();
        }
        QCOMPARE(s.f.screen.status, u"COM:1 Baud:9600 COM data: PV01=20000"_s);
        QTRY_VERIFY((got += client->readAll()).size() >= burst.size());
        QCOMPARE(got, burst);
        QTRY_COMPARE(s.share->clientCount(), 1); // the silent one is let go (it cannot tell, not reading)
        const auto notes = s.entries(Direction::Note);
        QCOMPARE(notes.size(), 1);
        QCOMPARE(notes[0].client, 2);
        QCOMPARE(notes[0].text, "dropped: it left more than 16 KiB unread");
#ifdef Q_OS_LINUX
    } else if (row == u"pty burst") {
        const QString path = QDir::temp().filePath(u"pwmshare-%1"_s.arg(QCoreApplication::applicationPid()));
        QVERIFY(s.share->openPty(path, nullptr));
        QCOMPARE(QFileInfo(QFileInfo(path).symLinkTarget()).permissions(), // group and others: none
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        const int slave = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(slave >= 0);
        QTRY_COMPARE(s.share->clientCount(), 2);
        QByteArray got;
        for (int i = 1; i <= 20000; ++i) {
            s.f.serial.feedNow("PV01=" + QByteArray::number(i) + '\r');
            if (i % 200 == 0) {
                QCoreApplication::processEvents();
                got += client->readAll();
            }
        }
        QTRY_COMPARE(s.share->clientCount(), 1);
        QCOMPARE(s.entries(Direction::Note).size(), 1);
        QCOMPARE(s.entries(Direction::Note)[0].client, 2);
        QTRY_VERIFY((got += client->readAll()).endsWith("PV01=20000\r"));
        ::close(slave); // closed and opened again, it is a new client
        const int again = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QTRY_COMPARE(s.share->clientCount(), 2);
        QCOMPARE(::write(again, "SV11=8\n", 7), 7);
        QTRY_COMPARE(s.f.serial.writtenText(), QStringList{u"SV11=8\r"_s});
        QCOMPARE(s.entries(Direction::Sent).last().client, 3);
        ::close(again);
        s.share.reset(); // the link goes with the share
        QVERIFY(!QFileInfo::exists(path) && !QFileInfo(path).isSymLink());
#endif
    } else if (row == u"searching") {
        client->write("SV11=42\r");
        QTRY_COMPARE(s.entries(Direction::Refused).size(), 1);
        QCOMPARE(s.entries(Direction::Refused)[0].text, "SV11=42");
        QVERIFY(!s.f.s().isBoardFound());
        QCOMPARE(s.f.serial.writtenText(), QStringList{u"I?\r"_s});
    } else if (row == u"megabytes") {
        const QByteArray chunk(64 * 1024, 'x');
        for (int i = 0; i < 64; ++i) { // 4 MiB
            client->write(chunk);
            QTRY_VERIFY(client->bytesToWrite() < 1024 * 1024);
        }
        client->write("\rSV11=5\r");
        QTRY_COMPARE(s.f.serial.writtenText(), QStringList{u"SV11=5\r"_s});
        QCOMPARE(s.entries(Direction::Refused).size(), 1);
        QCOMPARE(s.entries(Direction::Refused)[0].text.size(), 256);
    }
}

QTEST_GUILESS_MAIN(TestShare)
#include "tst_share.moc"
