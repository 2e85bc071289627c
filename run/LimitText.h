// The limit texts of the bitmap and icon rows: "8-32" is the range 8 to 32, both ends
// included; the three limits of a row (colour depth, width, height) are written
// together as "8-32;0-3000;16-48".
#pragma once

#include "extract/ResourceKind.h"
#include "run/ContainerSearch.h"
#include "common/Result.h"

#include <string>
#include <string_view>

namespace harvix {

// Reads "min-max": two whole numbers (each within 32 bits, blanks around them allowed)
// joined by "-". Parts after the second are ignored, so "8-32-64" is 8 to 32. Anything
// else - one number, an empty part, letters - fails with a message that quotes the text
// as `what` (for example "the limit '8-x'"); a number beyond 32 bits with one that names
// it and the range it must lie in; a range whose minimum is above its maximum, which
// would leave out everything it limits, with one that names both ends.
[[nodiscard]] Result<LimitRange> ParseLimitText(std::string_view text,
                                                std::string_view what = "the limit");

// The three limits of one row (the kinds table holds the defaults of each row).
using harvix::LimitSet;

// Reads "depth;width;height": exactly three limit texts separated by ";"; a message
// names the range at fault ("the width limit '0-x' ...").
[[nodiscard]] Result<LimitSet> ParseLimitSet(std::string_view text);

// The two limits of pictures kept whole: width and height.
struct SideLimits {
    LimitRange width = kDefaultImageSide;
    LimitRange height = kDefaultImageSide;
    friend bool operator==(const SideLimits&, const SideLimits&) = default;
};

// Reads "width;height": exactly two limit texts separated by ";".
[[nodiscard]] Result<SideLimits> ParseSideLimits(std::string_view text);
[[nodiscard]] std::string SideLimitsText(const SideLimits& limits);

// Reads the bounds of reading containers, "depth;member_MiB;ratio" (4;512;200 by
// default): exactly three whole numbers separated by ";", the depth from 1 to 16, the
// largest member from 1 to 4096 MiB, the ratio from 2 to 100000; a message names the
// number at fault.
[[nodiscard]] Result<ContainerLimits> ParseContainerLimits(std::string_view text);
[[nodiscard]] std::string ContainerLimitsText(const ContainerLimits& limits);

// "8-32" for the range 8 to 32; "8-32;0-3000;16-48" for a row.
[[nodiscard]] std::string LimitText(const LimitRange& range);
[[nodiscard]] std::string LimitSetText(const LimitSet& limits);

} // namespace harvix
