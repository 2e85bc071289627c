#include "run/Progress.h"

#include "run/RunTexts.h"

#include <cmath>

namespace harvix {

std::int64_t RoundHalfEven(double value) {
    const double lower = std::floor(value);
    const double fraction = value - lower;
    double rounded = lower;
    if (fraction > 0.5)
        rounded = lower + 1.0;
    else if (fraction == 0.5)
        rounded = std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
    return static_cast<std::int64_t>(rounded);
}

std::int64_t BarValueFor(std::int32_t done, std::int32_t total) {
    return RoundHalfEven(static_cast<double>(done) / static_cast<double>(total) *
                         static_cast<double>(kProgressMax));
}

std::string ProgressCaption(std::int64_t barValue) {
    return std::string(kAppTitle) + " - " + std::to_string(barValue * 2) + "% completed";
}

std::int64_t RemainingMilliseconds(std::int32_t done, std::int32_t total,
                                   std::uint32_t elapsedMs) {
    const double left = static_cast<double>(static_cast<std::int64_t>(total) - done);
    const double estimate = left / static_cast<double>(done) * static_cast<double>(elapsedMs);
    // Far beyond anything the label can show; keeps the conversion defined.
    if (estimate > 9.0e18)
        return INT64_MAX;
    if (estimate < -9.0e18)
        return INT64_MIN;
    return RoundHalfEven(estimate);
}

std::string RunStatusText(const std::string& remaining, const std::string& member) {
    std::string text = kPleaseWait;
    text += remaining;
    if (!member.empty())
        text += (remaining.empty() ? "" : " - ") + member;
    return text;
}

} // namespace harvix
