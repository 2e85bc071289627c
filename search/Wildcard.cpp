#include "search/Wildcard.h"

#include "search/MaskSet.h"

#include <cstddef>
#include <cstdint>

namespace harvix {

namespace {

// Pattern tokens beyond the range of code points.
constexpr std::uint32_t kAnyRun = 0x110000;  // "*"
constexpr std::uint32_t kAnyOne = 0x110001;  // "?"
constexpr std::uint32_t kRawByte = 0x110100; // + byte: a byte that is not valid UTF-8

// Simple one-to-one lower-casing of the letters a file name most often holds.
std::uint32_t FoldCase(std::uint32_t c) {
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? c + 0x20 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) // Latin-1 capitals
        return c + 0x20;
    if (c >= 0x100 && c <= 0x17F) { // Latin Extended-A: capital/small pairs
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
            return c; // dotted/dotless i, kra, n apostrophe, long s: no simple pair
        if (c == 0x178)
            return 0xFF; // Y with diaeresis pairs with Latin-1's small letter
        const bool oddCapitals = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddCapitals)
            return (c % 2 == 1) ? c + 1 : c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) // Greek capitals
        return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) // Cyrillic basic capitals
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) // Cyrillic capitals with marks
        return c + 0x50;
    return c;
}

// Decodes the UTF-8 sequence at text[i], advancing i. A byte that does not start a
// valid, shortest-form sequence becomes one raw-byte unit of its own.
std::uint32_t DecodeOne(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t length = 0;
    std::uint32_t c = 0;
    std::uint32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, c = b0 & 0x1Fu, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, c = b0 & 0x0Fu, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, c = b0 & 0x07u, minimum = 0x10000;
    }
    if (length == 0 || text.size() - i < length) {
        ++i;
        return kRawByte + b0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0u) != 0x80u) {
            ++i;
            return kRawByte + b0;
        }
        c = (c << 6) | (b & 0x3Fu);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return kRawByte + b0;
    }
    i += length;
    return c;
}

void FoldText(std::string_view text, std::vector<std::uint32_t>& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size();)
        out.push_back(FoldCase(DecodeOne(text, i)));
}

std::vector<std::uint32_t> CompilePattern(std::string_view mask) {
    std::vector<std::uint32_t> pattern;
    for (std::size_t i = 0; i < mask.size();) {
        if (mask[i] == '*') {
            ++i;
            if (pattern.empty() || pattern.back() != kAnyRun) // "**" is the same as "*"
                pattern.push_back(kAnyRun);
        } else if (mask[i] == '?') {
            ++i;
            pattern.push_back(kAnyOne);
        } else {
            pattern.push_back(FoldCase(DecodeOne(mask, i)));
        }
    }
    return pattern;
}

// Whole-name match of one compiled pattern. On a mismatch it goes back only to the last
// "*" seen, one character further each time: a later "*" can absorb anything an earlier
// one could, so no other choice needs revisiting and the cost stays within
// name length times pattern length.
bool MatchPattern(const std::vector<std::uint32_t>& pattern,
                  const std::vector<std::uint32_t>& name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = SIZE_MAX;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == kAnyRun) {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == kAnyOne || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (starP != SIZE_MAX) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == kAnyRun)
        ++p;
    return p == pattern.size();
}

} // namespace

MaskSet::MaskSet(const std::vector<std::string>& maskTexts) {
    for (const auto& text : maskTexts)
        AddMaskText(text);
}

void MaskSet::AddMaskText(std::string_view maskText) {
    if (maskText == "*.*") {
        m_matchAll = true;
        return;
    }
    // A text without ";" is a list of one.
    std::size_t start = 0;
    while (start <= maskText.size()) {
        std::size_t end = maskText.find(';', start);
        if (end == std::string_view::npos)
            end = maskText.size();
        std::string_view piece = maskText.substr(start, end - start);
        const std::size_t firstNonBlank = piece.find_first_not_of(' ');
        piece = firstNonBlank == std::string_view::npos ? std::string_view{}
                                                        : piece.substr(firstNonBlank);
        if (!piece.empty()) // an empty mask matches nothing
            m_patterns.push_back(CompilePattern(piece));
        start = end + 1;
    }
}

bool MaskSet::Matches(std::string_view name) const {
    if (m_matchAll)
        return true;
    if (m_patterns.empty())
        return false;
    FoldText(name, m_name);
    for (const auto& pattern : m_patterns)
        if (MatchPattern(pattern, m_name))
            return true;
    return false;
}

bool MatchesWildcard(std::string_view name, std::string_view mask) {
    MaskSet set;
    set.AddMaskText(mask);
    return set.Matches(name);
}

} // namespace harvix
