#include "csvformat.h"

#include "link/eightbittext.h"

#include <QDateTime>
#include <QSaveFile>

#include <cstdlib>

namespace {

// The bytes, with every double quote doubled when the field is quoted.
void appendEscaped(QByteArray &out, QByteArrayView bytes, bool quoted)
{
    if (!quoted) {
        out.append(bytes);
        return;
    }
    qsizetype from = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '"') {
            out.append(bytes.sliced(from, i + 1 - from)).append('"');
            from = i + 1;
        }
    }
    out.append(bytes.sliced(from));
}

} // namespace

QByteArray CsvFormat::header()
{
    return QByteArrayLiteral("time,direction,text,utc_offset\r\n");
}

qint64 CsvFormat::seeSecond(qint64 msecs)
{
    const qint64 second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    if (second != m_second) {
        m_second = second;
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
        m_secondText = local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
        const int offset = local.offsetFromUtc() / 60; // in minutes
        const int hours = std::abs(offset) / 60, minutes = std::abs(offset) % 60;
        const char text[] = {offset < 0 ? '-' : '+', char('0' + hours / 10), char('0' + hours % 10),
                             ':', char('0' + minutes / 10), char('0' + minutes % 10)};
        m_offsetText = QByteArray(text, sizeof text);
    }
    return second;
}

void CsvFormat::appendLocalTime(QByteArray &out, qint64 msecs)
{
    const qint64 second = seeSecond(msecs);
    const int ms = int(msecs - second * 1000);
    const char fraction[] = {'.', char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10)};
    out.append(m_secondText).append(fraction, sizeof fraction);
}

void CsvFormat::appendText(QByteArray &out, QByteArrayView bytes)
{
    bool quoted = false;
    bool ascii = true;
    for (const char c : bytes) {
        quoted |= c == ',' || c == '"' || c == '\r' || c == '\n';
        ascii &= uchar(c) < 0x80;
    }
    if (quoted)
        out.append('"');
    if (ascii)
        appendEscaped(out, bytes, quoted);
    else
        appendEscaped(out, EightBitText::decode(bytes).toUtf8(), quoted);
    if (quoted)
        out.append('"');
}

QByteArray CsvFormat::direction(const HistoryRing::Entry &entry)
{
    using D = HistoryRing::Direction;
    if (entry.direction == D::Received)
        return entry.cut ? QByteArrayLiteral("received (cut)") : QByteArrayLiteral("received");
    const QByteArray client = QByteArrayLiteral("client ") + QByteArray::number(entry.client);
    switch (entry.direction) {
    case D::Sent: return entry.client == 0 ? QByteArrayLiteral("sent") : "sent (" + client + ')';
    case D::Refused: return "refused (" + client + (entry.cut ? "; cut)" : ")");
    default: return "note (" + client + ')';
    }
}

void CsvFormat::appendRow(QByteArray &out, const HistoryRing::Entry &entry)
{
    appendLocalTime(out, entry.msecs);
    if (entry.client == 0)
        out.append(entry.direction == HistoryRing::Direction::Sent ? QByteArrayView(",sent,")
                   : entry.cut                                     ? QByteArrayView(",received (cut),")
                                                                   : QByteArrayView(",received,"));
    else
        out.append(',').append(direction(entry)).append(',');
    appendText(out, entry.text);
    out.append(',').append(m_offsetText).append("\r\n", 2); // of the second appendLocalTime saw
}

QByteArray CsvFormat::rows(const HistoryRing &ring, qsizetype from, qsizetype to)
{
    CsvFormat format;
    QByteArray out;
    for (qsizetype i = from; i < to; ++i)
        format.appendRow(out, ring.at(i));
    return out;
}

bool CsvFormat::save(const HistoryRing &ring, const QString &path, QString *error)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly) && file.write(header()) >= 0;
    // In slices, so that a full ring is never held twice.
    constexpr qsizetype Slice = 4096;
    for (qsizetype from = 0; ok && from < ring.size(); from += Slice)
        ok = file.write(rows(ring, from, std::min(ring.size(), from + Slice))) >= 0;
    if (ok && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    file.cancelWriting();
    return false;
}
