#pragma once
// Colour values as the window's controls store them: either an RGB value 0x00BBGGRR or
// a system colour 0x800000nn, which stands for the desktop theme's colour with index nn
// and is resolved through the widget palette when drawn.

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace harvix {

inline constexpr std::uint32_t kSysWindow = 0x80000005U;       // window background
inline constexpr std::uint32_t kSysWindowText = 0x80000008U;   // window text
inline constexpr std::uint32_t kSysButtonFace = 0x8000000FU;   // button face
inline constexpr std::uint32_t kSysButtonShadow = 0x80000010U; // button shadow
inline constexpr std::uint32_t kSysGrayText = 0x80000011U;     // disabled text
inline constexpr std::uint32_t kSysButtonText = 0x80000012U;   // button text
inline constexpr std::uint32_t kSysButtonHighlight = 0x80000014U;

[[nodiscard]] constexpr bool IsSystemColour(std::uint32_t value) {
    return (value & 0xFF000000U) == 0x80000000U;
}

// RGB values are stored red in the low byte.
[[nodiscard]] constexpr std::uint32_t RGBValue(int r, int g, int b) {
    return static_cast<std::uint32_t>(r & 0xFF) | (static_cast<std::uint32_t>(g & 0xFF) << 8) |
           (static_cast<std::uint32_t>(b & 0xFF) << 16);
}

// The colour a stored value stands for under the given palette. An unknown system colour
// index resolves to the palette's window colour.
[[nodiscard]] QColor ResolveColour(std::uint32_t value, const QPalette& palette);

// The palette group and role a system colour maps to (for colouring widgets that draw
// through the palette).
struct PaletteSlot {
    QPalette::ColorGroup group = QPalette::All;
    QPalette::ColorRole role = QPalette::Window;
};
[[nodiscard]] PaletteSlot SystemColourSlot(std::uint32_t value);

} // namespace harvix
