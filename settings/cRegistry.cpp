#include "settings/cRegistry.h"

#include <array>
#include <new>
#include <unistd.h>

namespace harvix {

RegistryError::RegistryError(std::int32_t number, std::string source, std::string description)
    : m_number(number), m_source(std::move(source)), m_description(std::move(description)) {
    m_what = "error " + std::to_string(m_number);
    if (!m_source.empty())
        m_what += " (" + m_source + ")";
    if (!m_description.empty())
        m_what += ": " + m_description;
}

std::string RegistryErrorSource() {
    std::array<char, 4096> buffer{};
    const auto n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    std::string name = n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : "harvix";
    if (const auto slash = name.rfind('/'); slash != std::string::npos)
        name.erase(0, slash + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name + ".cRegistry";
}

cRegistry::cRegistry(std::string storePath) : m_store(std::move(storePath)) {}

std::string cRegistry::rootText() const {
    return std::to_string(m_classKey);
}

void cRegistry::raise(std::int32_t number, const std::string& description) const {
    throw RegistryError(number, RegistryErrorSource(), description);
}

void cRegistry::raiseSetValue(std::int32_t number, const RegVariant& vValue) const {
    raise(number, "Failed to set registry value Key: '" + rootText() + "',Section: '" +
                      m_sectionKey + "',Key: '" + m_valueKey + "' to value: '" +
                      VariantToText(vValue) + "'");
}

bool cRegistry::KeyExists() const {
    return m_store.openKey(m_classKey, m_sectionKey).ok();
}

bool cRegistry::CreateKey() {
    if (!m_store.createKey(m_classKey, m_sectionKey).ok())
        raise(kRegErrorGeneral, "Failed to create registry Key: '" + m_sectionKey);
    return true;
}

bool cRegistry::DeleteKey() {
    if (!m_store.deleteKey(m_classKey, m_sectionKey).ok())
        raise(kRegErrorGeneral,
              "Failed to delete registry Key: '" + rootText() + "',Section: '" + m_sectionKey);
    return true;
}

bool cRegistry::DeleteValue() {
    if (!m_store.openKey(m_classKey, m_sectionKey).ok())
        raise(kRegErrorGeneral, "Failed to open key '" + rootText() + "',Section: '" +
                                    m_sectionKey + "' for delete access");
    if (!m_store.deleteValue(m_classKey, m_sectionKey, m_valueKey).ok())
        raise(kRegErrorGeneral, "Failed to delete registry Key: '" + rootText() + "',Section: '" +
                                    m_sectionKey + "',Key: '" + m_valueKey);
    return true;
}

RegVariant cRegistry::Value() {
    auto stored = m_store.queryValue(m_classKey, m_sectionKey, m_valueKey);
    if (!stored)
        return m_default;
    m_valueType = stored->type;
    if (m_textsAsTyped) {
        // Nothing is expanded: every "%" stays where it was typed.
        const auto noVariables = [](std::string_view) -> std::optional<std::string> {
            return std::nullopt;
        };
        return DecodeStoredValue(stored->type, stored->data, noVariables);
    }
    return DecodeStoredValue(stored->type, stored->data, ProcessEnvironment);
}

namespace {

std::vector<std::uint8_t> textBytes(const std::string& text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

std::optional<std::int32_t> integerOf(const RegVariant& value) {
    if (const auto* v16 = std::get_if<std::int16_t>(&value))
        return *v16;
    if (const auto* v32 = std::get_if<std::int32_t>(&value))
        return *v32;
    return std::nullopt;
}

} // namespace

void cRegistry::Value(const RegVariant& vValue) {
    // Creating the key and writing the value make one transaction.
    RegistryBatch batch(m_store.path());
    if (!m_store.createKey(m_classKey, m_sectionKey).ok())
        raiseSetValue(kRegErrorGeneral, vValue);

    std::int32_t type = m_valueType;
    std::vector<std::uint8_t> data;
    switch (m_valueType) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const std::string text = VariantToText(vValue);
        // The stored type follows the text: a variable reference makes it expandable,
        // unless the caller keeps its texts as typed.
        if (!m_textsAsTyped)
            type = LooksExpandable(text) ? REG_EXPAND_SZ : REG_SZ;
        data = textBytes(text);
        break;
    }
    case REG_BINARY: {
        const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&vValue);
        if (!bytes)
            throw RegistryError(kRegErrorGeneral, "", "");
        data = *bytes;
        break;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        // Always stored as a little-endian REG_DWORD, whatever ValueType asked for.
        const auto number = integerOf(vValue);
        if (!number) // a value that is no integer is refused rather than dropped silently
            raiseSetValue(kRegErrorSetValue, vValue);
        const auto bits = static_cast<std::uint32_t>(*number);
        data = {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)};
        type = REG_DWORD;
        break;
    }
    default:
        raiseSetValue(kRegErrorSetValue, vValue);
    }
    if (!m_store.setValue(m_classKey, m_sectionKey, m_valueKey, type, data).ok() ||
        !batch.commit().ok())
        raiseSetValue(kRegErrorSetValue, vValue);
}

