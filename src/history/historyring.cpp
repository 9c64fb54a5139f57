#include "historyring.h"

#include <algorithm>
#include <cstring>
#include <limits>

HistoryRing::HistoryRing(qsizetype maxEntries, qsizetype maxBytes)
    : m_maxEntries(std::max<qsizetype>(1, maxEntries)),
      m_maxBytes(std::clamp<qsizetype>(maxBytes, 1, std::numeric_limits<qint32>::max())),
      // Left uninitialised: pages are only touched, and so only resident, once used.
      m_slots(new Slot[m_maxEntries]), m_bytes(new char[m_maxBytes])
{
}

void HistoryRing::dropOldest()
{
    m_textBytes -= slot(0).length;
    m_first = (m_first + 1) % m_maxEntries;
    --m_count;
}

void HistoryRing::append(Direction direction, QByteArrayView text, qint64 msecs)
{
    const qsizetype length = std::min(text.size(), m_maxBytes);
    // Every entry takes at least one byte, so that entries ahead of the write position are
    // exactly the older ones not yet overwritten.
    const qsizetype taken = std::max<qsizetype>(length, 1);
    if (m_count == m_maxEntries)
        dropOldest();
    // Where the oldest entries have left room at the front, the text goes there rather than
    // further on: memory in use follows what is kept, not the byte bound.
    const bool runsOn = m_count > 0 && slot(0).offset < m_write; // kept text lies in one piece
    if (runsOn && slot(0).offset >= taken)
        m_write = 0;
    else if (m_write + taken > m_maxBytes) {
        // No room before the end: start again at the front. What lies past the write position
        // is older than what lies before it, so it goes first.
        while (m_count > 0 && slot(0).offset >= m_write)
            dropOldest();
        m_write = 0;
    }
    // Then the oldest entries that the new text would overwrite.
    while (m_count > 0 && slot(0).offset >= m_write && slot(0).offset < m_write + taken)
        dropOldest();

    if (length > 0)
        std::memcpy(m_bytes.get() + m_write, text.data(), size_t(length));
    m_slots[(m_first + m_count) % m_maxEntries] = {msecs, qint32(m_write), qint32(length), direction};
    ++m_count;
    m_write += taken;
    m_reach = std::max(m_reach, m_write);
    m_textBytes += length;
    ++m_appended;
}

void HistoryRing::clear()
{
    // Running numbers go on, so a view sees that everything it showed was dropped.
    m_first = (m_first + m_count) % m_maxEntries;
    m_count = 0;
    m_write = 0;
    m_textBytes = 0;
}

HistoryRing::Entry HistoryRing::at(qsizetype index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    const Slot &s = slot(index);
    return {s.msecs, s.direction, QByteArrayView(m_bytes.get() + s.offset, s.length)};
}
