#pragma once

#include <QRect>
#include <QString>

#include <vector>

// The window's controls as designed: what each is, where it sits (in twips, 15 to a pixel
// at 96 dpi, relative to its container) and how it looks. The window is built from this table
// alone; its tests check the table's geometry (nothing overlaps, every control lies inside
// its container) rather than repeating its numbers.
namespace Layout {

inline constexpr int TwipsPerPixel = 15;
inline constexpr QSize WindowSize{675, 253};

enum class Kind { Frame, Button, Label, TextBox, TextArea };
enum class Font { Default, Bold975, Bold825, Sans975, Arial975, Arial2775 };

inline constexpr quint32 Unset = 0xFFFFFFFFu; // keep the standard colour

// Flags
inline constexpr int Border = 1;       // labels: a plain box around them
inline constexpr int AlignLeft = 2;    // text boxes: left aligned (centred otherwise)
inline constexpr int Disabled = 4;     // starts disabled
inline constexpr int WrapAnywhere = 8; // labels: wrap over lines, anywhere if need be
inline constexpr int Hidden = 16;      // starts hidden
inline constexpr int FillBackground = 32;

struct Control {
    Kind kind;
    QString name;   // object name; array members end in _1, _2, ...
    QString parent; // container's name; empty: the window
    QString text;   // caption or design text
    QRect twips;
    Font font = Font::Default;
    quint32 background = Unset; // frames and labels: the background; buttons: the face
    quint32 foreground = Unset; // frames: the caption; labels: the text
    int flags = 0;

    QRect pixels() const
    {
        return {twips.x() / TwipsPerPixel, twips.y() / TwipsPerPixel,
                twips.width() / TwipsPerPixel, twips.height() / TwipsPerPixel};
    }
};

// In creation order: containers before what they hold, later rows above earlier ones.
const std::vector<Control> &controls();

} // namespace Layout
