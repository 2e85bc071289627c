#include "tools/modbuilder/CompoundFileDamage.h"

#include "common/ByteCursor.h"

namespace harvix::modbuilder {

std::vector<std::uint8_t> LoopFirstShortChain(std::vector<std::uint8_t> file) {
    const ByteCursor header(file);
    // The header: the sector size as a power of two at 0x1E, the first sector of the
    // short-stream table at 0x3C; sector n lies at (n + 1) * size.
    const auto shift = header.peekAt<std::uint16_t>(0x1E);
    const auto first = header.peekAt<std::uint32_t>(0x3C);
    if (!shift || !first || *shift < 7 || *shift > 16)
        return {};
    const std::uint64_t sectorBytes = std::uint64_t{1} << *shift;
    const std::uint64_t table = (std::uint64_t{*first} + 1) * sectorBytes;
    // Past the first few entries, so that running back three stays inside the table.
    for (std::uint32_t entry = 4; entry < sectorBytes / 4; ++entry) {
        const auto next = header.peekAt<std::uint32_t>(table + entry * 4);
        if (!next)
            return {};
        // Only the entry's low byte changes: entry + 1 becomes entry - 3.
        if (*next != entry + 1 || ((entry + 1) >> 8) != ((entry - 3) >> 8))
            continue;
        file[table + entry * 4] = static_cast<std::uint8_t>((entry - 3) & 0xFF);
        return file;
    }
    return {};
}

} // namespace harvix::modbuilder
