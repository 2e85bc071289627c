// The seven resource kinds the engine extracts, and the options a run hands to it with
// every file: which kinds are wanted, where they go, and the size and depth limits.
// Everything that belongs to a kind - its index, key, label, folder, extension, the
// tool's name for it, its resource types and its default limits - is in the one table
// kKinds below; every other part reads it from there.
#pragma once

#include "module/ResourceType.h"

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
    Image = 6, // whole picture files kept as data (RCDATA and types of their own)
};

inline constexpr int kResourceKindCount = 7;

inline constexpr int KindIndex(ResourceKind kind) {
    return static_cast<int>(kind);
}

// An inclusive range {min, max}, as typed in a limit cell ("8-32").
struct LimitRange {
    std::int32_t min = 0;
    std::int32_t max = 0;

    [[nodiscard]] constexpr bool contains(std::int64_t value) const {
        return value >= min && value <= max;
    }
    friend bool operator==(const LimitRange&, const LimitRange&) = default;
};

// The three limits of a kind that has them: colour depth, width, height.
struct LimitSet {
    LimitRange depth;
    LimitRange width;
    LimitRange height;
    friend bool operator==(const LimitSet&, const LimitSet&) = default;
};

// The resource type a kind's resources are enumerated under: a numbered type, or a type
// name, which is compared exactly (case-sensitive); pictures kept whole are looked for
// under RCDATA and under every type that is a name (a kind before it in the table keeps
// the names it reads: "AVI" stays the videos').
struct KindType {
    std::optional<ResType> numbered; // the numbered type; none when the type is a name
    std::string_view name;           // the type name ("AVI"); empty for a numbered type
    bool anyName = false;            // every named type as well as the numbered one

    // The type as modules store it.
    [[nodiscard]] ResId id() const {
        return numbered ? ResId::of(*numbered) : ResId::name(std::string(name));
    }
    // True for `type` exactly: a type named like a number is no numbered type, and "avi"
    // is not "AVI".
    [[nodiscard]] bool matches(const ResId& type) const {
        if (anyName && !type.numeric)
            return true;
        return numbered ? type.is(*numbered) : type.is(name);
    }
};

// Everything that belongs to one kind.
struct KindInfo {
    ResourceKind kind;
    std::string_view key;       // "BITMAP": the row key of both kind lists
    std::string_view label;     // "Bitmap": the row text of both kind lists
    std::string_view folder;    // "Bitmaps": the subfolder below the destination
    std::string_view extension; // ".bmp"; empty for web pages, which keep their own, and
                                // for images, whose files are named by what they hold
    std::string_view toolName;  // "bitmap": harvix-cli's name of the kind (--kinds)
    KindType type;              // the type its resources are enumerated under
    std::optional<ResType> memberType; // the type of a group's images; none for other kinds
    std::optional<LimitSet> defaultLimits; // the limits a start begins with; of the
                                           // kinds the wizard edits: bitmaps and icons
};

// Indexed by ResourceKind. The type tests of the engine run in this order too.
// clang-format off
inline constexpr std::array<KindInfo, kResourceKindCount> kKinds{{
    // kind, key, label, folder, extension, tool name, type, member type, default limits
    {ResourceKind::Bitmap,    "BITMAP",    "Bitmap",          "Bitmaps",          ".bmp", "bitmap",    {ResType::Bitmap, ""},      std::nullopt,       LimitSet{{8, 32}, {0, 3000}, {16, 48}}},
    {ResourceKind::Icon,      "ICON",      "Icon",            "Icons",            ".ico", "icon",      {ResType::GroupIcon, ""},   ResType::Icon,      LimitSet{{8, 32}, {16, 32}, {16, 32}}},
    {ResourceKind::Cursor,    "CURSOR",    "Cursor",          "Cursors",          ".cur", "cursor",    {ResType::GroupCursor, ""}, ResType::Cursor,    std::nullopt},
    {ResourceKind::AniCursor, "ANICURSOR", "Animated cursor", "Animated Cursors", ".ani", "anicursor", {ResType::AniCursor, ""},   std::nullopt,       std::nullopt},
    {ResourceKind::Video,     "VIDEO",     "Video (AVI)",     "Videos",           ".avi", "video",     {std::nullopt, kAviTypeName}, std::nullopt,     std::nullopt},
    {ResourceKind::Html,      "HTML",      "Web page",        "Web pages",        "",     "html",      {ResType::Html, ""},        std::nullopt,       std::nullopt},
    {ResourceKind::Image,     "IMAGE",     "Image",           "Images",           "",     "image",     {ResType::RcData, "", true}, std::nullopt,      std::nullopt},
}};
// clang-format on

