#include "tools/modbuilder/KwajBuilder.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace harvix::modbuilder {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putText(std::vector<std::uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// The MSZIP blocks of a KWAJ file: each `block` bytes unpacked (at most 32 KiB), deflated on its own (no
// reference reaches into the block before), preceded by its length and "CK"; a length
// of 0 ends them.
void putMszipBlocks(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& data, std::size_t block) {
    const std::size_t blockSize = std::clamp<std::size_t>(block, 1, 32768);
    for (std::size_t at = 0; at < data.size(); at += blockSize) {
        const std::size_t size = std::min(blockSize, data.size() - at);
        std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(size)) + 64);
        z_stream z{};
        if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("zlib refused to deflate");
        z.next_in = const_cast<Bytef*>(data.data() + at);
        z.avail_in = static_cast<uInt>(size);
        z.next_out = packed.data();
        z.avail_out = static_cast<uInt>(packed.size());
        const int ended = deflate(&z, Z_FINISH);
        const std::size_t made = z.total_out;
        deflateEnd(&z);
        if (ended != Z_STREAM_END)
            throw std::runtime_error("zlib did not finish a block");
        put16(out, static_cast<std::uint16_t>(made + 2));
        out.push_back('C');
        out.push_back('K');
        out.insert(out.end(), packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(made));
    }
    put16(out, 0);
}

} // namespace

std::vector<std::uint8_t> makeKwajFile(const KwajFile& file) {
    constexpr std::uint16_t kHasLength = 0x0001;
    constexpr std::uint16_t kHasName = 0x0008;
    constexpr std::uint16_t kHasExtension = 0x0010;
    std::optional<std::uint32_t> length = file.length;
    if (!length && file.method != KwajMethod::Szdd)
        length = static_cast<std::uint32_t>(file.data.size());

    std::vector<std::uint8_t> out = {'K', 'W', 'A', 'J', 0x88, 0xF0, 0x27, 0xD1};
    put16(out, static_cast<std::uint16_t>(file.method));
    const std::size_t startAt = out.size();
    put16(out, 0); // where the data starts, set below
    put16(out, static_cast<std::uint16_t>((length ? kHasLength : 0) | (file.name.empty() ? 0 : kHasName) |
                                          (file.extension.empty() ? 0 : kHasExtension)));
    if (length)
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>((*length >> shift) & 0xFF));
    if (!file.name.empty())
        putText(out, file.name);
    if (!file.extension.empty())
        putText(out, file.extension);
    const auto start = static_cast<std::uint16_t>(out.size());
    out[startAt] = static_cast<std::uint8_t>(start & 0xFF);
    out[startAt + 1] = static_cast<std::uint8_t>(start >> 8);
    if (file.method == KwajMethod::Mszip) {
        putMszipBlocks(out, file.data, file.mszipBlock);
        return out;
    }
    for (std::uint8_t byte : file.data)
        out.push_back(file.method == KwajMethod::Xor ? static_cast<std::uint8_t>(byte ^ 0xFF) : byte);
    return out;
}

std::vector<std::uint8_t> kwajLzssFromSzdd(std::span<const std::uint8_t> stream) {
    constexpr unsigned kWindowMask = 0xFFF;
    constexpr unsigned kEarlier = 2; // KWAJ writes its first byte at 4078, SZDD at 4080
    std::vector<std::uint8_t> out(stream.begin(), stream.end());
    std::size_t at = 0;
    while (at < out.size()) {
        // A flag byte, then eight items, its lowest bit first: 1 a literal byte, 0 a match
        // of two bytes, the low 8 bits of its place, then the high 4 above its length.
        const std::uint8_t flags = out[at++];
        for (unsigned bit = 0; bit < 8 && at < out.size(); ++bit) {
            if ((flags >> bit) & 1U) {
                ++at;
                continue;
            }
            if (at + 2 > out.size())
                return {};
            const unsigned place = out[at] | ((out[at + 1] & 0xF0U) << 4);
            const unsigned moved = (place - kEarlier) & kWindowMask;
            out[at] = static_cast<std::uint8_t>(moved & 0xFF);
            out[at + 1] = static_cast<std::uint8_t>(((moved >> 4) & 0xF0U) | (out[at + 1] & 0x0FU));
            at += 2;
        }
    }
    return out;
}

} // namespace harvix::modbuilder
