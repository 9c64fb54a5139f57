#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <memory>

// The lines of a session in order, each with its wall-clock time and direction, kept as the
// bytes that crossed the line. Bounded twice: at most maxEntries entries and maxBytes bytes of
// text, and an entry is dropped only when keeping it would pass one of them; the oldest go
// first. Appending copies the text once and allocates nothing.
//
// Text is kept back to back in a circular byte ring whose size grows with what is kept, up to
// maxBytes, so that memory in use follows the text kept rather than the bound. A line that
// runs past the ring's end goes on into a spare stretch behind it, so every line is one piece.
class HistoryRing
{
public:
    // Refused: a client's line that was not sent; Note: what became of a client.
    enum class Direction : quint8 { Received, Sent, Refused, Note };

    struct Entry {
        qint64 msecs = 0; // since the epoch
        Direction direction = Direction::Received;
        QByteArrayView text; // valid until the next append or clear
        bool cut = false;    // the line was longer: text is its beginning
        quint16 client = 0;  // the client of the share it was from or about; 0: the panel
    };

    static constexpr qsizetype DefaultEntries = 100'000;
    static constexpr qsizetype DefaultBytes = 16 * 1024 * 1024;

    explicit HistoryRing(qsizetype maxEntries = DefaultEntries, qsizetype maxBytes = DefaultBytes);

    // A text longer than maxBytes keeps its first maxBytes bytes and is marked cut, as is one
    // that was `cut` before it came.
    // A client's number above 65535 is kept as 65535.
    void append(Direction direction, QByteArrayView text, qint64 msecs, bool cut = false, int client = 0);
    void clear();

    qsizetype size() const { return m_count; }
    Entry at(qsizetype index) const; // 0 is the oldest kept
    qsizetype textBytes() const { return m_textBytes; }
    qsizetype maxEntries() const { return m_maxEntries; }
    qsizetype maxBytes() const { return m_maxBytes; }
    // How far into its memory the ring has ever written: what of it has been made resident.
    qsizetype reach() const { return m_reach; }

    // Running numbers: entry `at(0)` is number firstSerial(), the next to come endSerial().
    // A view compares them with what it showed to learn what was dropped and what is new.
    quint64 firstSerial() const { return m_appended - quint64(m_count); }
    quint64 endSerial() const { return m_appended; }

private:
    struct Slot {
        qint64 msecs;
        qint32 offset; // in [0, m_capacity)
        qint32 length;
        Direction direction;
        bool cut;
        quint16 client;
    };

    Slot &slot(qsizetype index) { return m_slots[(m_first + index) % m_maxEntries]; }
    const Slot &slot(qsizetype index) const { return m_slots[(m_first + index) % m_maxEntries]; }
    void dropOldest();
    void grow(qsizetype needed);

    qsizetype m_maxEntries;
    qsizetype m_maxBytes;
    std::unique_ptr<Slot[]> m_slots; // circular, m_count from m_first
    std::unique_ptr<char[]> m_bytes; // the ring, then as much again for a line running past it
    qsizetype m_capacity = 0;        // the ring's size now; text is kept within it, circularly
    qsizetype m_first = 0;
    qsizetype m_count = 0;
    qsizetype m_write = 0; // where the next text goes: just after the newest
    qsizetype m_textBytes = 0;
    qsizetype m_reach = 0;
    quint64 m_appended = 0;
};
