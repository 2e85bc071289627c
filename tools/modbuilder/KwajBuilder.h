// Writes KWAJ compressed files (the compressed files of later install disks, EXPAND.EXE's
// second format) for tests and fuzz seeds. No packaged tool writes them: the header is
// written here and the data is given as it is to be stored (for the SZDD method a
// compressed stream made elsewhere, such as mscompress's moved by kwajLzssFromSzdd),
// masked, or deflated by zlib in blocks of 32 KiB.
//
//     KwajFile k;
//     k.method = KwajMethod::Xor;
//     k.data = program;               // masked here
//     auto bytes = makeKwajFile(k);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace harvix::modbuilder {

enum class KwajMethod : std::uint16_t {
    Stored = 0,
    Xor = 1,  // every byte XOR 0xFF
    Szdd = 2, // the LZSS of SZDD files
    Mszip = 4, // blocks of at most 32 KiB unpacked, each its length, "CK" and a deflate stream
};

struct KwajFile {
    KwajMethod method = KwajMethod::Stored;
    // For Stored, Xor and Mszip the unpacked bytes; for Szdd the compressed stream.
    std::vector<std::uint8_t> data;
    // The unpacked length the header states (none when empty); Stored and Xor state
    // data's size unless given.
    std::optional<std::uint32_t> length;
    std::string name = "APP";      // the original name (up to 8 letters), none when empty
    std::string extension = "EXE"; // and its extension (up to 3), none when empty
    std::size_t mszipBlock = 32768; // Mszip: the unpacked bytes of a block (at most 32 KiB)
};

[[nodiscard]] std::vector<std::uint8_t> makeKwajFile(const KwajFile& file);

// The LZSS stream of an SZDD file (what follows its 14-byte header) as KWAJ's SZDD
// method must hold it to unpack to the same bytes. Both fill a 4 KiB window with spaces
// and name a match by its place in the window, but KWAJ starts writing 2 bytes earlier:
// every match's place moves 2 back. An empty result if the stream ends inside a match.
[[nodiscard]] std::vector<std::uint8_t> kwajLzssFromSzdd(std::span<const std::uint8_t> stream);

} // namespace harvix::modbuilder
