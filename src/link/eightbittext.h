#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The one 8-bit encoding of everything the panel exchanges as bytes: reply lines from the
// board and the settings file. Latin-1 on Linux and other Unix systems, the ANSI code page on
// Windows. Every byte decodes to one character and encodes back to the same byte, so a name
// typed into the settings file matches the same bytes from the board.
namespace EightBitText {

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);

// Whether every character of `text` has a byte of its own in the encoding.
bool representable(QStringView text);

// The bytes as text to show: each control character (below 0x20, and DEL) as its own symbol
// (U+2400 to U+2421), so that every byte has a visible character.
QString visible(QByteArrayView bytes);

} // namespace EightBitText
