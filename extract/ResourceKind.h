// The six resource kinds the engine extracts, and the options a run hands to it with
// every file: which kinds are wanted, where they go, and the size and depth limits.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace harvix {

// Always in this order, with these indices: the order of the kind switches, of the kind
// lists and of the first argument of ResFound.
enum class ResourceKind : std::int32_t {
    Bitmap = 0,
    Icon = 1,
    Cursor = 2,
    AniCursor = 3,
    Video = 4,
    Html = 5,
};

inline constexpr int kResourceKindCount = 6;

inline constexpr std::array<ResourceKind, kResourceKindCount> kAllResourceKinds{
    ResourceKind::Bitmap,    ResourceKind::Icon,  ResourceKind::Cursor,
    ResourceKind::AniCursor, ResourceKind::Video, ResourceKind::Html};

inline constexpr int KindIndex(ResourceKind kind) {
    return static_cast<int>(kind);
}

// "BITMAP", "ICON", "CURSOR", "ANICURSOR", "VIDEO", "HTML".
std::string_view KindKey(ResourceKind kind);

// The kind's subfolder below the destination, without a trailing "/": "Bitmaps",
// "Icons", "Cursors", "Animated Cursors", "Videos", "Web pages".
std::string_view KindFolder(ResourceKind kind);

// The extension appended to output file names: ".bmp", ".ico", ".cur", ".ani", ".avi";
// empty for web pages, which keep the extension of their resource name.
std::string_view KindExtension(ResourceKind kind);

// The kind whose resources are enumerated under a type text ("2", "14", "12", "21",
// "AVI", "23"); nothing for any other type.
std::optional<ResourceKind> KindOfTypeText(std::string_view typeText);

// An inclusive range {min, max}, as typed in a limit cell ("8-32").
struct LimitRange {
    std::int32_t min = 0;
    std::int32_t max = 0;

    [[nodiscard]] constexpr bool contains(std::int64_t value) const {
        return value >= min && value <= max;
    }
    friend bool operator==(const LimitRange&, const LimitRange&) = default;
};

using KindSwitches = std::array<bool, kResourceKindCount>;

// Why a resource of a chosen kind was passed over without being written.
enum class LeftOutReason {
    Limits,    // outside the size or colour-depth limits
    Malformed, // not well formed
    Empty,     // empty, or it (or an image it names) is not in the module
};

struct ExtractionOptions {
    KindSwitches kindEnabled{true, true, true, true, true, true};
    std::string destinationFolder;
    LimitRange bitmapDepth{8, 32};
    LimitRange bitmapWidth{0, 3000};
    LimitRange bitmapHeight{16, 48};
    LimitRange iconDepth{8, 32};
    LimitRange iconWidth{16, 32};
    LimitRange iconHeight{16, 32};

    [[nodiscard]] bool enabled(ResourceKind kind) const {
        return kindEnabled[static_cast<std::size_t>(KindIndex(kind))];
    }
};

} // namespace harvix
