#include "tools/cabbuilder/CabBuilder.h"

#include "tools/cabbuilder/QuantumLiterals.h"
#include "tools/modbuilder/ByteOut.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace harvix::cabbuilder {

namespace {

using modbuilder::ByteOut;

constexpr unsigned kPrevious = 0x0001; // the header names the cabinet before
constexpr unsigned kNext = 0x0002;     // and the one after
constexpr unsigned kFromPrevious = 0xFFFD;
constexpr unsigned kToNext = 0xFFFE;
constexpr unsigned kPreviousAndNext = 0xFFFF;
constexpr std::size_t kHeaderSize = 36;
constexpr std::size_t kFolderSize = 8;
constexpr std::size_t kMostBlockBytes = 32768;

struct Placed {
    const CabFile* file;
    std::size_t start; // in the bytes of all the files, one after another
};

// A data block, or the part of one a cabinet holds: the bytes [from, to) of all the
// files, and the block's size unpacked, 0 for the first part of a block split between
// two cabinets.
struct Block {
    std::size_t from;
    std::size_t to;
    std::size_t unpacked;
};

// Bits written as an LZX stream holds them: the first bit the highest of a 16-bit
// little-endian word.
class LzxBits {
public:
    void put(std::uint32_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;) {
            m_word = static_cast<std::uint16_t>((static_cast<std::uint32_t>(m_word) << 1U) | ((value >> i) & 1U));
            if (++m_used == 16)
                flush();
        }
    }
    // Pads the word begun with zero bits.
    void align() {
        while (m_used != 0)
            put(0, 1);
    }
    std::vector<std::uint8_t> bytes;

private:
    void flush() {
        bytes.push_back(static_cast<std::uint8_t>(m_word & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(m_word >> 8));
        m_word = 0;
        m_used = 0;
    }
    std::uint16_t m_word = 0;
    unsigned m_used = 0;
};

// One data block of an LZX folder: one LZX block of the "uncompressed" type holding the
// block's bytes as they are (the stream's first block begins with the flag that no
// call-instruction translation was made). The block type, its 24-bit size, padding to
// the next word, the three repeated-match offsets, the bytes and a pad byte after an odd
// count.
std::vector<std::uint8_t> lzxUncompressedBlock(const std::uint8_t* bytes, std::size_t size, bool first) {
    constexpr unsigned kUncompressed = 3;
    LzxBits bits;
    if (first)
        bits.put(0, 1);
    bits.put(kUncompressed, 3);
    bits.put(static_cast<std::uint32_t>(size >> 8), 16);
    bits.put(static_cast<std::uint32_t>(size & 0xFF), 8);
    bits.align();
    for (int offset = 0; offset < 3; ++offset)
        bits.bytes.insert(bits.bytes.end(), {1, 0, 0, 0});
    bits.bytes.insert(bits.bytes.end(), bytes, bytes + size);
    if (size % 2 != 0)
        bits.bytes.push_back(0);
    return std::move(bits.bytes);
}

// How the data blocks of a folder are packed: the compression its header states, and
// the packing of each block's bytes in turn (the first of the folder told so).
struct FolderCoding {
    unsigned type;
    std::function<std::vector<std::uint8_t>(const std::uint8_t* bytes, std::size_t size, bool first)> pack;
};

// One volume: its blocks and the files that have bytes in them, the folder the set's
// one folder, stored or (`coding` given) packed.
std::vector<std::uint8_t> volume(const std::vector<Placed>& placed, const std::vector<std::uint8_t>& all,
                                 const std::vector<Block>& blocks, const std::string* previous, const std::string* next,
                                 unsigned index, const FolderCoding* coding = nullptr) {
    const std::size_t from = blocks.front().from;
    const std::size_t to = blocks.back().to;
    std::vector<const Placed*> listed;
    for (const Placed& p : placed) {
        const std::size_t end = p.start + p.file->bytes.size();
        const bool inside =
            p.file->bytes.empty() ? p.start >= from && (p.start < to || next == nullptr) : p.start < to && end > from;
        if (inside)
            listed.push_back(&p);
    }
    ByteOut names;
    for (const std::string* name : {previous, next})
        if (name != nullptr) {
            names.text(*name);
            names.u8(0);
            names.text("Disk");
            names.u8(0);
        }
    ByteOut files;
    for (const Placed* p : listed) {
        const std::size_t end = p->start + p->file->bytes.size();
        const bool before = p->start < from;
        const bool after = end > to;
        files.u32(static_cast<std::uint32_t>(p->file->bytes.size()));
        files.u32(static_cast<std::uint32_t>(p->start));
        files.u16(before && after ? kPreviousAndNext : before ? kFromPrevious : after ? kToNext : 0);
        files.u16(0x5021); // 2020-01-01
        files.u16(0);
        files.u16(0x20); // archive
        files.text(p->file->name);
        files.u8(0);
    }
    const std::size_t filesAt = kHeaderSize + names.bytes.size() + kFolderSize;
    const std::size_t dataAt = filesAt + files.bytes.size();

    ByteOut cab;
    cab.text("MSCF");
    cab.u32(0);
    const std::size_t sizeAt = cab.bytes.size();
    cab.u32(0); // the cabinet's size, known at the end
    cab.u32(0);
    cab.u32(static_cast<std::uint32_t>(filesAt));
    cab.u32(0);
    cab.u8(3);
    cab.u8(1);
    cab.u16(1); // one folder
    cab.u16(static_cast<unsigned>(listed.size()));
    cab.u16((previous != nullptr ? kPrevious : 0) | (next != nullptr ? kNext : 0));
    cab.u16(0x4858); // the set's identifier
    cab.u16(index);
    cab.append(names.bytes);
    cab.u32(static_cast<std::uint32_t>(dataAt));
    cab.u16(static_cast<unsigned>(blocks.size()));
    cab.u16(coding == nullptr ? 0U : coding->type);
    cab.append(files.bytes);
    for (const Block& block : blocks) {
        cab.u32(0); // no checksum
        if (coding == nullptr) {
            cab.u16(static_cast<unsigned>(block.to - block.from));
            cab.u16(static_cast<unsigned>(block.unpacked));
            cab.bytes.insert(cab.bytes.end(), all.begin() + static_cast<std::ptrdiff_t>(block.from),
                             all.begin() + static_cast<std::ptrdiff_t>(block.to));
            continue;
        }
        const std::vector<std::uint8_t> packed =
            coding->pack(all.data() + block.from, block.to - block.from, &block == &blocks.front());
        cab.u16(static_cast<unsigned>(packed.size()));
        cab.u16(static_cast<unsigned>(block.unpacked));
        cab.append(packed);
    }
    cab.put32(sizeAt, static_cast<std::uint32_t>(cab.bytes.size()));
    return cab.bytes;
}

// The files' bytes one after another, as a folder holds them, and where each starts.
std::vector<std::uint8_t> layOut(const std::vector<CabFile>& files, std::vector<Placed>& placed) {
    std::vector<std::uint8_t> all;
    for (const CabFile& file : files) {
        placed.push_back({&file, all.size()});
        all.insert(all.end(), file.bytes.begin(), file.bytes.end());
    }
    return all;
}

} // namespace

