#include "controls/SystemColours.h"

namespace harvix {

PaletteSlot SystemColourSlot(std::uint32_t value) {
    switch (value & 0xFFU) {
    case 0x01: // desktop
    case 0x0C: // application workspace
        return {QPalette::Active, QPalette::Dark};
    case 0x02: // active title bar
    case 0x0D: // selection background
        return {QPalette::Active, QPalette::Highlight};
    case 0x03: // inactive title bar
        return {QPalette::Inactive, QPalette::Highlight};
    case 0x05: // window background
        return {QPalette::Active, QPalette::Base};
    case 0x06: // window frame
    case 0x15: // 3-D dark shadow
        return {QPalette::Active, QPalette::Shadow};
    case 0x07: // menu text
    case 0x08: // window text
        return {QPalette::Active, QPalette::Text};
    case 0x09: // title bar text
    case 0x0E: // selected text
        return {QPalette::Active, QPalette::HighlightedText};
    case 0x10: // button shadow
        return {QPalette::Active, QPalette::Dark};
    case 0x11: // disabled text
        return {QPalette::Disabled, QPalette::WindowText};
    case 0x12: // button text
        return {QPalette::Active, QPalette::ButtonText};
    case 0x13: // inactive title bar text
        return {QPalette::Inactive, QPalette::HighlightedText};
    case 0x14: // button highlight
        return {QPalette::Active, QPalette::Light};
    case 0x16: // 3-D light
        return {QPalette::Active, QPalette::Midlight};
    case 0x17: // tooltip text
        return {QPalette::Active, QPalette::ToolTipText};
    case 0x18: // tooltip background
        return {QPalette::Active, QPalette::ToolTipBase};
    default: // button face, scroll bar, menu, borders: the dialog surface
        return {QPalette::Active, QPalette::Window};
    }
}

QColor ResolveColour(std::uint32_t value, const QPalette& palette) {
    if (IsSystemColour(value)) {
        const PaletteSlot slot = SystemColourSlot(value);
        return palette.color(slot.group, slot.role);
    }
    return QColor(static_cast<int>(value & 0xFFU), static_cast<int>((value >> 8) & 0xFFU),
                  static_cast<int>((value >> 16) & 0xFFU));
}

} // namespace harvix