inline constexpr const KindInfo& KindOf(ResourceKind kind) {
    return kKinds[static_cast<std::size_t>(KindIndex(kind))];
}

// The kinds in their order, for loops over all of them.
inline constexpr std::array<ResourceKind, kResourceKindCount> kAllResourceKinds = [] {
    std::array<ResourceKind, kResourceKindCount> kinds{};
    for (std::size_t i = 0; i < kinds.size(); ++i)
        kinds[i] = kKinds[i].kind;
    return kinds;
}();

// "BITMAP", "ICON", "CURSOR", "ANICURSOR", "VIDEO", "HTML", "IMAGE".
inline constexpr std::string_view KindKey(ResourceKind kind) {
    return KindOf(kind).key;
}

// "Bitmap", "Icon", "Cursor", "Animated cursor", "Video (AVI)", "Web page", "Image".
inline constexpr std::string_view KindLabel(ResourceKind kind) {
    return KindOf(kind).label;
}

// The kind's subfolder below the destination, without a trailing "/": "Bitmaps",
// "Icons", "Cursors", "Animated Cursors", "Videos", "Web pages", "Images".
inline constexpr std::string_view KindFolder(ResourceKind kind) {
    return KindOf(kind).folder;
}

// The extension appended to output file names: ".bmp", ".ico", ".cur", ".ani", ".avi";
// empty for web pages, which keep the extension of their resource name, and for images,
// which get the extension of the picture file they hold (".png", ".jpg", ...).
inline constexpr std::string_view KindExtension(ResourceKind kind) {
    return KindOf(kind).extension;
}

// The default limits of bitmaps and icons (the kinds that have limits).
inline constexpr const LimitSet& DefaultLimits(ResourceKind kind) {
    return *KindOf(kind).defaultLimits;
}

// The kind whose resources are enumerated under a module's resource type: one of the
// kinds' numbered types, or the type named exactly "AVI"; RCDATA and every other type
// that is a name ("PNG", "IMAGE", "avi", "2") are the images'.
std::optional<ResourceKind> KindOfType(const ResId& type);

// The kind of harvix-cli's name for it ("bitmap" ... "html", "image"); nothing for other
// names.
std::optional<ResourceKind> KindOfToolName(std::string_view name);

using KindSwitches = std::array<bool, kResourceKindCount>;

// Why a resource of a chosen kind was passed over without being written.
enum class LeftOutReason {
    Limits,    // outside the size or colour-depth limits
    Malformed, // not well formed
    Empty,     // empty, or it (or an image it names) is not in the module
};

// A resource left out: the reason, and what exactly, in words a user understands
// ("bitmap height 3000 outside the limit 16-48"); the detail may be empty.
struct LeftOut {
    LeftOutReason reason = LeftOutReason::Malformed;
    std::string detail;
};

// The width and height a picture kept whole may have, both ends included, unless a run
// says otherwise: every picture a screen can show.
inline constexpr LimitRange kDefaultImageSide{1, 16384};

struct ExtractionOptions {
    // Every kind but the images: a run that does not name its kinds writes what it wrote
    // before pictures kept whole were looked for.
    KindSwitches kindEnabled{true, true, true, true, true, true, false};
    std::string destinationFolder;
    LimitRange bitmapDepth = DefaultLimits(ResourceKind::Bitmap).depth;
    LimitRange bitmapWidth = DefaultLimits(ResourceKind::Bitmap).width;
    LimitRange bitmapHeight = DefaultLimits(ResourceKind::Bitmap).height;
    LimitRange iconDepth = DefaultLimits(ResourceKind::Icon).depth;
    LimitRange iconWidth = DefaultLimits(ResourceKind::Icon).width;
    LimitRange iconHeight = DefaultLimits(ResourceKind::Icon).height;
    LimitRange imageWidth = kDefaultImageSide;
    LimitRange imageHeight = kDefaultImageSide;
    // Each file content is written once per folder: a resource whose file would hold the
    // bytes of one written earlier in the run gets a record naming that file instead.
    bool unique = false;

    [[nodiscard]] bool enabled(ResourceKind kind) const {
        return kindEnabled[static_cast<std::size_t>(KindIndex(kind))];
    }
};

} // namespace harvix
