#include "settingsfile.h"

#include <cerrno>

#include "link/eightbittext.h"
#include "pwm/wholenumber.h"

#include <QFile>
#include <QSaveFile>

namespace SettingsFile
{

namespace
{

bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

bool isLineEnd(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

bool isDelimiter(QChar c)
{
    return c == QLatin1Char(',') || isLineEnd(c);
}

// Reads one value at a time. A line end is a delimiter like a comma, so an empty line
// between values counts as an empty value.
class ValueReader
{
public:
    explicit ValueReader(QStringView text) : m_text(text) {}

    std::optional<QStringView> next()
    {
        while (m_pos < m_text.size() && isBlank(m_text[m_pos]))
            ++m_pos;
        if (m_pos >= m_text.size())
            return std::nullopt;

        QStringView value;
        if (m_text[m_pos] == QLatin1Char('"')) {
            const qsizetype close = m_text.indexOf(QLatin1Char('"'), m_pos + 1);
            if (close < 0)
                return std::nullopt;
            value = m_text.sliced(m_pos + 1, close - m_pos - 1);
            m_pos = close + 1;
            while (m_pos < m_text.size() && !isDelimiter(m_text[m_pos])) {
                if (m_text[m_pos].isNull())
                    return std::nullopt;
                ++m_pos;
            }
        } else {
            const qsizetype start = m_pos;
            while (m_pos < m_text.size() && !isDelimiter(m_text[m_pos]))
                ++m_pos;
            value = m_text.sliced(start, m_pos - start);
            while (!value.isEmpty() && isBlank(value.back()))
                value.chop(1);
        }
        if (value.contains(QChar(u'\0')))
            return std::nullopt;
        skipDelimiter();
        return value;
    }

private:
    void skipDelimiter()
    {
        if (m_pos >= m_text.size())
            return;
        const QChar c = m_text[m_pos++];
        if (c == QLatin1Char('\r') && m_pos < m_text.size() && m_text[m_pos] == QLatin1Char('\n'))
            ++m_pos;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
};

QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

} // namespace

ReadResult parse(const QString &text)
{
    ReadResult result;
    StoredSettings &v = result.values;
    ValueReader reader(text);

    const auto readInt = [&](qint16 &field) {
        const auto value = reader.next();
        if (!value)
            return false;
        const auto number = WholeNumber::toInt16(*value, QLatin1Char('.'));
        if (!number)
            return false;
        field = *number;
        ++result.valuesRead;
        return true;
    };
    const auto readString = [&](QString &field) {
        const auto value = reader.next();
        if (!value)
            return false;
        field = value->toString();
        ++result.valuesRead;
        return true;
    };

    readInt(v.comPort) && readString(v.baud) && readString(v.devPass) && readInt(v.sTime) &&
        readString(v.ucApp) && readString(v.userLabel1) && readString(v.userLabel2);
    return result;
}

QString compose(const StoredSettings &s)
{
    const QLatin1String comma(","), lineEnd("\r\n");
    return QString::number(s.comPort) + comma + quoted(s.baud) + comma + quoted(s.devPass) + comma +
           QString::number(s.sTime) + comma + quoted(s.ucApp) + lineEnd + quoted(s.userLabel1) +
           comma + quoted(s.userLabel2) + lineEnd;
}

QString decode(QByteArrayView bytes)
{
    return EightBitText::decode(bytes);
}

QByteArray encode(QStringView text)
{
    return EightBitText::encode(text);
}

std::optional<QString> load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // size() may be 0 for special files; never take more than the limit allows.
    QByteArray bytes = file.read(MaxFileSize + 1);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    if (bytes.size() > MaxFileSize) {
        bytes.truncate(MaxFileSize);
        const qsizetype lastEnd = std::max(bytes.lastIndexOf('\r'), bytes.lastIndexOf('\n'));
        bytes.truncate(lastEnd + 1);
    }
    return decode(bytes);
}

bool save(const QString &path, const QString &text, QString *error)
{
    const auto fail = [error](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };

    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    const QByteArray bytes = encode(text);
    // QSaveFile buffers the write and its commit() ignores a failed final flush (disk full,
    // file size limit), which would put a truncated file in place: flush here and check.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        // A failed flush leaves Qt without a reason of its own; the system's is in errno.
        const int cause = errno;
        QString reason = file.errorString();
        if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
            reason = qt_error_string(cause);
        file.cancelWriting();
        return fail(reason);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace SettingsFile
