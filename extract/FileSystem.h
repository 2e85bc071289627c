// The file-system operations the engine and the destination preparation use, behind a
// small interface so that a full disk or an unwritable folder can be simulated. Errors
// are Io errors carrying errno in `code` and the system's error text with the path in
// `message`.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace harvix {

using Bytes = std::span<const std::uint8_t>;

// A file being written. Closing happens on destruction too; Close reports the errors a
// close may bring (a full disk on a network file system, for instance).
class IOutputFile {
public:
    virtual ~IOutputFile() = default;
    // Writes the pieces one after the other, completely, in as few system calls as the
    // system allows.
    [[nodiscard]] virtual Status WritePieces(std::span<const Bytes> pieces) = 0;
    [[nodiscard]] Status Write(std::initializer_list<Bytes> pieces) {
        return WritePieces(std::span<const Bytes>(pieces.begin(), pieces.size()));
    }
    [[nodiscard]] virtual Status Close() = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Creates a new file that must not exist yet; never follows a link at the path.
    [[nodiscard]] virtual Result<std::unique_ptr<IOutputFile>>
    CreateExclusive(const std::string& path) = 0;

    // Opens the file for appending (creating it when missing), writes `text` in one
    // write and closes it.
    [[nodiscard]] virtual Status Append(const std::string& path, std::string_view text) = 0;

    // Removes a file or a link (not what it points to).
    [[nodiscard]] virtual Status Remove(const std::string& path) = 0;

    // True when anything occupies the path: a file, a folder, or a link, also a dangling one.
    [[nodiscard]] virtual bool Exists(const std::string& path) = 0;

    // True when the path names a folder (links followed).
    [[nodiscard]] virtual bool IsDirectory(const std::string& path) = 0;

    // Creates one folder; its parent must exist. Fails with EEXIST when the name is taken.
    [[nodiscard]] virtual Status MakeDirectory(const std::string& path) = 0;

    // Creates every missing folder of the path.
    [[nodiscard]] virtual Status MakeDirectories(const std::string& path) = 0;
};

// The real POSIX file system. One shared instance; it keeps no state.
IFileSystem& RealFileSystem();

// Run-time error numbers, by which failures are told apart: a full disk, a path or file
// access error (for a folder: it exists already), a path that was not found.
inline constexpr int kErrDiskFull = 61;
inline constexpr int kErrPathFileAccess = 75;
inline constexpr int kErrPathNotFound = 76;

// The run-time error number of an errno value: ENOSPC and EDQUOT 61; ENOENT and ENOTDIR
// 76; EEXIST, EACCES, EPERM, EROFS, EISDIR 75; any other errno e gives 1000 + e, so it
// never meets one of the three numbers above.
int RuntimeErrorNumber(int errnoValue);

// The run-time error number of a failed operation of IFileSystem.
int RuntimeErrorNumber(const Error& error);

} // namespace harvix
