#pragma once

#include "historyring.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The history as CSV: a header line, then one row per entry with four columns: the local time
// in ISO 8601 with milliseconds, "sent" or "received" ("received (cut)" for a line kept only in
// part; for a client of the share "sent (client 2)" and the like, see direction()), the text,
// and the local time's offset from UTC ("+01:00"), which tells apart the hour that repeats when
// the clocks go back. UTF-8, each byte of a line written as the character the
// panel shows for it; a field is quoted when it holds a comma, a double quote, CR or LF, and
// quotes inside are doubled. Rows end with CR LF.
class CsvFormat
{
public:
    static QByteArray header();

    // Appends one row to `out`. The date and time up to the second, and the offset from UTC,
    // are worked out once per second of the entries seen, not once per row.
    void appendRow(QByteArray &out, const HistoryRing::Entry &entry);

    // Appends "2026-12-07T18:05:31.042", the local time of `msecs`.
    void appendLocalTime(QByteArray &out, qint64 msecs);

    static void appendText(QByteArray &out, QByteArrayView bytes);

    // The direction column of `entry`: "received", "received (cut)", "sent", "sent (client N)",
    // "refused (client N)", "refused (client N; cut)" or "note (client N)".
    static QByteArray direction(const HistoryRing::Entry &entry);

    // Entries [from, to) of the ring as rows, without the header.
    static QByteArray rows(const HistoryRing &ring, qsizetype from, qsizetype to);

    // Writes the whole ring to `path` with its header, replacing the file atomically: on
    // failure the old file is left as it was, and `error` says why.
    static bool save(const HistoryRing &ring, const QString &path, QString *error);

private:
    // Makes m_secondText and m_offsetText those of the second `msecs` falls in; returns it.
    qint64 seeSecond(qint64 msecs);

    qint64 m_second = -1; // the second m_secondText and m_offsetText are of
    QByteArray m_secondText;
    QByteArray m_offsetText;
};
