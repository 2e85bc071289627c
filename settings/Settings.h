// The persistent settings: the record the wizard works on, and its load and save
// through the registry under HKEY_LOCAL_MACHINE\Software\Harvix. No Qt here: the
// window, the search run and harvix-cli all use it.
#pragma once

#include "common/Result.h"
#include "extract/ResourceKind.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace harvix {

struct Settings {
    bool SearchSystem = false; // true: all local disks; false: Folder only
    std::string Folder;
    bool SubFolders = false;
    std::string Mask;
    KindSwitches ResTypes{}; // in ResourceKind order: BITMAP, ICON, ... HTML, IMAGE
    std::string DestPath;
    std::int16_t Priority = 0; // slider position 1 to 5; 3 is the normal priority
    // Modules are read with the resource files Windows keeps for them elsewhere (the
    // SystemResources folder's NAME.mun, a language folder's NAME.mui).
    bool Satellites = true;
    std::string Language; // the language whose NAME.mui files are read; empty: the locale's
    // The search looks inside the installers, archives and disc images it meets.
    bool Containers = false;

    friend bool operator==(const Settings&, const Settings&) = default;
};

inline constexpr const char* kSettingsSection = "Software\\Harvix";
inline constexpr const char* kDefaultMask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";
inline constexpr std::int16_t kDefaultPriority = 3;

// One stored setting: its value name and registry type (REG_DWORD or REG_SZ).
struct SettingRow {
    const char* name;
    std::int32_t type;
};

// The values in their fixed order: SearchSystem, Folder, SubFolders, Mask,
// ResTypesBitmap ... ResTypesHTML, ResTypesImage, DestPath, Priority, Satellites,
// Language, Containers.
inline constexpr std::size_t kSettingCount = 16;
extern const std::array<SettingRow, kSettingCount> kSettingRows;

// The row of a value name (compared without regard to case), or kSettingRows.size().
std::size_t FindSettingRow(const std::string& name);

// The value of a row's field as text: Booleans as 1 or 0, Priority in decimal, texts
// as they stand.
std::string SettingText(const Settings& settings, std::size_t row);

// The registry type a setting is stored with; nothing when the key or the value is
// missing.
std::optional<std::int32_t> StoredSettingType(const std::string& name);

// What a machine without the stored key starts with.
Settings DefaultSettings();

// Fills the record from the registry: all defaults when the key is missing or cannot be
// read; when it exists, a missing value gives the empty value of its field (false, "",
// 0), but for the values stores written before they existed lack (ResTypesImage,
// Satellites, Language, Containers), which keep their defaults. A Priority outside 1 to 5 becomes 3. Fails only when another program holds the
// store (after one wait): the caller then goes on with the defaults.
[[nodiscard]] Result<Settings> LoadSettings();

// LoadSettings for a front end that goes on whatever happens: the defaults, with the
// reason told in one line on stderr, when the store could not be read.
Settings LoadSettingsOrDefaults();

// Writes all the values, as one transaction when the store allows it. Fails, with a
// message that says why, when the key cannot be created or a value cannot be written;
// the store then keeps the set it held.
[[nodiscard]] Status SaveSettings(const Settings& settings);

// A value for one setting: a Boolean, the priority, or a text.
using SettingValue = std::variant<bool, std::int16_t, std::string>;
struct SettingAssignment {
    std::size_t row; // in kSettingRows
    SettingValue value;
};

// Stores some of the values together (harvix-cli settings NAME=VALUE): one transaction;
// when the key did not exist yet, the complete set that a load would have given is
// stored with them, so that the wizard never finds a key with only some values.
[[nodiscard]] Status SaveSettingValues(const std::vector<SettingAssignment>& assignments);

// SaveSettings for the end of the program: a failure is told in one line on stderr and
// the result is false; nothing is thrown.
bool SaveSettingsAtExit(const Settings& settings) noexcept;

// True when the key exists; the target then holds the value read (converted to the
// target's type; a text as stored, never expanded). False leaves the target unchanged.
bool ReadSetting(const std::string& name, bool& target);
bool ReadSetting(const std::string& name, std::string& target);
bool ReadSetting(const std::string& name, std::int16_t& target);

// Writes one value, creating the key when needed: Booleans as the DWORDs 1 and 0,
// integers as DWORDs, texts as REG_SZ exactly as typed (a %VARIABLE% in them is kept,
// not expanded when read back).
[[nodiscard]] Status WriteSetting(const std::string& name, bool value);
[[nodiscard]] Status WriteSetting(const std::string& name, std::int16_t value);
[[nodiscard]] Status WriteSetting(const std::string& name, std::int32_t value);
[[nodiscard]] Status WriteSetting(const std::string& name, const std::string& value);
[[nodiscard]] Status WriteSetting(const std::string& name, const char* value);

// The default search folder: the Wine prefix's drive_c/windows/system32 below the home
// folder when it exists, else the home folder.
std::string GetSystemFolder();

// The user's documents folder (XDG_DOCUMENTS_DIR, from the environment or from
// user-dirs.dirs); the home folder when none is configured; "" only when not even the
// home folder is known.
std::string GetPersonalFolder();

} // namespace harvix
