// The remaining-time text of the status label.
#pragma once

#include <cstdint>
#include <string>

namespace harvix {

// A duration as the status label shows it: the time rounded to whole seconds, read as
// hours, minutes and seconds, with its first three significant digits kept and the rest
// cut to zero; each unit that is not zero is written as a blank, the number and " hr",
// " min" or " sec". 83,000 ms gives " 1 min 23 sec", 1,234,567 ms " 20 min 30 sec",
// 3,723,000 ms " 1 hr 2 min". A duration under half a second gives " 0 sec".
[[nodiscard]] std::string FormatTimeText(std::int32_t milliseconds);

} // namespace harvix
