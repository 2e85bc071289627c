// Damage made on purpose to a compound file (the container of installer packages), for
// the tests and fuzz seeds of the package reader: what a single changed byte can do.
#pragma once

#include <cstdint>
#include <vector>

namespace harvix::modbuilder {

// The compound file with the first chain of its short-stream table (mini FAT) that runs
// on to the next sector made to run back three sectors instead, so that the chain comes
// round to itself: the one change of one byte that the Windows Installer library reads
// until it dies. Empty when the file has no such chain.
[[nodiscard]] std::vector<std::uint8_t> LoopFirstShortChain(std::vector<std::uint8_t> file);

} // namespace harvix::modbuilder
