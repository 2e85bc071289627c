// The resource table as both module readers keep it once read: the types in the order
// the module stores them, each with its resources in stored order, and beside them
// indexes sorted by identifier for exact lookups. Of equal identifiers (a damaged or
// merely odd module can repeat one) the first stored is found, as Windows finds it.
#pragma once

#include "module/ModuleAccess.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace harvix {

// Orders identifiers for the lookup indexes: numbers by value before names by their bytes.
[[nodiscard]] inline bool idLess(const ResId& a, const ResId& b) {
    if (a.numeric != b.numeric)
        return a.numeric;
    return a.numeric ? a.id < b.id : a.text < b.text;
}

// One type of a table: its identifier and its resources (`Name` is the reader's record of
// one resource; it has an `id`).
template <class Name>
struct ResourceType {
    ResId id;
    std::vector<Name> names;              // stored order
    std::vector<std::uint32_t> nameIndex; // positions in `names`, sorted by identifier
};

template <class Name>
class ResourceTable {
public:
    using Type = ResourceType<Name>;

    ResourceTable() = default;
    // Takes the types as read, in stored order, and builds the lookup indexes.
    explicit ResourceTable(std::vector<Type> types) : m_types(std::move(types)) {
        m_typeIndex = indexOf(m_types);
        for (Type& type : m_types)
            type.nameIndex = indexOf(type.names);
    }

    // The types in stored order.
    [[nodiscard]] const std::vector<Type>& types() const { return m_types; }

    [[nodiscard]] const Type* findType(const ResId& type) const { return findIn(m_types, m_typeIndex, type); }
    [[nodiscard]] const Name* findName(const ResId& type, const ResId& name) const {
        const Type* t = findType(type);
        return t ? findIn(t->names, t->nameIndex, name) : nullptr;
    }

    // The identifiers of the types, and of the resources of one type, in stored order.
    [[nodiscard]] std::vector<ResId> typeIds() const {
        std::vector<ResId> out;
        out.reserve(m_types.size());
        for (const Type& t : m_types)
            out.push_back(t.id);
        return out;
    }
    [[nodiscard]] std::vector<ResId> nameIds(const ResId& type) const {
        std::vector<ResId> out;
        if (const Type* t = findType(type)) {
            out.reserve(t->names.size());
            for (const Name& n : t->names)
                out.push_back(n.id);
        }
        return out;
    }

private:
    template <class Entries>
    static std::vector<std::uint32_t> indexOf(const Entries& entries) {
        std::vector<std::uint32_t> index(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i)
            index[i] = static_cast<std::uint32_t>(i);
        // Stable: of two equal identifiers the first stored is found.
        std::stable_sort(index.begin(), index.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return idLess(entries[a].id, entries[b].id); });
        return index;
    }

    template <class Entries>
    static const typename Entries::value_type* findIn(const Entries& entries, const std::vector<std::uint32_t>& index,
                                                      const ResId& id) {
        auto it = std::lower_bound(index.begin(), index.end(), id,
                                   [&](std::uint32_t i, const ResId& key) { return idLess(entries[i].id, key); });
        if (it == index.end() || !(entries[*it].id == id))
            return nullptr;
        return &entries[*it];
    }

    std::vector<Type> m_types;
    std::vector<std::uint32_t> m_typeIndex; // positions in `m_types`, sorted by identifier
};

} // namespace harvix
