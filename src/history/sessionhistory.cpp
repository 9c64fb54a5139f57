#include "sessionhistory.h"

#include "link/eightbittext.h"
#include "link/protocol.h"
#include "link/replynumber.h"
#include "recorder.h"

#include <QDateTime>

namespace {

constexpr qsizetype MaxShortText = 64;

// Which series a reply line reports a value for, by its first five bytes.
std::optional<Trend::Series> seriesOf(QByteArrayView line)
{
    if (line.size() < 5 || line[4] != '=')
        return std::nullopt;
    const QByteArrayView prefix = line.first(5);
    if (prefix == "PV01=")
        return Trend::ProcessValue1;
    if (prefix == "PV02=")
        return Trend::ProcessValue2;
    if (prefix == Protocol::Setpoint1Report)
        return Trend::Setpoint1;
    if (prefix == Protocol::Setpoint2Report)
        return Trend::Setpoint2;
    if (prefix == Protocol::FrequencyReport)
        return Trend::FrequencyCode;
    return std::nullopt;
}

} // namespace

SessionHistory::SessionHistory(const Limits &limits, Clock clock, QObject *parent)
    : QObject(parent), m_ring(limits.entries, limits.bytes), m_trend(limits.trendPoints), m_clock(std::move(clock))
{
}

qint64 SessionHistory::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

void SessionHistory::clear()
{
    m_ring.clear();
    m_trend.clear();
    emit changed();
}

void SessionHistory::record(HistoryRing::Direction direction, QByteArrayView text, qint64 msecs, bool cut, int client)
{
    m_ring.append(direction, text, msecs, cut, client);
    if (m_recorder)
        m_recorder->add(m_ring.at(m_ring.size() - 1));
}

// A value as the panel takes the board's reports: single precision; a value beyond it is none.
void SessionHistory::addValue(QByteArrayView line, qint64 msecs)
{
    const std::optional<Trend::Series> series = seriesOf(line);
    if (!series)
        return;
    // Only ASCII can make up a number; any other byte stops it, whatever the encoding makes of
    // it. A short text is widened on the stack, so that a value costs no allocation.
    const QByteArrayView rest = line.sliced(5);
    double read = 0;
    if (rest.size() <= MaxShortText) {
        char16_t wide[MaxShortText];
        for (qsizetype i = 0; i < rest.size(); ++i)
            wide[i] = uchar(rest[i]) < 0x80 ? char16_t(rest[i]) : char16_t(0xFFFD);
        read = ReplyNumber::read(QStringView(wide, rest.size()));
    } else {
        read = ReplyNumber::read(EightBitText::decode(rest));
    }
    const std::optional<float> value = ReplyNumber::toSingle(read);
    if (value)
        m_trend.add(*series, msecs, *value);
}

void SessionHistory::lineReceived(QByteArrayView line, bool cut)
{
    if (m_readTime < 0)
        m_readTime = now();
    record(HistoryRing::Direction::Received, line, m_readTime, cut);
    addValue(line, m_readTime);
}

void SessionHistory::commandSent(QByteArrayView command, int client)
{
    recordNow(HistoryRing::Direction::Sent, command, false, client);
}

void SessionHistory::commandRefused(int client, QByteArrayView line, bool cut)
{
    recordNow(HistoryRing::Direction::Refused, line, cut, client);
}

void SessionHistory::clientNote(int client, QByteArrayView text)
{
    recordNow(HistoryRing::Direction::Note, text, false, client);
}

void SessionHistory::recordNow(HistoryRing::Direction direction, QByteArrayView text, bool cut, int client)
{
    record(direction, text, now(), cut, client);
    if (m_recorder)
        m_recorder->flush();
    emit changed();
}

void SessionHistory::receiveDone()
{
    if (m_readTime < 0)
        return; // no whole line in this read
    m_readTime = -1;
    if (m_recorder)
        m_recorder->flush();
    emit changed();
}
