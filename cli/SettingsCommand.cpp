// harvix-cli settings: shows the wizard's stored settings, or changes some of them.
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "settings/RegistryValue.h"
#include "run/SatelliteReading.h"
#include "settings/Settings.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace harvix {

const char* const kSettingsUsage =
    "  settings [NAME=VALUE...]\n"
    "      Without arguments, prints the settings as the wizard loads them, one per\n"
    "      line: name, stored registry type and value, separated by tabs. With arguments,\n"
    "      stores the named values (Booleans as 1 or 0, Priority 1 to 5, texts as given,\n"
    "      a \"%\" included, Language a tag such as de-DE or nothing for the locale's).\n"
    "      Satellites and Language say how the wizard, list and extract read modules\n"
    "      unless their options say otherwise. The store is $HARVIX_REGISTRY, else\n"
    "      ~/.config/harvix/registry.sqlite3.\n";

namespace {

bool isBooleanRow(std::size_t row) {
    return kSettingRows[row].type == REG_DWORD && std::string(kSettingRows[row].name) != "Priority";
}

// The value a text gives for a row, or nothing when it does not fit the row's type.
bool isLanguageRow(std::size_t row) {
    return std::string(kSettingRows[row].name) == "Language";
}

std::optional<SettingValue> parseValue(std::size_t row, const std::string& text) {
    // A language is a tag such as de-DE, or nothing for the locale's.
    if (isLanguageRow(row) && !text.empty() && !IsLanguageChoice(text))
        return std::nullopt;
    if (kSettingRows[row].type == REG_SZ)
        return SettingValue{text};
    if (isBooleanRow(row)) {
        if (text == "1")
            return SettingValue{true};
        if (text == "0")
            return SettingValue{false};
        return std::nullopt;
    }
    int number = 0;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, number);
    if (ec != std::errc() || ptr != end || text.empty() || number < 1 || number > 5)
        return std::nullopt;
    return SettingValue{static_cast<std::int16_t>(number)};
}

int printSettings() {
    const Settings settings = LoadSettingsOrDefaults();
    for (std::size_t row = 0; row < kSettingRows.size(); ++row) {
        // The type the store holds; a value that is not stored has its declared type.
        const std::int32_t type =
            StoredSettingType(kSettingRows[row].name).value_or(kSettingRows[row].type);
        std::printf("%s\t%s\t%s\n", kSettingRows[row].name, RegistryTypeName(type).c_str(),
                    SettingText(settings, row).c_str());
    }
    return 0;
}

} // namespace

int RunSettings(const Args& args) {
    if (args.empty())
        return printSettings();

    // Everything is checked before anything is written.
    std::vector<SettingAssignment> assignments;
    for (const auto& arg : args) {
        const auto eq = arg.find('=');
        if (eq == std::string::npos) {
            Complain("expected NAME=VALUE, got '" + arg + "'");
            return 2;
        }
        const std::string name = arg.substr(0, eq);
        const std::size_t row = FindSettingRow(name);
        if (row == kSettingRows.size()) {
            Complain("unknown setting '" + name + "'");
            return 2;
        }
        auto value = parseValue(row, arg.substr(eq + 1));
        if (!value) {
            Complain("'" + arg.substr(eq + 1) + "' is not a valid value for " +
                     kSettingRows[row].name +
                     (isBooleanRow(row)    ? " (1 or 0)"
                      : isLanguageRow(row) ? " (a language tag such as de-DE, or nothing for the locale's)"
                                           : " (a number from 1 to 5)"));
            return 2;
        }
        assignments.push_back({row, std::move(*value)});
    }

    if (Status saved = SaveSettingValues(assignments); !saved) {
        Complain(saved.error().message);
        return 1;
    }
    return 0;
}

} // namespace harvix
