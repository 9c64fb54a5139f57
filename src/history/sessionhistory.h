#pragma once

#include "historyring.h"
#include "link/linetap.h"
#include "trend.h"

#include <QObject>

#include <functional>

class Recorder;

// The session's history: every line received and every command sent, with its time, in a
// bounded ring; the values the board reported (process values, setpoints, frequency code) as
// a trend; and, when a recorder is set, each entry appended to its file before the panel goes
// back to its event loop. Lines that arrive in one read share the time of that read.
class SessionHistory : public QObject, public LineTap
{
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch

    struct Limits {
        qsizetype entries = HistoryRing::DefaultEntries;
        qsizetype bytes = HistoryRing::DefaultBytes;
        qsizetype trendPoints = Trend::DefaultPoints;
    };

    explicit SessionHistory(const Limits &limits, Clock clock = {}, QObject *parent = nullptr);
    SessionHistory() : SessionHistory(Limits{}) {}

    const HistoryRing &ring() const { return m_ring; }
    const Trend &trend() const { return m_trend; }
    void setRecorder(Recorder *recorder) { m_recorder = recorder; }

    // Forgets what was shown (a recording goes on).
    void clear();

    void lineReceived(QByteArrayView line, bool cut) override;
    void commandSent(QByteArrayView command, int client) override;
    void receiveDone() override;

    // A client's line that was not sent (`cut`: it was too long, and this is its beginning),
    // and what became of a client, kept with the time they happened.
    void commandRefused(int client, QByteArrayView line, bool cut);
    void clientNote(int client, QByteArrayView text);

signals:
    // New entries, or the history was cleared.
    void changed();

private:
    void record(HistoryRing::Direction direction, QByteArrayView text, qint64 msecs, bool cut = false, int client = 0);
    void recordNow(HistoryRing::Direction direction, QByteArrayView text, bool cut, int client);
    void addValue(QByteArrayView line, qint64 msecs);
    qint64 now() const;

    HistoryRing m_ring;
    Trend m_trend;
    Clock m_clock;
    Recorder *m_recorder = nullptr;
    qint64 m_readTime = -1; // the time of the read whose lines are being handled
};
