#include "settings/Settings.h"

#include "common/MessageSource.h"
#include "common/Paths.h"
#include "settings/RegistryStore.h"
#include "settings/RegistryValue.h"
#include "settings/cRegistry.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harvix {

const std::array<SettingRow, kSettingCount> kSettingRows{{
    {"SearchSystem", REG_DWORD},
    {"Folder", REG_SZ},
    {"SubFolders", REG_DWORD},
    {"Mask", REG_SZ},
    {"ResTypesBitmap", REG_DWORD},
    {"ResTypesIcon", REG_DWORD},
    {"ResTypesCursor", REG_DWORD},
    {"ResTypesAniCursor", REG_DWORD},
    {"ResTypesVideo", REG_DWORD},
    {"ResTypesHTML", REG_DWORD},
    {"ResTypesImage", REG_DWORD},
    {"DestPath", REG_SZ},
    {"Priority", REG_DWORD},
    {"Satellites", REG_DWORD},
    {"Language", REG_SZ},
    {"Containers", REG_DWORD},
}};

namespace {

constexpr std::size_t kFirstKindRow = 4;
constexpr std::size_t kDestPathRow = kFirstKindRow + kResourceKindCount;
constexpr std::size_t kPriorityRow = kDestPathRow + 1;
constexpr std::size_t kSatellitesRow = kPriorityRow + 1;
constexpr std::size_t kLanguageRow = kSatellitesRow + 1;
constexpr std::size_t kContainersRow = kLanguageRow + 1;
static_assert(kContainersRow + 1 == kSettingCount);

// The values added after the first stores were written: a store without one of them
// gives its default, not the empty value, so that satellites stay read for a user whose
// settings predate the switch.
bool IsLaterRow(std::size_t row) {
    return row == kFirstKindRow + static_cast<std::size_t>(KindIndex(ResourceKind::Image)) ||
           row == kSatellitesRow || row == kLanguageRow || row == kContainersRow;
}

// Applies `fn` to the field of a row: fn(bool&), fn(std::string&) or fn(std::int16_t&).
template <class S, class Fn> void withField(S& s, std::size_t row, Fn&& fn) {
    switch (row) {
    case 0:
        fn(s.SearchSystem);
        break;
    case 1:
        fn(s.Folder);
        break;
    case 2:
        fn(s.SubFolders);
        break;
    case 3:
        fn(s.Mask);
        break;
    case kDestPathRow:
        fn(s.DestPath);
        break;
    case kPriorityRow:
        fn(s.Priority);
        break;
    case kSatellitesRow:
        fn(s.Satellites);
        break;
    case kLanguageRow:
        fn(s.Language);
        break;
    case kContainersRow:
        fn(s.Containers);
        break;
    default:
        fn(s.ResTypes[row - kFirstKindRow]);
        break;
    }
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return {};
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty())
        return std::nullopt;
    return value;
}

// Reads the value `name` under the settings key, when the key exists.
std::optional<RegVariant> readStored(const std::string& name) {
    cRegistry reg;
    reg.ClassKey(HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSettingsSection);
    reg.ValueKey(name);
    reg.TextsAsTyped(true); // a "%" in a folder name is part of the name
    if (!reg.KeyExists())
        return std::nullopt;
    return reg.Value();
}

void writeStoredOrThrow(const std::string& name, std::int32_t type, const RegVariant& value) {
    cRegistry reg;
    reg.ClassKey(HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSettingsSection);
    reg.ValueKey(name);
    reg.TextsAsTyped(true); // texts are stored as REG_SZ, exactly as typed
    if (!reg.KeyExists())
        reg.CreateKey();
    reg.ValueType(type);
    reg.Value(value);
}

// Writes the value `name` under the settings key; the registry class raises its errors,
// which end here as the store's message.
Status writeStored(const std::string& name, std::int32_t type, const RegVariant& value) {
    try {
        writeStoredOrThrow(name, type, value);
        return success();
    } catch (const RegistryError& e) {
        return makeError(ErrorKind::Io, e.Description());
    }
}


bool settingsKeyExists() {
    cRegistry reg;
    reg.ClassKey(HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSettingsSection);
    return reg.KeyExists();
}

// A user-dirs.dirs line value: "$HOME/Documents" or "/abs/path"; nothing otherwise.
std::optional<std::string> userDirValue(std::string_view raw, const std::string& home) {
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        return std::nullopt;
    std::string value(raw.substr(1, raw.size() - 2));
    if (value.rfind("$HOME", 0) == 0)
        value = home + value.substr(5);
    if (value.empty() || value.front() != '/')
        return std::nullopt;
    return value;
}

} // namespace

