// The cabinet builder: writes Microsoft cabinets whose files are stored uncompressed
// (comp_type NONE), alone or as a set of volumes that one folder runs through, for the
// tests of cabinet sets, which no packaged tool makes, cabinets of one LZX folder
// whose blocks are stored as LZX stores them, and of one Quantum folder coded in
// literals. It compresses nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace harvix::cabbuilder {

struct CabFile {
    std::string name; // as the cabinet names it ("SETUP\\APP.EXE")
    std::vector<std::uint8_t> bytes;
};

// The cabinets of one set, in order, named `names` (which each header gives as its
// neighbours'): the files' bytes run one after another through one stored folder cut
// into data blocks of `blockSize` bytes (at most 32,768), `blocksPerVolume` blocks a
// cabinet, the last of which is split in the middle with the next cabinet; a file whose
// bytes run on into the next cabinet is listed in both. As many cabinets as the bytes
// need are written. Every file starts in the first cabinet, and a file runs across each
// split (a cabinet's folder that goes on from the one before holds only the files that
// run on into it); files that do not, or fewer names than cabinets, are an error (empty
// result).
[[nodiscard]] std::vector<std::vector<std::uint8_t>> MakeCabinetSet(const std::vector<CabFile>& files,
                                                                    const std::vector<std::string>& names,
                                                                    std::size_t blockSize, std::size_t blocksPerVolume);

// One cabinet of the files, stored.
[[nodiscard]] std::vector<std::uint8_t> MakeCabinet(const std::vector<CabFile>& files);

// One cabinet of the files in one LZX folder (window of 2^windowBits bytes, 15 to 21)
// whose LZX blocks are all of the "uncompressed" type: a valid LZX stream that makes a
// reader go through its LZX decoder without a compressor here.
[[nodiscard]] std::vector<std::uint8_t> MakeLzxCabinet(const std::vector<CabFile>& files, unsigned windowBits = 16);

// One cabinet of the files in one Quantum folder (window of 2^windowBits bytes, 10 to
// 21) whose bytes are all coded as literals: a valid Quantum stream, which no packaged
// tool writes, without a compressor here.
[[nodiscard]] std::vector<std::uint8_t> MakeQuantumCabinet(const std::vector<CabFile>& files,
                                                           unsigned windowBits = 16);

} // namespace harvix::cabbuilder
