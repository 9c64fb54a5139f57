#include "link/lineassembler.h"

#include <QList>
#include <QTest>

using Lines = QList<QByteArray>;

namespace
{

struct Collected {
    Lines lines;
    QList<bool> tooLong;
};

// Feeds `chunks` as given (step 0) or re-cut into pieces of `step` bytes.
Collected run(LineAssembler &assembler, const Lines &chunks, int step)
{
    Collected out;
    const auto sink = [&out](const LineAssembler::Line &line) {
        out.lines.append(line.bytes.toByteArray());
        out.tooLong.append(line.tooLong);
    };
    if (step == 0) {
        for (const QByteArray &chunk : chunks)
            assembler.feed(chunk, sink);
        return out;
    }
    const QByteArray all = chunks.join();
    for (qsizetype i = 0; i < all.size(); i += step)
        assembler.feed(QByteArrayView(all).sliced(i, qMin<qsizetype>(step, all.size() - i)), sink);
    return out;
}

} // namespace

class TestLineAssembler : public QObject
{
    Q_OBJECT

private slots:
    void deliveries_data();
    void deliveries();
    void lengthLimit_data();
    void lengthLimit();
    void floodStaysBounded();
};

void TestLineAssembler::deliveries_data()
{
    QTest::addColumn<Lines>("chunks");
    QTest::addColumn<Lines>("expected");
    QTest::addColumn<QByteArray>("pending");

    QTest::newRow("whole line") << Lines{"V1.0\r"} << Lines{"V1.0"} << QByteArray();
    QTest::newRow("CR LF") << Lines{"42\r\n"} << Lines{"42"} << QByteArray();
    QTest::newRow("LF CR") << Lines{"42\n\r"} << Lines{"42"} << QByteArray();
    QTest::newRow("LF inside a line") << Lines{"4\n2\r"} << Lines{"42"} << QByteArray();
    QTest::newRow("LF before a line") << Lines{"\n42\r"} << Lines{"42"} << QByteArray();
    QTest::newRow("merged lines") << Lines{"A\rB\r\nC\n\rD\r"} << Lines{"A", "B", "C", "D"}
                                  << QByteArray();
    QTest::newRow("only line ends") << Lines{"\r\n\r\r\n\n\n\r"} << Lines{} << QByteArray();
    QTest::newRow("nothing") << Lines{""} << Lines{} << QByteArray();
    QTest::newRow("line split over calls")
        << Lines{"12", "3", "4\r"} << Lines{"1234"} << QByteArray();
    QTest::newRow("CR in the next call") << Lines{"12", "\r"} << Lines{"12"} << QByteArray();
    QTest::newRow("unfinished line stays pending")
        << Lines{"A\rBC", "D"} << Lines{"A"} << QByteArray("BCD");
    QTest::newRow("LF alone ends nothing") << Lines{"A\nB\n"} << Lines{} << QByteArray("AB");
    QTest::newRow("bytes 0 and 128..255 kept")
        << Lines{QByteArray("\x00\x80\xff\xfe x", 6) + "\r"}
        << Lines{QByteArray("\x00\x80\xff\xfe x", 6)} << QByteArray();
}

void TestLineAssembler::deliveries()
{
    QFETCH(Lines, chunks);
    QFETCH(Lines, expected);
    QFETCH(QByteArray, pending);

    for (int step : {0, 1, 2}) {
        LineAssembler assembler;
        const Collected got = run(assembler, chunks, step);
        QCOMPARE(got.lines, expected);
        QCOMPARE(got.tooLong, QList<bool>(expected.size(), false));
        QCOMPARE(assembler.pending(), pending);
        QVERIFY(!assembler.pendingTooLong());
    }
}

void TestLineAssembler::lengthLimit_data()
{
    QTest::addColumn<Lines>("chunks");
    QTest::addColumn<Lines>("expected");
    QTest::addColumn<QList<bool>>("tooLong");

    constexpr qsizetype Max = LineAssembler::MaxLine;
    const QByteArray atLimit(Max, 'a');
    const QByteArray overLimit(Max + 1, 'a');

    QTest::newRow("exactly MaxLine")
        << Lines{atLimit + '\r'} << Lines{atLimit} << QList<bool>{false};
    QTest::newRow("MaxLine + 1") << Lines{overLimit + '\r'} << Lines{overLimit}
                                 << QList<bool>{true};
    QTest::newRow("far too long, cut to MaxLine + 1")
        << Lines{QByteArray(Max, 'a') + QByteArray(5000, 'b') + '\r'}
        << Lines{QByteArray(Max, 'a') + 'b'} << QList<bool>{true};

    QByteArray withFeeds = atLimit;
    for (qsizetype i = 100; i < withFeeds.size(); i += 1000)
        withFeeds.insert(i, '\n');
    QTest::newRow("LF bytes do not count")
        << Lines{withFeeds + "\r\n"} << Lines{atLimit} << QList<bool>{false};
    QTest::newRow("limit resets after delivery")
        << Lines{overLimit + "\rOK\r" + atLimit + '\r'} << Lines{overLimit, "OK", atLimit}
        << QList<bool>{true, false, false};
    QTest::newRow("too long across calls")
        << Lines{atLimit, "xyz", "\r"} << Lines{atLimit + 'x'} << QList<bool>{true};
}

void TestLineAssembler::lengthLimit()
{
    QFETCH(Lines, chunks);
    QFETCH(Lines, expected);
    QFETCH(QList<bool>, tooLong);

    for (int step : {0, 2}) {
        LineAssembler assembler;
        const Collected got = run(assembler, chunks, step);
        QCOMPARE(got.lines.size(), expected.size());
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QCOMPARE(got.lines[i].size(), expected[i].size());
            QVERIFY(got.lines[i] == expected[i]);
        }
        QCOMPARE(got.tooLong, tooLong);
        QVERIFY(assembler.pending().isEmpty());
        QVERIFY(!assembler.pendingTooLong());
    }
}

void TestLineAssembler::floodStaysBounded()
{
    constexpr qsizetype Bound = LineAssembler::MaxLine + 1;
    LineAssembler assembler;
    int deliveries = 0;
    bool lastTooLong = false;
    qsizetype lastSize = 0;
    const auto sink = [&](const LineAssembler::Line &line) {
        ++deliveries;
        lastTooLong = line.tooLong;
        lastSize = line.bytes.size();
    };

    QByteArray chunk(64 * 1024, 'z');
    chunk[100] = '\n';
    for (int i = 0; i < 8 * 16; ++i) { // 8 MiB
        assembler.feed(chunk, sink);
        QVERIFY(assembler.pending().size() <= Bound);
        QVERIFY(assembler.pending().capacity() <= 4 * Bound);
    }
    QCOMPARE(deliveries, 0);
    QVERIFY(assembler.pendingTooLong());

    assembler.feed("\r", sink);
    QCOMPARE(deliveries, 1);
    QVERIFY(lastTooLong);
    QCOMPARE(lastSize, Bound);
    QVERIFY(assembler.pending().isEmpty());
    QVERIFY(!assembler.pendingTooLong());
}

QTEST_APPLESS_MAIN(TestLineAssembler)
#include "tst_lineassembler.moc"
