// The settings file: decode, parse and compose.
//
// The input is the file's bytes. Checked:
//   - decode gives one character a byte, and encode gives every byte back;
//   - parse agrees with a slow reference reader written from the file rules;
//   - an unedited save of what was read writes the same bytes, whenever the file is one the
//     panel could have written (its values and their separators as compose() puts them);
//   - fields past valuesRead keep their defaults;
//   - parse(compose(s)) gives s back with all seven values, for s as parsed (when its texts
//     hold no '"', CR, LF or NUL) and for an s built straight from the input bytes.
#include "fuzzcheck.h"
#include "pwm/wholenumber.h"
#include "shell/settingsfile.h"

#include <QString>

#include <cstdint>
#include <cstring>

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDelimiter(QChar c)
{
    return c == u',' || c == u'\r' || c == u'\n';
}

SettingsFile::ReadResult referenceParse(const QString &t)
{
    SettingsFile::ReadResult r;
    StoredSettings &v = r.values;
    const qsizetype n = t.size();
    qsizetype pos = 0;
    for (int field = 0; field < 7; ++field) {
        while (pos < n && isBlank(t[pos]))
            ++pos;
        if (pos == n)
            break;
        QString value;
        if (t[pos] == u'"') {
            qsizetype close = pos + 1;
            while (close < n && t[close] != u'"')
                ++close;
            if (close == n)
                break;
            value = t.mid(pos + 1, close - pos - 1);
            qsizetype end = close + 1;
            bool nul = false;
            while (end < n && !isDelimiter(t[end]))
                nul = nul || t[end] == u'\0', ++end;
            if (nul)
                break;
            pos = end;
        } else {
            qsizetype end = pos;
            while (end < n && !isDelimiter(t[end]))
                ++end;
            qsizetype last = end;
            while (last > pos && isBlank(t[last - 1]))
                --last;
            value = t.mid(pos, last - pos);
            pos = end;
        }
        if (value.contains(QChar(u'\0')))
            break;
        if (pos < n) {
            if (t[pos] == u'\r' && pos + 1 < n && t[pos + 1] == u'\n')
                pos += 2;
            else
                pos += 1;
        }
        if (field == 0 || field == 3) {
            const std::optional<qint16> number = WholeNumber::toInt16(value, QLatin1Char('.'));
            if (!number)
                break;
            (field == 0 ? v.comPort : v.sTime) = *number;
        } else {
            QString *const texts[] = {nullptr, &v.baud, &v.devPass, nullptr, &v.ucApp,
                                      &v.userLabel1, &v.userLabel2};
            *texts[field] = value;
        }
        ++r.valuesRead;
    }
    return r;
}

bool clean(const QString &s)
{
    return !s.contains(u'"') && !s.contains(u'\r') && !s.contains(u'\n') && !s.contains(QChar(u'\0'));
}

bool clean(const StoredSettings &s)
{
    return clean(s.baud) && clean(s.devPass) && clean(s.ucApp) && clean(s.userLabel1) &&
           clean(s.userLabel2);
}

void checkParse(const QString &text)
{
    const SettingsFile::ReadResult r = SettingsFile::parse(text);
    FUZZ_CHECK(r.valuesRead >= 0 && r.valuesRead <= 7);
    const SettingsFile::ReadResult ref = referenceParse(text);
    FUZZ_CHECK(r.valuesRead == ref.valuesRead);
    FUZZ_CHECK(r.values == ref.values);

    // Untouched fields keep the defaults.
    const StoredSettings d;
    const StoredSettings &v = r.values;
    const int n = r.valuesRead;
    FUZZ_CHECK(n > 0 || v.comPort == d.comPort);
    FUZZ_CHECK(n > 1 || v.baud == d.baud);
    FUZZ_CHECK(n > 2 || v.devPass == d.devPass);
    FUZZ_CHECK(n > 3 || v.sTime == d.sTime);
    FUZZ_CHECK(n > 4 || v.ucApp == d.ucApp);
    FUZZ_CHECK(n > 5 || v.userLabel1 == d.userLabel1);
    FUZZ_CHECK(n > 6 || v.userLabel2 == d.userLabel2);
}

void checkRoundTrip(const StoredSettings &s)
{
    const QString text = SettingsFile::compose(s);
    FUZZ_CHECK(text.endsWith(u"\r\n"));
    const SettingsFile::ReadResult r = SettingsFile::parse(text);
    FUZZ_CHECK(r.valuesRead == 7);
    FUZZ_CHECK(r.values == s);
    FUZZ_CHECK(SettingsFile::decode(SettingsFile::encode(text)) == text);
}

// Settings made straight from the bytes: two integers, then five texts split at the
// characters a stored text cannot hold.
StoredSettings fromBytes(const uint8_t *data, size_t size)
{
    StoredSettings s;
    const auto int16At = [&](size_t at) {
        quint16 raw = 0;
        if (at + 2 <= size)
            std::memcpy(&raw, data + at, 2);
        return qint16(raw);
    };
    s.comPort = int16At(0);
    s.sTime = int16At(2);
    const size_t skip = size < 4 ? size : 4;
    const QString rest = SettingsFile::decode(
        QByteArrayView(reinterpret_cast<const char *>(data) + skip, qsizetype(size - skip)));
    QString *const texts[] = {&s.baud, &s.devPass, &s.ucApp, &s.userLabel1, &s.userLabel2};
    for (QString *t : texts)
        t->clear();
    int field = 0;
    for (QChar c : rest) {
        if (c == u'"' || c == u'\r' || c == u'\n' || c == u'\0') {
            if (++field == 5)
                break;
            continue;
        }
        texts[field]->append(c);
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    const QString text = SettingsFile::decode(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(SettingsFile::encode(text) == bytes);
    checkParse(text);
    const SettingsFile::ReadResult r = SettingsFile::parse(text);
    if (clean(r.values))
        checkRoundTrip(r.values);
    // A file the panel wrote comes back byte for byte.
    const StoredSettings built = fromBytes(data, size);
    FUZZ_CHECK(clean(built));
    checkRoundTrip(built);
    const QByteArray file = SettingsFile::encode(SettingsFile::compose(built));
    const SettingsFile::ReadResult again = SettingsFile::parse(SettingsFile::decode(file));
    FUZZ_CHECK(again.complete());
    FUZZ_CHECK(SettingsFile::encode(SettingsFile::compose(again.values)) == file);
    return 0;
}
