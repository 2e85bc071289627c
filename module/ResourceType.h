// The vocabulary of resources: the numbered resource types Windows defines, the one
// named type this program reads ("AVI"), and ResId, a resource type or name as a module
// stores it. Every other part names a type through this header, never by its number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace harvix {

// The numbered resource types (the RT_ constants of Windows' headers).
enum class ResType : std::uint16_t {
    Cursor = 1,        // one image of a cursor group
    Bitmap = 2,        // a device-independent bitmap without its file header
    Icon = 3,          // one image of an icon group
    Menu = 4,
    Dialog = 5,
    String = 6,
    FontDir = 7,
    Font = 8,
    Accelerator = 9,
    RcData = 10,       // application-defined data
    MessageTable = 11,
    GroupCursor = 12,  // a cursor's directory of images
    GroupIcon = 14,    // an icon's directory of images
    Version = 16,
    DlgInclude = 17,
    PlugPlay = 19,
    Vxd = 20,
    AniCursor = 21,    // an animated cursor file, whole
    AniIcon = 22,
    Html = 23,         // a web page or anything a page refers to, whole
    Manifest = 24,
};

// The name Windows' headers give a numbered type ("RT_GROUP_ICON"); nothing for a number
// that is none of the types above.
[[nodiscard]] std::optional<std::string_view> ResTypeName(std::uint16_t id);

// The type under which modules keep video clips: a type name, compared exactly
// (a type named "avi" is another type).
inline constexpr std::string_view kAviTypeName = "AVI";

// A resource type or name: a numeric identifier (0..65535) or a text (UTF-8, converted
// losslessly from the module's UTF-16, or from the Windows-1252 text of a 16-bit module).
struct ResId {
    bool numeric = true;
    std::uint16_t id = 0;
    std::string text;

    static ResId number(std::uint16_t value) { return ResId{true, value, {}}; }
    static ResId name(std::string value) { return ResId{false, 0, std::move(value)}; }
    static ResId of(ResType type) { return number(static_cast<std::uint16_t>(type)); }

    // True for the numbered type `type` (a type named like its number is not it).
    [[nodiscard]] bool is(ResType type) const {
        return numeric && id == static_cast<std::uint16_t>(type);
    }
    // True for the type or name `text`, compared exactly.
    [[nodiscard]] bool is(std::string_view name) const { return !numeric && text == name; }

    // The text form: decimal digits without sign or leading zeros for a number, the
    // name unchanged otherwise. For records, listings and messages.
    [[nodiscard]] std::string toText() const { return numeric ? std::to_string(id) : text; }

    friend bool operator==(const ResId&, const ResId&) = default;
};

// The identifier a text from outside the program stands for (a name typed by a user,
// a record read back): a text of decimal digits is a numeric identifier (none when it
// is above 65535), anything else a name.
[[nodiscard]] std::optional<ResId> ResIdFromText(std::string_view text);

} // namespace harvix
