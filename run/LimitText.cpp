#include "run/LimitText.h"

#include "common/Text.h"

#include <charconv>
#include <vector>

namespace harvix::run {

namespace {

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool readWholeNumber(std::string_view text, std::int32_t& value) {
    text = trimBlanks(text);
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end;
}

Error badLimit(std::string_view text) {
    return makeError(ErrorKind::Malformed,
                     "the limit '" + std::string(text) +
                         "' is not two whole numbers joined by '-' (for example 8-32)");
}

} // namespace

Result<LimitRange> ParseLimitText(std::string_view text) {
    const auto parts = SplitAt(text, '-');
    LimitRange range;
    if (parts.size() < 2 || !readWholeNumber(parts[0], range.min) ||
        !readWholeNumber(parts[1], range.max))
        return badLimit(text);
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
    for (std::size_t i = 0; i < 3; ++i) {
        auto range = ParseLimitText(parts[i]);
        if (!range)
            return range.error();
        *targets[i] = *range;
    }
    return limits;
}

std::string LimitText(const LimitRange& range) {
    return std::to_string(range.min) + "-" + std::to_string(range.max);
}

std::string LimitSetText(const LimitSet& limits) {
    return LimitText(limits.depth) + ";" + LimitText(limits.width) + ";" + LimitText(limits.height);
}

} // namespace harvix::run
