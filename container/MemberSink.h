// Where a compressed member is unpacked to: memory up to 16 MiB, an anonymous in-memory
// file (memfd) beyond, never a file in a folder. The bytes are then read as any source.
#pragma once

#include "container/Container.h"

#include <cstdint>
#include <span>
#include <vector>

namespace harvix {

// Members up to this size are unpacked into memory; larger ones into a memfd.
inline constexpr std::uint64_t kMemberInMemory = 16 * 1024 * 1024;

class MemberSink {
public:
    // At most `limit` bytes are taken; more is TooLarge.
    explicit MemberSink(std::uint64_t limit) : m_limit(limit) {}
    MemberSink(const MemberSink&) = delete;
    MemberSink& operator=(const MemberSink&) = delete;
    ~MemberSink();

    // Appends bytes; fails with TooLarge past the limit, Io when the memfd cannot be
    // made or written.
    [[nodiscard]] Status write(std::span<const std::uint8_t> bytes);
    [[nodiscard]] std::uint64_t size() const { return m_size; }
    // The bytes written, as a source; the sink is empty afterwards.
    [[nodiscard]] ByteSource finish();

private:
    std::uint64_t m_limit;
    std::uint64_t m_size = 0;
    std::vector<std::uint8_t> m_memory;
    int m_fd = -1;
};

} // namespace harvix
