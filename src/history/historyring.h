#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <memory>

// The lines of a session in order, each with its wall-clock time and direction, kept as the
// bytes that crossed the line. Bounded twice: at most maxEntries entries and maxBytes bytes of
// text; the oldest entries make room for new ones. Text is stored back to back in one byte
// ring (a line is never split), so appending copies the bytes once and allocates nothing.
// Memory is taken from the system as the ring fills, never beyond its bounds.
class HistoryRing
{
public:
    enum class Direction : quint8 { Received, Sent };

    struct Entry {
        qint64 msecs = 0; // since the epoch
        Direction direction = Direction::Received;
        QByteArrayView text; // valid until the next append or clear
    };

    static constexpr qsizetype DefaultEntries = 100'000;
    static constexpr qsizetype DefaultBytes = 16 * 1024 * 1024;

    explicit HistoryRing(qsizetype maxEntries = DefaultEntries, qsizetype maxBytes = DefaultBytes);

    // A text longer than maxBytes keeps its first maxBytes bytes.
    void append(Direction direction, QByteArrayView text, qint64 msecs);
    void clear();

    qsizetype size() const { return m_count; }
    Entry at(qsizetype index) const; // 0 is the oldest kept
    qsizetype textBytes() const { return m_textBytes; }
    qsizetype maxEntries() const { return m_maxEntries; }
    // How far into the byte ring text has ever been written: what of it has been made resident.
    qsizetype reach() const { return m_reach; }

    // Running numbers: entry `at(0)` is number firstSerial(), the next to come endSerial().
    // A view compares them with what it showed to learn what was dropped and what is new.
    quint64 firstSerial() const { return m_appended - quint64(m_count); }
    quint64 endSerial() const { return m_appended; }

private:
    struct Slot {
        qint64 msecs;
        qint32 offset;
        qint32 length;
        Direction direction;
    };

    const Slot &slot(qsizetype index) const { return m_slots[(m_first + index) % m_maxEntries]; }
    void dropOldest();

    qsizetype m_maxEntries;
    qsizetype m_maxBytes;
    std::unique_ptr<Slot[]> m_slots; // circular, m_count from m_first
    std::unique_ptr<char[]> m_bytes;
    qsizetype m_first = 0;
    qsizetype m_count = 0;
    qsizetype m_write = 0; // where the next text goes
    qsizetype m_textBytes = 0;
    qsizetype m_reach = 0;
    quint64 m_appended = 0;
};
