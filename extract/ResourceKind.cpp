#include "extract/ResourceKind.h"

namespace harvix {

namespace {

struct KindInfo {
    std::string_view key;
    std::string_view folder;
    std::string_view extension;
    std::string_view typeText;
};

// Indexed by ResourceKind.
constexpr std::array<KindInfo, kResourceKindCount> kKinds{{
    {"BITMAP", "Bitmaps", ".bmp", "2"},
    {"ICON", "Icons", ".ico", "14"},
    {"CURSOR", "Cursors", ".cur", "12"},
    {"ANICURSOR", "Animated Cursors", ".ani", "21"},
    {"VIDEO", "Videos", ".avi", "AVI"},
    {"HTML", "Web pages", "", "23"},
}};

const KindInfo& Info(ResourceKind kind) {
    return kKinds[static_cast<std::size_t>(KindIndex(kind))];
}

} // namespace

std::string_view KindKey(ResourceKind kind) {
    return Info(kind).key;
}
std::string_view KindFolder(ResourceKind kind) {
    return Info(kind).folder;
}
std::string_view KindExtension(ResourceKind kind) {
    return Info(kind).extension;
}

std::optional<ResourceKind> KindOfTypeText(std::string_view typeText) {
    // Tested in this order: bitmap, icon, cursor, animated cursor, video, web page.
    static constexpr std::array<ResourceKind, kResourceKindCount> order{
        ResourceKind::Bitmap,    ResourceKind::Icon,  ResourceKind::Cursor,
        ResourceKind::AniCursor, ResourceKind::Video, ResourceKind::Html};
    for (ResourceKind kind : order)
        if (Info(kind).typeText == typeText)
            return kind;
    return std::nullopt;
}

} // namespace harvix
