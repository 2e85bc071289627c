// A bounds-checked reader over untrusted bytes. Every read either succeeds entirely or
// fails with a Truncated error and leaves the position unchanged; offsets and sizes are
// computed in 64 bits before they are compared with the size of the input, so no
// overflow can turn a huge value into a small one. Values are little-endian.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>

namespace harvix {

class ByteCursor {
public:
    ByteCursor() = default;
    explicit ByteCursor(std::span<const std::uint8_t> data, std::uint64_t position = 0)
        : m_data(data), m_pos(position) {}

    [[nodiscard]] std::uint64_t size() const { return m_data.size(); }
    [[nodiscard]] std::uint64_t position() const { return m_pos; }
    [[nodiscard]] std::uint64_t remaining() const {
        return m_pos >= m_data.size() ? 0 : m_data.size() - m_pos;
    }
    [[nodiscard]] std::span<const std::uint8_t> data() const { return m_data; }

    // True when [offset, offset + length) lies inside the input.
    [[nodiscard]] bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_data.size() && length <= m_data.size() - offset;
    }

    [[nodiscard]] Status seek(std::uint64_t offset) {
        if (offset > m_data.size())
            return truncated(offset, 0);
        m_pos = offset;
        return success();
    }

    [[nodiscard]] Status skip(std::uint64_t count) {
        if (!contains(m_pos, count))
            return truncated(m_pos, count);
        m_pos += count;
        return success();
    }

    template <class T>
    [[nodiscard]] Result<T> read() {
        static_assert(std::is_integral_v<T>, "ByteCursor reads integers only");
        if (!contains(m_pos, sizeof(T)))
            return truncated(m_pos, sizeof(T));
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            using U = std::make_unsigned_t<T>;
            value = static_cast<T>(static_cast<U>(value) |
                                   static_cast<U>(static_cast<U>(m_data[m_pos + i]) << (8 * i)));
        }
        m_pos += sizeof(T);
        return value;
    }

    // Reads an integer at an absolute offset without moving the position.
    template <class T>
    [[nodiscard]] Result<T> peekAt(std::uint64_t offset) const {
        ByteCursor other(m_data, 0);
        if (auto s = other.seek(offset); !s)
            return s.error();
        return other.read<T>();
    }

    Result<std::uint8_t> u8() { return read<std::uint8_t>(); }
    Result<std::uint16_t> u16() { return read<std::uint16_t>(); }
    Result<std::uint32_t> u32() { return read<std::uint32_t>(); }
    Result<std::uint64_t> u64() { return read<std::uint64_t>(); }
    Result<std::int32_t> i32() { return read<std::int32_t>(); }

    // A view of `length` bytes at the position; the position moves past them.
    [[nodiscard]] Result<std::span<const std::uint8_t>> bytes(std::uint64_t length) {
        if (!contains(m_pos, length))
            return truncated(m_pos, length);
        auto view = m_data.subspan(static_cast<std::size_t>(m_pos), static_cast<std::size_t>(length));
        m_pos += length;
        return view;
    }

    // A view of `length` bytes at an absolute offset, without moving the position.
    [[nodiscard]] Result<std::span<const std::uint8_t>> slice(std::uint64_t offset,
                                                              std::uint64_t length) const {
        if (!contains(offset, length))
            return truncated(offset, length);
        return m_data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

    // Checks that `count` records of `elementSize` bytes fit in what is left, before the
    // caller multiplies or allocates anything.
    [[nodiscard]] Status checkArray(std::uint64_t count, std::uint64_t elementSize) const {
        if (elementSize != 0 && count > std::numeric_limits<std::uint64_t>::max() / elementSize)
            return makeError(ErrorKind::TooLarge, "array size overflows");
        if (!contains(m_pos, count * elementSize))
            return truncated(m_pos, count * elementSize);
        return success();
    }

private:
    [[nodiscard]] Error truncated(std::uint64_t offset, std::uint64_t length) const {
        return makeError(ErrorKind::Truncated, "read of " + std::to_string(length) + " bytes at " +
                                                   std::to_string(offset) + " past the end (" +
                                                   std::to_string(m_data.size()) + " bytes)");
    }

    std::span<const std::uint8_t> m_data;
    std::uint64_t m_pos = 0;
};

} // namespace harvix
