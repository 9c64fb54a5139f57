#include "historyring.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {
constexpr qsizetype SmallestRing = 1024;
} // namespace

HistoryRing::HistoryRing(qsizetype maxEntries, qsizetype maxBytes)
    : m_maxEntries(std::max<qsizetype>(1, maxEntries)),
      m_maxBytes(std::clamp<qsizetype>(maxBytes, 1, std::numeric_limits<qint32>::max() / 2)),
      // Left uninitialised: pages are only touched, and so only resident, once used.
      m_slots(new Slot[m_maxEntries]), m_bytes(new char[2 * m_maxBytes]),
      m_capacity(std::min(m_maxBytes, SmallestRing))
{
}

void HistoryRing::dropOldest()
{
    m_textBytes -= slot(0).length;
    m_first = (m_first + 1) % m_maxEntries;
    if (--m_count == 0)
        m_write = 0;
}

// Makes the ring at least `needed` bytes (at most maxBytes), keeping the text where its entries
// say. Kept text runs for m_textBytes bytes up to m_write, circularly; when it wraps, the part from the oldest entry to the old end (with a line running past that end) is
// moved up to the new end, so the front part stays where it is. Growing by half each time keeps
// the moving to a few times the text ever kept.
void HistoryRing::grow(qsizetype needed)
{
    const qsizetype old = m_capacity;
    m_capacity = std::min(m_maxBytes, std::max(needed, old + old / 2));
    if (m_count == 0) {
        m_write = 0;
        return;
    }
    // Where the oldest text starts: counted back from the newest, since an empty line's own
    // offset says nothing (one added to a full ring sits at its end, stored as 0).
    const qsizetype head = (m_write + old - m_textBytes) % old;
    if (head + m_textBytes <= old) { // in one piece
        m_write = head + m_textBytes;
        return;
    }
    const qsizetype shift = m_capacity - old;
    qsizetype back = 0; // bytes of the entries that start before the old end
    qsizetype i = 0;
    for (; i < m_count && head + back < old; ++i) {
        slot(i).offset += qint32(shift);
        back += slot(i).length;
    }
    // `back` may run past the old end: that line's tail lies in the spare stretch and moves
    // with it, while the front part keeps the room for it that it always had.
    std::memmove(m_bytes.get() + head + shift, m_bytes.get() + head, size_t(back));
    m_reach = std::max(m_reach, head + shift + back);
}

void HistoryRing::append(Direction direction, QByteArrayView text, qint64 msecs, bool cut, int client)
{
    const qsizetype length = std::min(text.size(), m_maxBytes);
    if (m_count == m_maxEntries)
        dropOldest();
    while (m_textBytes + length > m_capacity) {
        if (m_capacity < m_maxBytes)
            grow(m_textBytes + length);
        else
            dropOldest();
    }
    // The free stretch starts at m_write and is at least `length` long, circularly; a line
    // that runs past the ring's end goes on into the spare stretch behind it.
    if (length > 0)
        std::memcpy(m_bytes.get() + m_write, text.data(), size_t(length));
    slot(m_count) = {msecs, qint32(m_write), qint32(length), direction, cut || length < text.size(),
                     quint16(std::clamp(client, 0, 65535))};
    ++m_count;
    m_reach = std::max(m_reach, m_write + length);
    m_write = (m_write + length) % m_capacity;
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
    return {s.msecs, s.direction, QByteArrayView(m_bytes.get() + s.offset, s.length), s.cut, s.client};
}