std::size_t FindSettingRow(const std::string& name) {
    for (std::size_t i = 0; i < kSettingRows.size(); ++i)
        if (equalsIgnoringCase(kSettingRows[i].name, name))
            return i;
    return kSettingRows.size();
}

std::string SettingText(const Settings& settings, std::size_t row) {
    // Each case builds its text in place rather than assigning a literal to the
    // caller's string: GCC 12 at -O3 reports the inlined literal assignment as an
    // overlapping copy (-Wrestrict), wrongly, and the build treats that as an error.
    std::string text;
    struct Visitor {
        std::string& out;
        void operator()(const bool& b) const { out.push_back(b ? '1' : '0'); }
        void operator()(const std::string& s) const { out.append(s); }
        void operator()(const std::int16_t& n) const { out.append(std::to_string(n)); }
    };
    withField(settings, row, Visitor{text});
    return text;
}

std::optional<std::int32_t> StoredSettingType(const std::string& name) {
    cRegistry reg;
    reg.ClassKey(HKEY_LOCAL_MACHINE);
    reg.SectionKey(kSettingsSection);
    reg.ValueKey(name);
    reg.TextsAsTyped(true);
    // A read that finds the value hands out something else than the empty Default and
    // sets ValueType to the type found.
    if (std::holds_alternative<std::monostate>(reg.Value()))
        return std::nullopt;
    return reg.ValueType();
}

Settings DefaultSettings() {
    Settings s;
    s.SearchSystem = true;
    s.Folder = GetSystemFolder();
    s.SubFolders = true;
    s.Mask = kDefaultMask;
    s.ResTypes.fill(true);
    // Pictures kept whole are looked for only when asked: a first start writes what it
    // wrote before there were images.
    s.ResTypes[static_cast<std::size_t>(KindIndex(ResourceKind::Image))] = false;
    s.DestPath = AddBackslash(GetPersonalFolder()) + "Resources";
    s.Priority = kDefaultPriority;
    s.Satellites = true;
    s.Language.clear();
    s.Containers = false;
    return s;
}

bool ReadSetting(const std::string& name, bool& target) {
    auto value = readStored(name);
    if (!value)
        return false;
    if (const auto* n = std::get_if<std::int32_t>(&*value))
        target = *n != 0;
    else if (const auto* s = std::get_if<std::string>(&*value))
        target = equalsIgnoringCase(*s, "true") || parseInteger(*s).value_or(0) != 0;
    else
        target = false;
    return true;
}

bool ReadSetting(const std::string& name, std::string& target) {
    auto value = readStored(name);
    if (!value)
        return false;
    if (const auto* s = std::get_if<std::string>(&*value))
        target = *s;
    else if (const auto* n = std::get_if<std::int32_t>(&*value))
        target = std::to_string(*n);
    else
        target.clear();
    return true;
}

bool ReadSetting(const std::string& name, std::int16_t& target) {
    auto value = readStored(name);
    if (!value)
        return false;
    std::optional<std::int64_t> number;
    if (const auto* n = std::get_if<std::int32_t>(&*value))
        number = *n;
    else if (const auto* s = std::get_if<std::string>(&*value))
        number = parseInteger(*s);
    // A number that does not fit reads as 0, the value of a missing setting.
    if (number && *number >= std::numeric_limits<std::int16_t>::min() &&
        *number <= std::numeric_limits<std::int16_t>::max())
        target = static_cast<std::int16_t>(*number);
    else
        target = 0;
    return true;
}

Status WriteSetting(const std::string& name, bool value) {
    return writeStored(name, REG_DWORD, std::int32_t{value ? 1 : 0});
}
Status WriteSetting(const std::string& name, std::int16_t value) {
    return writeStored(name, REG_DWORD, value);
}
Status WriteSetting(const std::string& name, std::int32_t value) {
    return writeStored(name, REG_DWORD, value);
}
Status WriteSetting(const std::string& name, const std::string& value) {
    return writeStored(name, REG_SZ, value);
}
Status WriteSetting(const std::string& name, const char* value) {
    return WriteSetting(name, std::string(value ? value : ""));
}

