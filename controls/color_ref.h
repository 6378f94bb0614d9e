#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

// A colour as the program stores it: 0x00BBGGRR, red in the lowest byte. A value
// with the top bit set names a system colour.
using ColorRef = std::uint32_t;

inline constexpr ColorRef SystemWindowColor = 0x80000005;
inline constexpr ColorRef SystemHighlightColor = 0x8000000D;

// The QColor to draw with; system colours come from the palette. The window colour
// of the Windows scheme is the background of lists and edit fields (white), Qt's
// Base, not the face of dialogs.
inline QColor toQColor(ColorRef color, const QPalette& palette = QPalette())
{
    if (color & 0x80000000u)
        return palette.color(color == SystemHighlightColor ? QPalette::Highlight
                             : color == SystemWindowColor  ? QPalette::Base
                                                           : QPalette::Window);
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}
