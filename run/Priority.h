// The process priority that the acceleration slider asks for.
#pragma once

#include <cstdint>
#include <optional>

namespace harvix {

// The priority classes the slider chooses between.
inline constexpr std::int32_t IDLE_PRIORITY_CLASS = 0x40;
inline constexpr std::int32_t BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
inline constexpr std::int32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr std::int32_t ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
inline constexpr std::int32_t HIGH_PRIORITY_CLASS = 0x80;

// True on every system this build runs on: the below-normal and above-normal classes
// always exist.
[[nodiscard]] bool IsWin2000OrLater();

// The class of slider position 1 (idle) to 5 (high); 0 for a position outside that
// range, which has no class. Where the two middle classes do not exist they fall back
// to idle and high.
[[nodiscard]] std::int32_t PriorityClassFor(std::int16_t position);

// The nice value that stands for a class; nothing for the normal class (the process
// keeps the priority it started with) and for anything that is not a class.
[[nodiscard]] std::optional<int> NiceValueFor(std::int32_t priorityClass);

// Moves the whole process to the class of the slider position. A position without a
// class, the normal class and a refusal (raising the priority needs a privilege) leave
// the priority as it was, without a message.
void ApplyPriority(std::int16_t position);

} // namespace harvix
