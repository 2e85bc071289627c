// The file-system part of the cage: a Landlock domain that lets the process read only
// beneath the places it was given and write only beneath the folders it was given, and
// that keeps it from binding or connecting TCP ports, from reaching abstract UNIX sockets
// and from signalling processes outside the cage, as far as the kernel's ABI knows these.
#pragma once

#include "sandbox/Cage.h"

#include <cstdint>
#include <string>

namespace harvix {

// The access rights of one ABI that a domain denies unless a rule allows them.
struct LandlockRights {
    std::uint64_t fs = 0;
    std::uint64_t net = 0;
    std::uint64_t scoped = 0;
};
[[nodiscard]] LandlockRights HandledRights(int abi);

// The rights a rule gives beneath a place: reading, or writing (with reading back, and
// with making folders when `folders` and symbolic links when `links`), cut to what `abi`
// has.
[[nodiscard]] std::uint64_t ReadRights(int abi);
[[nodiscard]] std::uint64_t WriteRights(int abi, bool folders, bool links = false);

// Enters a Landlock domain for the plan; the process must have no new privileges already.
// The ABI entered, or 0 with the reason in `missing`.
int EnterLandlock(const CagePlan& plan, std::string& missing);

} // namespace harvix
