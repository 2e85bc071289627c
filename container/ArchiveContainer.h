// The containers libarchive reads: ZIP (and programs with a ZIP appended, the
// self-extracting archives), 7z, RAR, TAR (plain and compressed) and ISO 9660 / Joliet
// disc images.
#pragma once

#include "container/Container.h"

namespace harvix {

void AddArchiveFormats(ContainerRegistry& registry);

} // namespace harvix
