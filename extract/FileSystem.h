// The file-system operations the engine and the destination preparation use, behind a
// small interface so that a full disk or an unwritable folder can be simulated. Errors
// carry errno in `code` and the system's error text with the path in `message`; they are
// DiskFull errors when the disk or the user's quota is full, Io errors otherwise.
#pragma once

#include "common/Result.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace harvix {

using Bytes = std::span<const std::uint8_t>;

// A new file being written. Its name holds only ever the complete file: the bytes are
// written under no name (or a hidden temporary one) and the file takes its name when it
// is closed. A file dropped without Close, or whose Close fails, leaves nothing at its
// path, so a run that is stopped, killed or meets a full disk never leaves a cut file.
class IOutputFile {
public:
    virtual ~IOutputFile() = default;
    // Writes the pieces one after the other, completely, in as few system calls as the
    // system allows.
    [[nodiscard]] virtual Status WritePieces(std::span<const Bytes> pieces) = 0;
    [[nodiscard]] Status Write(std::initializer_list<Bytes> pieces) {
        return WritePieces(std::span<const Bytes>(pieces.begin(), pieces.size()));
    }
    // Completes the file and gives it its name. Fails with EEXIST when something took
    // the name meanwhile (an existing file is never replaced), and with what the system
    // reports otherwise; either way nothing is left at the path.
    [[nodiscard]] virtual Status Close() = 0;
};

// The error of a file-system operation on `path` that failed with errno `code`: DiskFull
// for ENOSPC and EDQUOT, Io for every other errno.
[[nodiscard]] Error IoError(int code, const std::string& path);

// The file an error of the file system names: its errors read "PATH: the system's text";
// `fallback` for any other error.
[[nodiscard]] std::string FailedPathOf(const Error& error, const std::string& fallback);

class IFileSystem {
public:
    virtual ~IFileSystem() = default;

    // Starts a new file for a path at which nothing may exist when it is closed; never
    // follows a link at the path. Every output file is made here.
    [[nodiscard]] virtual Result<std::unique_ptr<IOutputFile>>
    CreateExclusive(const std::string& path) = 0;

    // Opens the file for appending (creating it when missing), writes `text` in one
    // write and closes it. A write that fails part-way is undone: the file is cut back
    // to where `text` began, so it never holds a fragment of it.
    [[nodiscard]] virtual Status Append(const std::string& path, std::string_view text) = 0;

    // Removes what files that were never completed left in `folder` and in the folders
    // below it, down to `levels` levels (the temporary names of a run that was killed);
    // those of a run still going are kept, and nothing else is touched. A file system
    // that never leaves such files has nothing to do.
    [[nodiscard]] virtual Status RemoveUnfinishedFiles(const std::string& folder, int levels) {
        (void)folder;
        (void)levels;
        return success();
    }

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

// How the real file system makes a new file before it has its name.
enum class NewFileMethod {
    // An unnamed file (O_TMPFILE) in the target folder, linked to its name when complete;
    // where the folder's file system can't make one, as HiddenName.
    Unnamed,
    // A hidden temporary name in the target folder (kUnfinishedPrefix, the process id, a
    // random part, kUnfinishedSuffix), renamed to the final name without replacing.
    HiddenName,
};

// A real file system that makes new files in the given way (RealFileSystem uses
// Unnamed); for tests of the other way.
std::unique_ptr<IFileSystem> NewPosixFileSystem(NewFileMethod method);

// The temporary names of unfinished files begin and end so: no output name can look
// like that (output names end in a kind's extension or hold " - "), so such a file is
// never taken for output.
inline constexpr std::string_view kUnfinishedPrefix = ".harvix-";
inline constexpr std::string_view kUnfinishedSuffix = ".part";

// Whether a file name is the temporary name of an unfinished file; its process id when
// it is.
std::optional<long> UnfinishedFileOwner(std::string_view fileName);

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
