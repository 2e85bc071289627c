// cRegistry: one registry value addressed by a root key, a key path below it and a value
// name, with the operations on those coordinates. No key stays open between calls:
// every operation is one short transaction of the registry store.
//
// Failures are thrown as RegistryError (number, source, description). Reads never throw
// for a missing key or value: they return Default().
#pragma once

#include "settings/RegistryStore.h"
#include "settings/RegistryValue.h"

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

class RegistryError : public std::exception {
public:
    RegistryError(std::int32_t number, std::string source, std::string description);

    [[nodiscard]] std::int32_t Number() const { return m_number; }
    [[nodiscard]] const std::string& Source() const { return m_source; }
    [[nodiscard]] const std::string& Description() const { return m_description; }
    [[nodiscard]] const char* what() const noexcept override { return m_what.c_str(); }

private:
    std::int32_t m_number;
    std::string m_source;
    std::string m_description;
    std::string m_what;
};

// Error numbers.
inline constexpr std::int32_t kRegErrorGeneral = 26001;
inline constexpr std::int32_t kRegErrorSetValue = static_cast<std::int32_t>(0x800469A9u);
inline constexpr std::int32_t kRegErrorEnumSections = static_cast<std::int32_t>(0x800469AAu);
inline constexpr std::int32_t kRegErrorAssocParams = static_cast<std::int32_t>(0x800469ACu);
inline constexpr std::int32_t kRegErrorAssocNoClass = static_cast<std::int32_t>(0x800469ADu);

// The source text of the errors: the executable's file name without its extension,
// followed by ".cRegistry".
std::string RegistryErrorSource();

class cRegistry {
public:
    // Works on the default store (RegistryStore::DefaultPath()).
    cRegistry() = default;
    // Works on the store file at `storePath`.
    explicit cRegistry(std::string storePath);

    // 1. Whether SectionKey exists under ClassKey; never throws.
    [[nodiscard]] bool KeyExists() const;
    // 2. Creates SectionKey with every missing parent, or opens it when it exists.
    bool CreateKey();
    // 3. Deletes SectionKey (with its values; a key with sub-keys is refused).
    bool DeleteKey();
    // 4. Deletes the value ValueKey of SectionKey.
    bool DeleteValue();
    // 5. Reads the value, or Default() when it cannot be read; a read sets ValueType.
    [[nodiscard]] RegVariant Value();
    //    Writes the value as ValueType says (ValueType itself stays unchanged).
    void Value(const RegVariant& vValue);
    // 6. The value names of SectionKey, in the order they were written. sKeyNames[i]
    //    holds the name with the index i + 1.
    bool EnumerateValues(std::vector<std::string>& sKeyNames, std::int32_t& iKeyCount) const;
    // 7. The sub-key names of SectionKey, sorted; sSect[i] holds the index i + 1.
    bool EnumerateSections(std::vector<std::string>& sSect, std::int32_t& iSectCount) const;
    // 8. Registers a program as the opener of files ending in "." + sAssociation, under
    //    HKEY_CLASSES_ROOT.
    void CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                              const std::string& sClassDescription, const std::string& sAssociation,
                              const std::string& sOpenMenuText = "&Open",
                              bool bSupportPrint = false,
                              const std::string& sPrintMenuText = "&Print",
                              bool bSupportNew = false, const std::string& sNewMenuText = "&New",
                              bool bSupportInstall = false,
                              const std::string& sInstallMenuText = "",
                              std::int32_t lDefaultIconIndex = -1);
    // 9. Adds menu commands to a registered class: vItems holds Name, Text, Command
    //    triples. Failures are not reported to the caller; see LastRecordedError().
    void CreateAdditionalEXEAssociations(const std::string& sClassName,
                                         const std::vector<RegVariant>& vItems);
    // 10-14. Plain properties.
    [[nodiscard]] std::int32_t ValueType() const { return m_valueType; }
    void ValueType(std::int32_t eValueType) { m_valueType = eValueType; }
    [[nodiscard]] std::int32_t ClassKey() const { return m_classKey; }
    void ClassKey(std::int32_t eKey) { m_classKey = eKey; }
    [[nodiscard]] const std::string& SectionKey() const { return m_sectionKey; }
    void SectionKey(const std::string& sSectionKey) { m_sectionKey = sSectionKey; }
    [[nodiscard]] const std::string& ValueKey() const { return m_valueKey; }
    void ValueKey(const std::string& sValueKey) { m_valueKey = sValueKey; }
    [[nodiscard]] const RegVariant& Default() const { return m_default; }
    void Default(const RegVariant& vDefault) { m_default = vDefault; }

    // Texts exactly as typed, for a caller that stores what a user typed: a text write
    // stores the type ValueType names (REG_SZ or REG_EXPAND_SZ), and a read hands an
    // expandable string out as stored, unexpanded. Off by default: a text holding a
    // variable reference is then stored as REG_EXPAND_SZ and read back expanded.
    void TextsAsTyped(bool on) { m_textsAsTyped = on; }

    // The error that the last CreateAdditionalEXEAssociations call recorded, if any.
    [[nodiscard]] const std::optional<RegistryError>& LastRecordedError() const {
        return m_recorded;
    }

private:
    [[nodiscard]] std::string rootText() const;
    [[noreturn]] void raise(std::int32_t number, const std::string& description) const;
    [[noreturn]] void raiseSetValue(std::int32_t number, const RegVariant& vValue) const;

    // The five fields, in declaration order.
    std::int32_t m_classKey = 0;
    std::string m_sectionKey;
    std::string m_valueKey;
    RegVariant m_default;
    std::int32_t m_valueType = 0;

    RegistryStore m_store;
    std::optional<RegistryError> m_recorded;
    bool m_textsAsTyped = false;
};

} // namespace harvix
