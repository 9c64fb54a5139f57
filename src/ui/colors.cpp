#include "colors.h"

QColor Colors::resolve(quint32 value, const QPalette &palette)
{
    if (value & 0x80000000u) {
        switch (value & 0xFFu) {
        case 0x03: return QColor(0xBF, 0xCD, 0xDB); // inactive caption: no palette role
        case 0x05: return palette.color(QPalette::Active, QPalette::Base);
        case 0x08: return palette.color(QPalette::Active, QPalette::Text);
        case 0x0D: return palette.color(QPalette::Active, QPalette::Highlight);
        case 0x0F: return palette.color(QPalette::Active, QPalette::Button);
        case 0x12: return palette.color(QPalette::Active, QPalette::ButtonText);
        default: return palette.color(QPalette::Active, QPalette::Window);
        }
    }
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}
