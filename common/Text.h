// Small text helpers shared by the subsystems.
#pragma once

#include <string_view>
#include <vector>

namespace harvix {

// The pieces of `text` between the separators, empty ones included: "a;;b" gives "a",
// "" and "b"; a text without the separator is one piece, the empty text one empty
// piece. The pieces point into `text`.
inline std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        if (end == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

} // namespace harvix
