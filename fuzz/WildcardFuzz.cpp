// Fuzzes the file-name wildcard match: the input is a mask text, a line break and a
// file name. Besides not crashing, the match must not depend on ASCII case and a mask
// without wildcards or list separators must match its own text.
#include "search/MaskSet.h"
#include "search/SearchCore.h"
#include "search/Wildcard.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view mask = std::string_view(input).substr(0, split);
    const std::string_view name =
        split == std::string::npos ? std::string_view{} : std::string_view(input).substr(split + 1);

    const bool matches = harvix::MatchesWildcard(name, mask);
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (harvix::MatchesWildcard(upper, mask) != matches)
        std::abort();

    if (!mask.empty() && mask.find_first_of("*?;") == std::string_view::npos &&
        mask.front() != ' ' && !harvix::MatchesWildcard(mask, mask))
        std::abort();

    // The search's own path: the text split into masks, then matched as a set.
    const harvix::MaskSet masks(harvix::SplitMask(mask));
    (void)masks.Matches(name);
    return 0;
}
