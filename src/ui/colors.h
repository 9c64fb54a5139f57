#pragma once

#include <QColor>
#include <QPalette>

// Colours are given as &HBBGGRR values (blue in the high byte); 0x800000nn names the
// platform's system colour nn, which we take from the palette.
namespace Colors {

inline constexpr quint32 Black = 0x000000;
inline constexpr quint32 White = 0xFFFFFF;
inline constexpr quint32 StatusWaiting = 0xC0FFFF;
inline constexpr quint32 StatusReply = 0xC0FFC0;
inline constexpr quint32 StatusFound = 0x00C000;
inline constexpr quint32 StatusError = 0x8080FF;
inline constexpr quint32 InactiveCaption = 0x80000003;
inline constexpr quint32 WindowBackground = 0x80000005;
inline constexpr quint32 WindowText = 0x80000008;
inline constexpr quint32 Highlight = 0x8000000D;
inline constexpr quint32 ButtonFace = 0x8000000F;
inline constexpr quint32 ButtonText = 0x80000012;

// The one place where colour values become QColors.
QColor resolve(quint32 value, const QPalette &palette);

} // namespace Colors
