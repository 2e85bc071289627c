#include "module/ResourceType.h"

namespace harvix {

std::optional<std::string_view> ResTypeName(std::uint16_t id) {
    switch (static_cast<ResType>(id)) {
    case ResType::Cursor: return "RT_CURSOR";
    case ResType::Bitmap: return "RT_BITMAP";
    case ResType::Icon: return "RT_ICON";
    case ResType::Menu: return "RT_MENU";
    case ResType::Dialog: return "RT_DIALOG";
    case ResType::String: return "RT_STRING";
    case ResType::FontDir: return "RT_FONTDIR";
    case ResType::Font: return "RT_FONT";
    case ResType::Accelerator: return "RT_ACCELERATOR";
    case ResType::RcData: return "RT_RCDATA";
    case ResType::MessageTable: return "RT_MESSAGETABLE";
    case ResType::GroupCursor: return "RT_GROUP_CURSOR";
    case ResType::GroupIcon: return "RT_GROUP_ICON";
    case ResType::Version: return "RT_VERSION";
    case ResType::DlgInclude: return "RT_DLGINCLUDE";
    case ResType::PlugPlay: return "RT_PLUGPLAY";
    case ResType::Vxd: return "RT_VXD";
    case ResType::AniCursor: return "RT_ANICURSOR";
    case ResType::AniIcon: return "RT_ANIICON";
    case ResType::Html: return "RT_HTML";
    case ResType::Manifest: return "RT_MANIFEST";
    }
    return std::nullopt;
}

std::optional<ResId> ResIdFromText(std::string_view text) {
    const bool digits =
        !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
    if (!digits)
        return ResId::name(std::string(text));
    std::uint32_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 0xFFFF)
            return std::nullopt; // no identifier can be that large
    }
    return ResId::number(static_cast<std::uint16_t>(value));
}

} // namespace harvix