std::vector<std::vector<std::uint8_t>> MakeCabinetSet(const std::vector<CabFile>& files,
                                                      const std::vector<std::string>& names, std::size_t blockSize,
                                                      std::size_t blocksPerVolume) {
    if (blockSize < 2 || blockSize > kMostBlockBytes || blocksPerVolume == 0)
        return {};
    std::vector<Placed> placed;
    const std::vector<std::uint8_t> all = layOut(files, placed);
    // The folder runs on from one cabinet into the next through a block split between
    // them, as a cabinet set's folder does: the last block of a volume is cut in two.
    std::vector<std::vector<Block>> volumes(1);
    const std::size_t count = std::max<std::size_t>(1, (all.size() + blockSize - 1) / blockSize);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t from = i * blockSize;
        const std::size_t to = std::min(all.size(), from + blockSize);
        if (volumes.back().size() + 1 == blocksPerVolume && i + 1 < count) {
            const std::size_t cut = from + (to - from) / 2;
            volumes.back().push_back({from, cut, 0});
            volumes.push_back({{cut, to, to - from}});
        } else {
            volumes.back().push_back({from, to, to - from});
        }
    }
    if (names.size() < volumes.size())
        return {};
    // A cabinet's folder that goes on from the one before holds the files that run on
    // into it and no others (a file after them starts a folder of its own, which this
    // builder does not write): every file starts in the first cabinet.
    for (const Placed& p : placed)
        if (p.start >= volumes.front().back().to && !p.file->bytes.empty())
            return {};
    std::vector<std::vector<std::uint8_t>> set;
    for (std::size_t v = 0; v < volumes.size(); ++v)
        set.push_back(volume(placed, all, volumes[v], v > 0 ? &names[v - 1] : nullptr,
                             v + 1 < volumes.size() ? &names[v + 1] : nullptr, static_cast<unsigned>(v)));
    return set;
}

std::vector<std::uint8_t> MakeCabinet(const std::vector<CabFile>& files) {
    auto set = MakeCabinetSet(files, {"one.cab"}, kMostBlockBytes, 0xFFFF);
    return set.empty() ? std::vector<std::uint8_t>{} : std::move(set.front());
}

// One cabinet of one packed folder: a data block a frame of 32 KiB, but the last.
std::vector<std::uint8_t> packedCabinet(const std::vector<CabFile>& files, const FolderCoding& coding) {
    std::vector<Placed> placed;
    const std::vector<std::uint8_t> all = layOut(files, placed);
    std::vector<Block> blocks;
    for (std::size_t from = 0; from < all.size() || blocks.empty(); from += kMostBlockBytes) {
        const std::size_t to = std::min(all.size(), from + kMostBlockBytes);
        blocks.push_back({from, to, to - from});
    }
    return volume(placed, all, blocks, nullptr, nullptr, 0, &coding);
}

std::vector<std::uint8_t> MakeLzxCabinet(const std::vector<CabFile>& files, unsigned windowBits) {
    if (windowBits < 15 || windowBits > 21)
        return {};
    return packedCabinet(files, {0x0003U | (windowBits << 8), lzxUncompressedBlock});
}

std::vector<std::uint8_t> MakeQuantumCabinet(const std::vector<CabFile>& files, unsigned windowBits) {
    if (windowBits < 10 || windowBits > 21)
        return {};
    // The models go on from one data block to the next: one coder for the folder.
    auto coder = std::make_shared<QuantumLiterals>();
    constexpr unsigned kLevel = 4; // said in the type, not read
    return packedCabinet(files, {0x0002U | (kLevel << 4) | (windowBits << 8),
                                 [coder](const std::uint8_t* bytes, std::size_t size, bool) {
                                     return coder->frame({bytes, size});
                                 }});
}

} // namespace harvix::cabbuilder
