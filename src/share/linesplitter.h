#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <functional>

// What a client of the share sends, cut into lines: CR, LF and CR LF each end one, empty lines
// are none. A line may be at most MaxLine bytes long; the first byte beyond gives the line's
// first MaxLine bytes marked cut, at once, and the rest up to the next line end is dropped. So
// a client that never ends a line costs at most MaxLine bytes however much it sends.
class LineSplitter
{
public:
    static constexpr qsizetype MaxLine = 256;

    using Sink = std::function<void(QByteArrayView line, bool cut)>;

    // Calls `sink` for each line `bytes` complete (or cut), in order.
    void feed(QByteArrayView bytes, const Sink &sink);

    qsizetype kept() const { return m_line.size(); }

private:
    QByteArray m_line;
    bool m_dropping = false; // past MaxLine: skipping to the next line end
};
