#include "lineassembler.h"

void LineAssembler::feed(QByteArrayView bytes, const Sink &sink)
{
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (p != end) {
        const char *stop = p;
        while (stop != end && *stop != '\r' && *stop != '\n')
            ++stop;
        const qsizetype length = stop - p;

        if (stop != end && *stop == '\r' && m_line.isEmpty() && length > 0 && length <= MaxLine) {
            // A whole line within these bytes is handed on where it stands.
            if (sink)
                sink(Line{QByteArrayView(p, length), false});
        } else {
            // Keep one byte past MaxLine so the line is known to be too long.
            const qsizetype room = MaxLine + 1 - m_line.size();
            const qsizetype take = qMin<qsizetype>(room, length);
            if (take > 0)
                m_line.append(p, take);
            m_cut = m_cut || take < length;
            if (m_line.size() > MaxLine)
                m_tooLong = true;
            if (stop != end && *stop == '\r' && !m_line.isEmpty()) {
                if (sink)
                    sink(Line{m_line, m_tooLong, m_cut});
                reset();
            }
        }
        if (stop == end)
            break;
        p = stop + 1;
    }
}

void LineAssembler::reset()
{
    m_line.resize(0); // keeps its capacity
    m_tooLong = false;
    m_cut = false;
}
