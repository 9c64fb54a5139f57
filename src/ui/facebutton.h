#pragma once

#include <QPushButton>

#include <cstddef>

// A push button whose face colour may change while the program runs (the frequency
// buttons' highlight). The style draws button faces through its pixmap cache, keyed by the
// identity of the palette in the style option, not by its colours; and every setPalette()
// gives the widget a palette of a new identity, even for colours it has shown before. So
// each recolouring would miss the cache and add entries under new keys, without end.
// This button hands the style one shared palette for each set of colours instead: the
// colours drawn are the widget's own, and the style's keys repeat.
class FaceButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

    // The shared palettes kept, at most PaletteBound: the oldest goes first.
    static constexpr std::size_t PaletteBound = 16;
    static std::size_t sharedPaletteCount();

protected:
    void initStyleOption(QStyleOptionButton *option) const override;
};
