// Little-endian writing into a growing buffer, for the builders of resource data and of
// 16-bit modules: values are appended, and a size known only at the end is put back in
// its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace harvix::modbuilder {

class ByteOut {
public:
    std::vector<std::uint8_t> bytes;

    void u8(unsigned v) { bytes.push_back(static_cast<std::uint8_t>(v)); }
    void u16(unsigned v) {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            u8((v >> (8 * i)) & 0xFF);
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void text(std::string_view s) {
        for (char c : s)
            u8(static_cast<unsigned char>(c));
    }
    void fourcc(const char* s) { text(std::string_view(s, 4)); }
    void append(const std::vector<std::uint8_t>& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
    // Appends `fill` up to the next multiple of `alignment`.
    void padTo(std::size_t alignment, std::uint8_t fill = 0) {
        while (bytes.size() % alignment != 0)
            u8(fill);
    }

    void put8(std::size_t at, unsigned v) { bytes.at(at) = static_cast<std::uint8_t>(v); }
    void put16(std::size_t at, unsigned v) {
        put8(at, v & 0xFF);
        put8(at + 1, (v >> 8) & 0xFF);
    }
    void put32(std::size_t at, std::uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    }

    // Ends a block of a version resource whose header is written: the value and the
    // children, each at a multiple of 4 bytes from the block's start, then the block's
    // length in its first word.
    std::vector<std::uint8_t> finishVersionBlock(const std::vector<std::uint8_t>& value,
                                                 const std::vector<std::vector<std::uint8_t>>& children) {
        padTo(4);
        append(value);
        for (const auto& c : children) {
            padTo(4);
            append(c);
        }
        put16(0, static_cast<unsigned>(bytes.size()));
        return bytes;
    }
};

} // namespace harvix::modbuilder
