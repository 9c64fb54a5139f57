#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

// Assembles received bytes into reply lines: LF is dropped wherever it stands, CR ends a
// line, and a CR with nothing before it gives no line. The unfinished line is kept between
// calls. A line longer than MaxLine cannot be handled anyway, so only MaxLine + 1 bytes of it
// are kept and it is delivered with `tooLong` set: memory stays bounded whatever arrives.
class LineAssembler
{
public:
    static constexpr qsizetype MaxLine = 32767;

    struct Line {
        QByteArrayView bytes; // valid only during the callback
        bool tooLong = false;
        bool cut = false; // bytes past those delivered were dropped
    };
    using Sink = std::function<void(const Line &)>;

    void feed(QByteArrayView bytes, const Sink &sink);
    const QByteArray &pending() const { return m_line; }
    // Forgets the unfinished line: its end will never come (the port was closed).
    void reset();
    bool pendingTooLong() const { return m_tooLong; }

private:
    QByteArray m_line;
    bool m_tooLong = false;
    bool m_cut = false;
};
