#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// The seven stored settings and the file that holds them beside the executable:
//   line 1: ComPort,"Baud","DevPass",STime,"UcApp"  CR LF
//   line 2: "UserLabel1","UserLabel2"               CR LF
// Integers as bare decimal digits, strings in double quotes with nothing escaped.
struct StoredSettings {
    qint16 comPort = 1;
    QString baud = QStringLiteral("9600");
    QString devPass = QStringLiteral("-");
    qint16 sTime = 0;
    QString ucApp;
    QString userLabel1 = QStringLiteral("PWM Out1(%):");
    QString userLabel2 = QStringLiteral("PWM Out2(%):");

    bool operator==(const StoredSettings &) const = default;
};

namespace SettingsFile {

// Only this much of a file is read: enough for any file the panel writes, and no more
// whatever lies at the path.
inline constexpr qint64 MaxFileSize = 1 << 20;

struct ReadResult {
    StoredSettings values; // fields past `valuesRead` keep the defaults above
    int valuesRead = 0;    // 0..7, in file order: ComPort, Baud, DevPass, STime, UcApp, L1, L2
    bool complete() const { return valuesRead == 7; }
};

// Reads the values in order: a comma or a line end (CR LF, CR or LF) ends a value; a value
// that starts with '"' (after leading blanks) runs to the next '"' and may hold commas,
// anything after the closing quote up to the delimiter is ignored; an unquoted value runs to
// the next comma or line end, blanks around it dropped. Integers must convert (as typed
// numbers do) to -32768..32767. Text after the seventh value is ignored. The first failure
// (end of text, a missing closing quote, a bad integer, a NUL byte) stops the reading.
ReadResult parse(const QString &text);

// The exact file text for `s` (two lines, each ended by CR LF).
QString compose(const StoredSettings &s);

// Byte-level encoding of the file: one character a byte, the 8-bit encoding the board's
// lines use as well (Latin-1; the ANSI code page on Windows). Every byte survives a decode
// and an encode, so an unedited save writes back what was read.
QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);

// Reads the file at `path`, or nothing when it is missing or unreadable. Of a file larger
// than MaxFileSize only the lines that end within that size are kept, so a value cut at the
// limit is never taken as whole.
std::optional<QString> load(const QString &path);

// Replaces the file at `path` atomically (temporary file in the same folder, then rename).
// On failure the old file is untouched and `error` says why.
bool save(const QString &path, const QString &text, QString *error);

} // namespace SettingsFile
