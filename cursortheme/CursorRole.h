// The roles of Windows cursors (the values under "Control Panel\Cursors") and the names
// under which Linux desktops and toolkits look the same cursor up in an Xcursor theme.
// One table; everything else reads it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace harvix {

// In the order of a cursor scheme's registry value (Windows 10's seventeen roles; older
// schemes stop after Hand).
enum class CursorRole {
    Arrow,       // Normal Select
    Help,        // Help Select
    AppStarting, // Working in Background
    Wait,        // Busy
    Crosshair,   // Precision Select
    IBeam,       // Text Select
    NWPen,       // Handwriting
    No,          // Unavailable
    SizeNS,      // Vertical Resize
    SizeWE,      // Horizontal Resize
    SizeNWSE,    // Diagonal Resize 1
    SizeNESW,    // Diagonal Resize 2
    SizeAll,     // Move
    UpArrow,     // Alternate Select
    Hand,        // Link Select
    Pin,         // Location Select
    Person,      // Person Select
};

inline constexpr std::size_t kCursorRoleCount = 17;

struct CursorRoleInfo {
    CursorRole role;
    std::string_view registryName; // the value's name under "Control Panel\Cursors"
    std::string_view description;  // as the Mouse settings of Windows name it
    std::uint16_t resourceId;      // the OCR_ identifier of the system's cursor
    // The name of the file the theme holds, then every other name it answers to, as
    // symbolic links: X core cursor names, CSS names, and the hashes of the bitmaps that
    // toolkits ask for first.
    std::span<const std::string_view> names;
};

// The table, in CursorRole order.
[[nodiscard]] std::span<const CursorRoleInfo> CursorRoles();
[[nodiscard]] const CursorRoleInfo& InfoOf(CursorRole role);

// The role a registry value name stands for ("Arrow", "SizeNWSE"), without regard to case.
[[nodiscard]] std::optional<CursorRole> RoleFromRegistryName(std::string_view name);

// The role a cursor file's name suggests ("Normal Select.cur", "busy.ani", "link.cur",
// "aero_unavail_xl.cur"), without regard to case and extension; nothing when none does.
[[nodiscard]] std::optional<CursorRole> GuessRoleFromFileName(std::string_view fileName);

// The role of a system cursor by its resource identifier (32512 OCR_NORMAL, ...).
[[nodiscard]] std::optional<CursorRole> RoleFromResourceId(std::uint32_t id);

} // namespace harvix
