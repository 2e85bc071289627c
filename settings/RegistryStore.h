// The registry store: keys below the predefined roots and named, typed values, kept in
// one SQLite database file.
//
// The file lives at $HARVIX_REGISTRY when that is set, else at
// $XDG_CONFIG_HOME/harvix/registry.sqlite3 (~/.config/harvix/registry.sqlite3 when
// XDG_CONFIG_HOME is unset or not absolute). Reads never create it; the first write does.
//
// Every operation is one short transaction on a connection of its own (or on the
// connection of an open `RegistryBatch`), so two running copies never lose each other's
// writes and a process killed during a write leaves the last committed state behind.
//
// Key paths are parts joined by "\"; the empty path is the root itself. Key and value
// names keep the spelling they were created with and are compared without regard to
// case. The empty value name is the key's unnamed default value.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

struct StoredValue {
    std::int32_t type = 0;
    std::vector<std::uint8_t> data;
};

class RegistryStore {
public:
    // A store at `path`; an empty path means DefaultPath() at the time of each operation.
    explicit RegistryStore(std::string path = {});

    // $HARVIX_REGISTRY, else the user's configuration folder.
    static std::string DefaultPath();

    [[nodiscard]] std::string path() const;

    // True when another program has held the store locked for longer than one wait.
    // Reading many values one by one would then wait once for each of them.
    [[nodiscard]] bool busy() const;

    // NotFound when the key does not exist (or the store cannot be read).
    [[nodiscard]] Status openKey(std::int32_t root, std::string_view keyPath) const;
    // Creates the key and every missing parent; succeeds when it exists already.
    [[nodiscard]] Status createKey(std::int32_t root, std::string_view keyPath);
    // Deletes a key with its values; a key that still has sub-keys is refused.
    [[nodiscard]] Status deleteKey(std::int32_t root, std::string_view keyPath);

    [[nodiscard]] Result<StoredValue> queryValue(std::int32_t root, std::string_view keyPath,
                                                 std::string_view name) const;
    // Creates the key when needed and writes the value, all in one transaction.
    [[nodiscard]] Status setValue(std::int32_t root, std::string_view keyPath,
                                  std::string_view name, std::int32_t type,
                                  std::span<const std::uint8_t> data);
    // NotFound when the key or the value does not exist.
    [[nodiscard]] Status deleteValue(std::int32_t root, std::string_view keyPath,
                                     std::string_view name);

    // Value names in the order they were first written.
    [[nodiscard]] Result<std::vector<std::string>> valueNames(std::int32_t root,
                                                              std::string_view keyPath) const;
    // Sub-key names, sorted without regard to case.
    [[nodiscard]] Result<std::vector<std::string>> subKeyNames(std::int32_t root,
                                                               std::string_view keyPath) const;

private:
    std::string m_path;
};

// While one of these is alive, every store operation of this thread on the same file
// runs inside one transaction, which commit() makes permanent; without commit() the
// destructor rolls everything back. Used where several values belong together, so that
// nobody ever sees half of them.
class RegistryBatch {
public:
    explicit RegistryBatch(std::string path = {});
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

    // Whether the transaction could be started; when not, operations run one by one and
    // report their own failures.
    [[nodiscard]] bool active() const { return m_active; }
    // Whether the transaction could not be started because another program held the
    // store for longer than the wait; writing value by value would only wait again.
    [[nodiscard]] bool busy() const { return m_busy; }
    [[nodiscard]] Status commit();

private:
    bool m_active = false;
    bool m_busy = false;
};

// Case folding used for key and value names: ASCII, Latin-1, Latin Extended-A, Greek
// and Cyrillic capitals become small letters; every other byte stays as it is.
std::string FoldRegistryName(std::string_view name);

} // namespace harvix
