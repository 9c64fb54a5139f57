#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <utility>

// Received bytes not yet taken, as a serial control keeps them between its receive event and
// the reads of the handler: a few at a time or all at once, oldest first.
class InputQueue
{
public:
    void append(QByteArrayView bytes)
    {
        if (m_taken > 0) {
            m_bytes.remove(0, m_taken);
            m_taken = 0;
        }
        m_bytes.append(bytes);
    }
    // Up to `count` bytes (all of them when count is 0).
    QByteArray take(qsizetype count)
    {
        const qsizetype n = count > 0 ? std::min(count, size()) : size();
        QByteArray out = m_bytes.mid(m_taken, n);
        m_taken += n;
        if (m_taken == m_bytes.size())
            clear();
        return out;
    }
    QByteArray takeAll()
    {
        m_bytes.remove(0, std::exchange(m_taken, 0));
        return std::exchange(m_bytes, QByteArray());
    }
    qsizetype size() const { return m_bytes.size() - m_taken; }
    void clear()
    {
        m_bytes.clear();
        m_taken = 0;
    }

private:
    QByteArray m_bytes;
    qsizetype m_taken = 0; // bytes at the front already taken
};
