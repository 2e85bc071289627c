// Reading small files whole, for pictures and lists named by the user, and the read and
// write loops every descriptor needs.
#pragma once

#include "common/Result.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace harvix {

// Reads a whole regular file of at most `maxBytes` bytes (opened without blocking, so a
// FIFO or device named like a picture is refused, not waited on).
[[nodiscard]] Result<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                              std::uint64_t maxBytes);

// Writes all `size` bytes to `fd`, going on after a signal and after a short write.
// Returns 0, or the error number (ENOSPC when the system takes nothing and names no error).
[[nodiscard]] int WriteAll(int fd, const void* data, std::size_t size);
[[nodiscard]] inline int WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}

// Reads exactly `size` bytes from `fd`, going on after a signal and after a short read.
// Returns 0, or the error number (ENODATA when the end comes first).
[[nodiscard]] int ReadExactly(int fd, void* data, std::size_t size);

// The same at `offset` of `fd`, leaving the file's position alone (positioned reads).
[[nodiscard]] int ReadExactlyAt(int fd, void* data, std::size_t size, std::uint64_t offset);

} // namespace harvix
