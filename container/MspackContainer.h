// The containers libmspack reads: cabinets (every compression: stored, MSZIP, Quantum,
// LZX) and the compressed files of old install disks, SZDD (COMPRESS.EXE, whose name
// ends in "_" and whose header keeps the letter it replaced) and KWAJ (which may keep the
// whole name).
#pragma once

#include "container/Container.h"

namespace harvix {

void AddMspackFormats(ContainerRegistry& registry);

// The name of the file a compressed file unpacks to: "SETUP.EX_" with the missing
// letter 'e' is "SETUP.EXE" (the case of the name's last letter kept); a name that does
// not end in "_" keeps its name.
[[nodiscard]] std::string RestoredName(std::string_view compressedName, char missing);

} // namespace harvix
