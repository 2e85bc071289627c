// The arithmetic behind the progress bar, the caption and the remaining time.
#pragma once

#include <cstdint>
#include <string>

namespace harvix {

// The progress bar runs from 0 to 50; each unit is 2 %.
inline constexpr int kProgressMax = 50;

// Rounds to the nearest whole number, a half to the even neighbour (2.5 gives 2,
// 3.5 gives 4), whatever rounding mode the process runs in.
[[nodiscard]] std::int64_t RoundHalfEven(double value);

// The bar value for `done` of `total` (files handled of those counted): done / total *
// 50, rounded half to even. `total` must be above 0. A tree that grew since it was
// counted gives values above 50, which the caller does not show.
[[nodiscard]] std::int64_t BarValueFor(std::int32_t done, std::int32_t total);

// "Harvix - 42% completed" for the bar value 21.
[[nodiscard]] std::string ProgressCaption(std::int64_t barValue);

// The remaining time in milliseconds, extrapolated linearly over the files handled:
// (total - done) / done * elapsed, rounded half to even. `done` must be above 0. The
// result can be negative (a tree that grew) or beyond 32 bits.
[[nodiscard]] std::int64_t RemainingMilliseconds(std::int32_t done, std::int32_t total,
                                                 std::uint32_t elapsedMs);

// The status text while the run goes on: "Please wait while Harvix is looking for
// resources." and on its second line the remaining time (`remaining`, when shown) and the
// member of a container being read (`member`, "setup.msi!/app.exe"), each when there is
// one, joined by " - ".
[[nodiscard]] std::string RunStatusText(const std::string& remaining, const std::string& member);

// Hears how far the reading of containers has come, so that a run through a large
// container moves as one through a folder does: the members handed to the run count as
// files, in the place of the container that holds them, and the member being read is
// shown.
class IContainerProgress {
public:
    virtual ~IContainerProgress() = default;
    // The run will be handed `more` files than were counted before it (fewer when negative).
    virtual void FilesCounted(std::int32_t more) = 0;
    // The member being read; empty once the run is back among the files on disk.
    virtual void ReadingMember(const std::string& name) = 0;
};

} // namespace harvix
