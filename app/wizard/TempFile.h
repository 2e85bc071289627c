// The temporary file that holds the search animation while the search page is shown.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <span>
#include <string>

namespace harvix {

// Makes a new, empty file named prefix + hexadecimal digits + ".tmp" in `folder`,
// created exclusively (never through a link, never over an existing file), readable
// and writable by the user only. Returns its path.
[[nodiscard]] Result<std::string> MakeTempFile(const std::string& folder,
                                               const std::string& prefix);

// Writes `bytes` into an existing file from offset 0, never through a link.
[[nodiscard]] Status WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes);

} // namespace harvix
