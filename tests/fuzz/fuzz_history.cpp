// The history ring under any sequence of appends and clears, with small bounds so that every
// wrap and every growth is reached: what it keeps is always exactly the newest lines that fit
// both bounds, whole and in order; and every kept line comes back unchanged through CSV.
#include "fuzzcheck.h"
#include "history/csvformat.h"
#include "history/historyring.h"
#include "link/eightbittext.h"
#include "support/csvreader.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const qsizetype maxEntries = 1 + data[0] % 32;
    const qsizetype maxBytes = 1 + data[1] * 16; // past the ring's first size, so it grows
    HistoryRing ring(maxEntries, maxBytes);
    QList<QByteArray> appended; // everything, as the ring keeps it (cut at maxBytes)
    quint64 clearedUpTo = 0;

    for (size_t at = 2; at < size;) {
        const uint8_t op = data[at++];
        if (op == 0xFF) {
            ring.clear();
            clearedUpTo = quint64(appended.size());
        } else {
            const size_t length = std::min<size_t>(op % 64, size - at);
            QByteArray text(reinterpret_cast<const char *>(data + at), qsizetype(length));
            if (op & 0x80)
                text = text.repeated(40);
            at += length;
            const auto direction = op & 0x40 ? HistoryRing::Direction::Sent : HistoryRing::Direction::Received;
            ring.append(direction, text, qint64(appended.size()));
            appended << text.left(maxBytes);
            FUZZ_CHECK(ring.size() >= 1);
            FUZZ_CHECK(ring.at(ring.size() - 1).direction == direction);
        }
        // Exactly the newest lines that fit both bounds.
        qsizetype first = appended.size(), fits = 0;
        while (first > qsizetype(clearedUpTo) && appended.size() - first < maxEntries
               && fits + appended[first - 1].size() <= maxBytes)
            fits += appended[--first].size();
        FUZZ_CHECK(ring.firstSerial() == quint64(first));
        FUZZ_CHECK(ring.textBytes() <= maxBytes && ring.reach() <= 2 * maxBytes);
        FUZZ_CHECK(ring.endSerial() == quint64(appended.size()));
        FUZZ_CHECK(ring.firstSerial() >= clearedUpTo);
        qsizetype bytes = 0;
        for (qsizetype k = 0; k < ring.size(); ++k) {
            const HistoryRing::Entry e = ring.at(k);
            const qsizetype serial = qsizetype(ring.firstSerial()) + k;
            FUZZ_CHECK(e.text == appended[serial]);
            FUZZ_CHECK(e.msecs == serial);
            bytes += e.text.size();
        }
        FUZZ_CHECK(bytes == ring.textBytes());
    }

    // Every kept line through CSV and back, as an ordinary reader reads it.
    const QList<QStringList> rows = readCsv(CsvFormat::header() + CsvFormat::rows(ring, 0, ring.size()));
    FUZZ_CHECK(rows.size() == ring.size() + 1);
    for (qsizetype k = 0; k < ring.size(); ++k) {
        FUZZ_CHECK(rows[k + 1].size() == 4);
        FUZZ_CHECK(rows[k + 1][2] == EightBitText::decode(ring.at(k).text));
    }
    return 0;
}