bool cRegistry::EnumerateValues(std::vector<std::string>& sKeyNames,
                                std::int32_t& iKeyCount) const {
    iKeyCount = 0;
    sKeyNames.clear();
    auto names = m_store.valueNames(m_classKey, m_sectionKey);
    if (names) {
        sKeyNames = std::move(names.value());
        iKeyCount = static_cast<std::int32_t>(sKeyNames.size());
    }
    return true;
}

bool cRegistry::EnumerateSections(std::vector<std::string>& sSect, std::int32_t& iSectCount) const {
    iSectCount = 0;
    sSect.clear();
    try {
        auto names = m_store.subKeyNames(m_classKey, m_sectionKey);
        if (names) {
            sSect = std::move(names.value());
            iSectCount = static_cast<std::int32_t>(sSect.size());
        }
    } catch (const std::exception& e) {
        iSectCount = 0;
        sSect.clear();
        raise(kRegErrorEnumSections, e.what());
    }
    return true;
}

namespace {

std::string trimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

} // namespace

void cRegistry::CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                                     const std::string& sClassDescription,
                                     const std::string& sAssociation,
                                     const std::string& sOpenMenuText, bool bSupportPrint,
                                     const std::string& sPrintMenuText, bool bSupportNew,
                                     const std::string& sNewMenuText, bool bSupportInstall,
                                     const std::string& sInstallMenuText,
                                     std::int32_t lDefaultIconIndex) {
    std::string path = trimBlanks(sExePath);
    if (path.empty() || path.front() != '"')
        path.insert(path.begin(), '"');
    if (path.back() != '"')
        path.push_back('"');
    const std::string& c = sClassName;
    const std::string quotedArgument = "\"%1\"";

    m_classKey = HKEY_CLASSES_ROOT;
    m_valueType = REG_SZ;
    m_valueKey.clear();
    auto write = [this](const std::string& key, const std::string& text) {
        m_sectionKey = key;
        Value(RegVariant(text));
    };
    auto orDefault = [](const std::string& text, const std::string& fallback) {
        return text.empty() ? fallback : text;
    };

    write("." + sAssociation, c);
    write(c, sClassDescription);
    write(c + "\\shell\\open", orDefault(sOpenMenuText, "&Open"));
    write(c + "\\shell\\open\\command", path + " " + quotedArgument);
    if (bSupportPrint) {
        write(c + "\\shell\\print", orDefault(sPrintMenuText, "&Print"));
        write(c + "\\shell\\print\\command", path + " /p " + quotedArgument);
    }
    if (bSupportInstall) {
        write(c + "\\shell\\add", orDefault(sInstallMenuText, "&Install " + sAssociation));
        write(c + "\\shell\\add\\command", path + " /a " + quotedArgument);
    }
    if (bSupportNew) {
        write(c + "\\shell\\new", orDefault(sNewMenuText, "&New"));
        write(c + "\\shell\\new\\command", path + " /n " + quotedArgument);
    }
    if (lDefaultIconIndex >= 0)
        write(c + "\\DefaultIcon", path + "," + std::to_string(lDefaultIconIndex));
}

void cRegistry::CreateAdditionalEXEAssociations(const std::string& sClassName,
                                                const std::vector<RegVariant>& vItems) {
    m_recorded.reset();
    if (vItems.size() % 3 != 0) {
        m_recorded.emplace(kRegErrorAssocParams, RegistryErrorSource(),
                           "Invalid parameter list passed to CreateAdditionalEXEAssociations - "
                           "expected Name/Text/Command");
        return;
    }
    m_sectionKey = sClassName;
    if (!KeyExists()) {
        m_recorded.emplace(kRegErrorAssocNoClass, RegistryErrorSource(),
                           "Error - attempt to create additional associations before class "
                           "defined.");
        return;
    }
    m_valueKey.clear();
    for (std::size_t i = 0; i + 2 < vItems.size(); i += 3) {
        const std::string name = VariantToText(vItems[i]);
        m_valueType = REG_SZ;
        // Each write stands on its own: one that fails is skipped and the next runs.
        try {
            m_sectionKey = sClassName + "\\shell\\" + name;
            Value(vItems[i + 1]);
        } catch (const RegistryError& e) {
            m_recorded = e;
        }
        try {
            m_sectionKey = sClassName + "\\shell\\" + name + "\\command";
            Value(vItems[i + 2]);
        } catch (const RegistryError& e) {
            m_recorded = e;
        }
    }
}

} // namespace harvix
