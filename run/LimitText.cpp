#include "run/LimitText.h"

#include "common/Text.h"

#include <charconv>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace harvix {

namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

enum class NumberRead { Read, NotANumber, TooLarge };

NumberRead readWholeNumber(std::string_view text, std::int32_t& value) {
    text = trimBlanks(text);
    if (text.empty())
        return NumberRead::NotANumber;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ptr != end)
        return NumberRead::NotANumber;
    if (ec == std::errc::result_out_of_range)
        return NumberRead::TooLarge;
    return ec == std::errc() ? NumberRead::Read : NumberRead::NotANumber;
}

} // namespace

Result<LimitRange> ParseLimitText(std::string_view text, std::string_view what) {
    const auto parts = SplitAt(text, '-');
    const std::string quoted = std::string(what) + " '" + std::string(text) + "'";
    if (parts.size() < 2)
        return makeError(ErrorKind::Malformed,
                         quoted + " is not two whole numbers joined by '-' (for example 8-32)");
    LimitRange range;
    const std::pair<std::int32_t*, const char*> ends[] = {{&range.min, "minimum"},
                                                         {&range.max, "maximum"}};
    for (std::size_t i = 0; i < 2; ++i) {
        switch (readWholeNumber(parts[i], *ends[i].first)) {
        case NumberRead::Read:
            break;
        case NumberRead::TooLarge:
            // A number the range cannot hold: the message says which one, and how far a
            // limit may go.
            return makeError(ErrorKind::Malformed,
                             "the " + std::string(ends[i].second) + " " +
                                 std::string(trimBlanks(parts[i])) + " of " + quoted +
                                 " is out of range: a limit is a whole number from 0 to " +
                                 std::to_string(INT32_MAX));
        case NumberRead::NotANumber:
            return makeError(ErrorKind::Malformed,
                             quoted + " is not two whole numbers joined by '-' (for example 8-32)");
        }
    }
    // A range upside down holds no value at all: everything it limits would be left out.
    if (range.min > range.max)
        return makeError(ErrorKind::Malformed, "the minimum " + std::to_string(range.min) + " of " + quoted +
                                                   " is above its maximum " + std::to_string(range.max));
    return range;
}

namespace {

// The ranges of `text`, separated by ';', one for each of `names` in order; `shape` says
// what the text must be when the count is wrong ("three ranges ... 8-32;0-3000;16-48").
Result<std::vector<LimitRange>> ParseRanges(std::string_view text, std::span<const char* const> names,
                                            const std::string& shape) {
    const auto parts = SplitAt(text, ';');
    if (parts.size() != names.size())
        return makeError(ErrorKind::Malformed, "the limits '" + std::string(text) + "' are not " + shape);
    std::vector<LimitRange> ranges;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto range = ParseLimitText(parts[i], names[i]);
        if (!range)
            return range.error();
        ranges.push_back(*range);
    }
    return ranges;
}

} // namespace

Result<LimitSet> ParseLimitSet(std::string_view text) {
    static constexpr const char* kNames[] = {"the colour depth limit", "the width limit",
                                             "the height limit"};
    auto ranges = ParseRanges(text, kNames,
                              "three ranges separated by ';' (for example 8-32;0-3000;16-48)");
    if (!ranges)
        return ranges.error();
    return LimitSet{(*ranges)[0], (*ranges)[1], (*ranges)[2]};
}

Result<SideLimits> ParseSideLimits(std::string_view text) {
    static constexpr const char* kNames[] = {"the width limit", "the height limit"};
    auto ranges =
        ParseRanges(text, kNames, "two ranges separated by ';' (for example 16-256;16-256)");
    if (!ranges)
        return ranges.error();
    return SideLimits{(*ranges)[0], (*ranges)[1]};
}

std::string SideLimitsText(const SideLimits& limits) {
    return LimitText(limits.width) + ";" + LimitText(limits.height);
}

Result<ContainerLimits> ParseContainerLimits(std::string_view text) {
    const auto parts = SplitAt(text, ';');
    if (parts.size() != 3)
        return makeError(ErrorKind::Malformed, "the container limits '" + std::string(text) +
                                                   "' are not three whole numbers separated by ';' "
                                                   "(for example 4;512;200)");
    struct Bound {
        const char* name;
        std::int32_t least;
        std::int32_t most;
    };
    static constexpr Bound kBounds[] = {
        {"the depth limit", 1, 16}, {"the member limit (MiB)", 1, 4096}, {"the ratio limit", 2, 100000}};
    std::int32_t values[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        const Bound& bound = kBounds[i];
        if (readWholeNumber(parts[i], values[i]) != NumberRead::Read || values[i] < bound.least ||
            values[i] > bound.most)
            return makeError(ErrorKind::Malformed, std::string(bound.name) + " '" + std::string(trimBlanks(parts[i])) +
                                                       "' is not a whole number from " + std::to_string(bound.least) +
                                                       " to " + std::to_string(bound.most));
    }
    ContainerLimits limits;
    limits.depth = static_cast<unsigned>(values[0]);
    limits.memberMiB = static_cast<std::uint64_t>(values[1]);
    limits.ratio = static_cast<std::uint64_t>(values[2]);
    return limits;
}

std::string ContainerLimitsText(const ContainerLimits& limits) {
    return std::to_string(limits.depth) + ";" + std::to_string(limits.memberMiB) + ";" + std::to_string(limits.ratio);
}

std::string LimitText(const LimitRange& range) {
    return std::to_string(range.min) + "-" + std::to_string(range.max);
}

std::string LimitSetText(const LimitSet& limits) {
    return LimitText(limits.depth) + ";" + LimitText(limits.width) + ";" + LimitText(limits.height);
}

} // namespace harvix
