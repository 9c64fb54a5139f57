#include "linesplitter.h"

void LineSplitter::feed(QByteArrayView bytes, const Sink &sink)
{
    qsizetype from = 0;
    while (from < bytes.size()) {
        qsizetype end = from;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const QByteArrayView piece = bytes.sliced(from, end - from);
        if (!m_dropping) {
            const qsizetype room = MaxLine - m_line.size();
            if (piece.size() > room) {
                m_line.append(piece.first(room));
                sink(m_line, true);
                m_line.clear();
                m_dropping = true;
            } else {
                m_line.append(piece);
            }
        }
        if (end == bytes.size())
            break;
        // A line end.
        if (!m_dropping && !m_line.isEmpty())
            sink(m_line, false);
        m_line.clear();
        m_dropping = false;
        from = end + 1;
    }
}