Result<Settings> LoadSettings() {
    // A store that another program keeps locked fails after one wait, instead of one wait
    // for every value; the caller goes on with the defaults, as for an unreadable store.
    if (RegistryStore().busy())
        return makeError(ErrorKind::Io, "the registry store is in use by another program");
    Settings s;
    std::optional<Settings> defaults;
    for (std::size_t row = 0; row < kSettingRows.size(); ++row) {
        withField(s, row, [&](auto& field) {
            const bool missing = IsLaterRow(row) && !StoredSettingType(kSettingRows[row].name);
            if (missing || !ReadSetting(kSettingRows[row].name, field)) {
                if (!defaults)
                    defaults = DefaultSettings();
                withField(*defaults, row, [&](const auto& d) {
                    if constexpr (std::is_same_v<std::decay_t<decltype(d)>,
                                                 std::decay_t<decltype(field)>>)
                        field = d;
                });
            }
        });
    }
    // The slider knows only 1 to 5; anything else (0 for a missing value) is the middle.
    if (s.Priority < 1 || s.Priority > 5)
        s.Priority = kDefaultPriority;
    return s;
}

Settings LoadSettingsOrDefaults() {
    auto loaded = LoadSettings();
    if (loaded)
        return std::move(loaded).value();
    std::fprintf(stderr, "%s%s; using the default settings\n", MessagePrefix().c_str(),
                 loaded.error().message.c_str());
    return DefaultSettings();
}

Status SaveSettings(const Settings& settings) {
    // All the values go in together: a program stopped halfway through leaves either
    // the old values or the new ones, never a key with only some of them.
    RegistryBatch batch;
    // Another program holds the store: give up after the one wait instead of waiting
    // again for each of the values; the store keeps the previous set whole.
    if (batch.busy())
        return makeError(ErrorKind::Io, "Failed to save the settings: the registry store is in "
                                        "use by another program.");
    for (std::size_t row = 0; row < kSettingRows.size(); ++row) {
        Status written = success();
        withField(settings, row,
                  [&](const auto& field) { written = WriteSetting(kSettingRows[row].name, field); });
        if (!written)
            return written;
    }
    if (auto committed = batch.commit(); !committed)
        return makeError(ErrorKind::Io, "Failed to save the settings: " + committed.error().message);
    return success();
}

Status SaveSettingValues(const std::vector<SettingAssignment>& assignments) {
    RegistryBatch batch;
    if (batch.busy())
        return makeError(ErrorKind::Io, "the registry store is in use by another program");
    // A key that holds only some values would give the wizard empty settings for the
    // rest, so a first write stores the complete set it would have loaded.
    if (!settingsKeyExists()) {
        auto loaded = LoadSettings();
        if (!loaded)
            return loaded.error();
        if (Status saved = SaveSettings(*loaded); !saved)
            return saved;
    }
    for (const SettingAssignment& a : assignments) {
        Status written = std::visit(
            [&](const auto& v) { return WriteSetting(kSettingRows[a.row].name, v); }, a.value);
        if (!written)
            return written;
    }
    if (auto committed = batch.commit(); !committed)
        return makeError(ErrorKind::Io, "the settings were not saved: " + committed.error().message);
    return success();
}

bool SaveSettingsAtExit(const Settings& settings) noexcept {
    try {
        if (Status saved = SaveSettings(settings); !saved) {
            std::fprintf(stderr, "%sthe settings were not saved: %s\n", MessagePrefix().c_str(),
                         saved.error().message.c_str());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%sthe settings were not saved: %s\n", MessagePrefix().c_str(),
                     e.what());
    } catch (...) {
        std::fprintf(stderr, "%sthe settings were not saved\n", MessagePrefix().c_str());
    }
    return false;
}

std::string GetSystemFolder() {
    const std::string home = homeFolder();
    const std::string wine = home + "/.wine/drive_c/windows/system32";
    return isFolder(wine) ? wine : home;
}

std::string GetPersonalFolder() {
    const std::string home = homeFolder();
    std::optional<std::string> folder;
    if (const char* env = std::getenv("XDG_DOCUMENTS_DIR"); env && env[0] == '/') {
        folder = env;
    } else {
        std::string config;
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
            config = xdg;
        else if (!home.empty())
            config = home + "/.config";
        std::ifstream in(config + "/user-dirs.dirs");
        std::string line;
        const std::string key = "XDG_DOCUMENTS_DIR=";
        while (std::getline(in, line)) {
            if (line.rfind(key, 0) == 0)
                folder = userDirValue(std::string_view(line).substr(key.size()), home);
        }
    }
    // Without a documents folder the home folder stands in, as the XDG user-directories
    // convention does, so the default destination is ~/Resources and never a folder at
    // the file system's root. A documents folder set to the home folder itself means the
    // same.
    if (!folder)
        return home;
    while (folder->size() > 1 && folder->back() == '/')
        folder->pop_back();
    return *folder;
}

} // namespace harvix
