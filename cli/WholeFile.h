// Files that harvix-cli writes for other programs to read (icons for launchers and
// menus): they appear whole or not at all, also when they replace an older one.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

// Writes `bytes` into a new file beside `path` (".NAME.harvix-XXXXXX", readable as the
// umask allows) and renames it to `path`, replacing what was there; on any failure the
// new file is removed and `path` is left as it was. The message names `path`.
[[nodiscard]] Status ReplaceFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace harvix
