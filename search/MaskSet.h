// The masks of one search, prepared once so that testing a file name costs no
// allocation: every mask is decoded and case-folded in advance.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

class MaskSet {
public:
    MaskSet() = default;
    // Each element is one mask text as MatchesWildcard takes it.
    explicit MaskSet(const std::vector<std::string>& maskTexts);

    // True when at least one mask matches the whole name.
    [[nodiscard]] bool Matches(std::string_view name) const;

    // A mask text compiled on its own: whether it matches every name, and its patterns.
    void AddMaskText(std::string_view maskText);

private:
    std::vector<std::vector<std::uint32_t>> m_patterns;
    bool m_matchAll = false;
    mutable std::vector<std::uint32_t> m_name; // the folded name, reused between calls
};

} // namespace harvix
