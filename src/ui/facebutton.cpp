#include "facebutton.h"

#include <QStyleOptionButton>

#include <vector>

namespace {

std::vector<QPalette> &sharedPalettes()
{
    static std::vector<QPalette> shared;
    return shared;
}

// The palettes handed to the style, one for each set of colours seen. The program's buttons
// use a handful; the bound only matters if colours ever came from outside.
const QPalette &sharedPalette(const QPalette &colours)
{
    std::vector<QPalette> &shared = sharedPalettes();
    for (const QPalette &p : shared)
        if (p == colours) // every brush of every group alike
            return p;
    if (shared.size() == FaceButton::PaletteBound)
        shared.erase(shared.begin());
    shared.push_back(colours);
    return shared.back();
}

} // namespace

std::size_t FaceButton::sharedPaletteCount()
{
    return sharedPalettes().size();
}

void FaceButton::initStyleOption(QStyleOptionButton *option) const
{
    QPushButton::initStyleOption(option);
    const QPalette::ColorGroup group = option->palette.currentColorGroup();
    option->palette = sharedPalette(option->palette);
    option->palette.setCurrentColorGroup(group); // not part of the palette's identity
}
