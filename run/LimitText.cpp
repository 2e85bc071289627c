#include "run/LimitText.h"

#include "common/Text.h"

#include <charconv>
#include <cstdint>
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
    return range;
}

Result<LimitSet> ParseLimitSet(std::string_view text) {
    const auto parts = SplitAt(text, ';');
    if (parts.size() != 3)
        return makeError(ErrorKind::Malformed,
                         "the limits '" + std::string(text) +
                             "' are not three ranges separated by ';' (for example "
                             "8-32;0-3000;16-48)");
    LimitSet limits;
    LimitRange* targets[3] = {&limits.depth, &limits.width, &limits.height};
    const char* const names[3] = {"the colour depth limit", "the width limit",
                                  "the height limit"};
    for (std::size_t i = 0; i < 3; ++i) {
        auto range = ParseLimitText(parts[i], names[i]);
        if (!range)
            return range.error();
        *targets[i] = *range;
    }
    return limits;
}

Result<SideLimits> ParseSideLimits(std::string_view text) {
    const auto parts = SplitAt(text, ';');
    if (parts.size() != 2)
        return makeError(ErrorKind::Malformed,
                         "the limits '" + std::string(text) +
                             "' are not two ranges separated by ';' (for example 16-256;16-256)");
    auto width = ParseLimitText(parts[0], "the width limit");
    if (!width)
        return width.error();
    auto height = ParseLimitText(parts[1], "the height limit");
    if (!height)
        return height.error();
    return SideLimits{*width, *height};
}

std::string SideLimitsText(const SideLimits& limits) {
    return LimitText(limits.width) + ";" + LimitText(limits.height);
}

std::string LimitText(const LimitRange& range) {
    return std::to_string(range.min) + "-" + std::to_string(range.max);
}

std::string LimitSetText(const LimitSet& limits) {
    return LimitText(limits.depth) + ";" + LimitText(limits.width) + ";" + LimitText(limits.height);
}

} // namespace harvix
