#include "csvformat.h"

#include "link/eightbittext.h"

#include <QDateTime>
#include <QSaveFile>

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

// The bytes, with every double quote doubled when the field is quoted.
void appendEscaped(QByteArray &out, QByteArrayView bytes, bool quoted)
{
    if (!quoted) {
        out.append(bytes);
        return;
    }
    qsizetype from = 0;
    for (qsizetype i; (i = bytes.indexOf('"', from)) >= 0; from = i + 1)
        out.append(bytes.sliced(from, i + 1 - from)).append('"');
    out.append(bytes.sliced(from));
}

// What a byte asks of a field: quotes around it (a comma, a double quote, CR or LF), or to be
// written as the character the panel shows for it (above ASCII).
enum Kind : unsigned char { AsItIs = 0, Quoted = 1, Wide = 2 };
constexpr auto Kinds = [] {
    std::array<unsigned char, 256> kinds{};
    for (int c = 0x80; c < 0x100; ++c)
        kinds[size_t(c)] = Wide;
    for (const char c : {',', '"', '\r', '\n'})
        kinds[uchar(c)] = Quoted;
    return kinds;
}();

unsigned kindsOf(QByteArrayView bytes)
{
    unsigned kinds = AsItIs;
    for (const char c : bytes)
        kinds |= Kinds[uchar(c)];
    return kinds;
}

char *put(char *at, QByteArrayView bytes)
{
    if (!bytes.isEmpty())
        std::memcpy(at, bytes.data(), size_t(bytes.size()));
    return at + bytes.size();
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
    const unsigned kinds = kindsOf(bytes);
    const bool quoted = kinds & Quoted;
    const bool ascii = !(kinds & Wide);
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
    using D = HistoryRing::Direction;
    // A client's entries (and refusals and notes) name whose they are; the panel's own lines
    // are the common case and cost no allocation.
    const bool plain = entry.direction == D::Received || (entry.direction == D::Sent && entry.client == 0);
    const QByteArray named = plain ? QByteArray() : ',' + direction(entry) + ',';
    const QByteArrayView dir = !plain                        ? QByteArrayView(named)
                               : entry.direction == D::Sent ? QByteArrayView(",sent,")
                               : entry.cut                  ? QByteArrayView(",received (cut),")
                                                            : QByteArrayView(",received,");
    const unsigned kinds = kindsOf(entry.text);
    const bool quoted = kinds & Quoted;
    if ((kinds & Wide) || (quoted && entry.text.contains('"'))) {
        appendLocalTime(out, entry.msecs);
        out.append(dir);
        appendText(out, entry.text);
        out.append(',').append(m_offsetText).append("\r\n", 2); // of the second appendLocalTime saw
        return;
    }
    // ASCII with no quote to double, as most lines are: the row written in one piece.
    const qint64 second = seeSecond(entry.msecs);
    const int ms = int(entry.msecs - second * 1000);
    const char fraction[] = {'.', char('0' + ms / 100), char('0' + ms / 10 % 10), char('0' + ms % 10)};
    const qsizetype at = out.size();
    out.resize(at + m_secondText.size() + qsizetype(sizeof fraction) + dir.size() + entry.text.size()
               + (quoted ? 2 : 0) + 1 + m_offsetText.size() + 2);
    char *p = put(out.data() + at, m_secondText);
    p = put(p, QByteArrayView(fraction, sizeof fraction));
    p = put(p, dir);
    if (quoted)
        *p++ = '"';
    p = put(p, entry.text);
    if (quoted)
        *p++ = '"';
    *p++ = ',';
    p = put(p, m_offsetText);
    put(p, "\r\n");
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
