// One copy of each picture (harvix-cli extract --unique, the wizard's check box before
// the run): output files whose bytes are those of a file already written in the same
// folder during the run are not made again. The resource whose file was not made keeps
// its own index record, which names the file already there, so every record names a
// file that exists and says where its resource came from.
//
// Files are told apart by a SHA-256 digest of their bytes (with their length): two
// different pictures are never taken for one.
#pragma once

#include "extract/FileSystem.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace harvix {

// The contents written in one run: for each folder, the digest of every file that was
// made there and the file that holds it.
class UniqueContents {
public:
    using Digest = std::array<std::uint8_t, 32>;

    // The file in `folder` (ending with "/") that holds the bytes of this digest and
    // length, if one was made.
    [[nodiscard]] std::optional<std::string> Find(const std::string& folder, const Digest& digest,
                                                  std::uint64_t length) const;
    // The file at `path` was made with these bytes.
    void Add(const std::string& path, const Digest& digest, std::uint64_t length);
    // The file at `path` was removed again: nothing may name it any more.
    void Forget(const std::string& path);

    // The digest of the bytes of a file written in these pieces.
    [[nodiscard]] static Digest DigestOf(std::span<const Bytes> pieces);

private:
    static std::string keyOf(const std::string& folder, const Digest& digest, std::uint64_t length);
    std::unordered_map<std::string, std::string> m_files;  // folder + digest + length -> path
    std::unordered_map<std::string, std::string> m_keyOf;  // path -> its key
};

// The file system a writer writes one resource through when copies are folded: every
// operation goes to `inner`, except that a new file whose bytes a file in its folder
// already holds is dropped at Close (which leaves nothing at its path) and reported
// closed. Files made are added to `contents`.
class UniqueFiles final : public IFileSystem {
public:
    UniqueFiles(IFileSystem& inner, UniqueContents& contents) : m_inner(inner), m_contents(contents) {}

    Result<std::unique_ptr<IOutputFile>> CreateExclusive(const std::string& path) override;
    Status Append(const std::string& path, std::string_view text) override {
        return m_inner.Append(path, text);
    }
    Status RemoveUnfinishedFiles(const std::string& folder, int levels) override {
        return m_inner.RemoveUnfinishedFiles(folder, levels);
    }
    Status Remove(const std::string& path) override;
    bool Exists(const std::string& path) override { return m_inner.Exists(path); }
    bool IsDirectory(const std::string& path) override { return m_inner.IsDirectory(path); }
    Status MakeDirectory(const std::string& path) override { return m_inner.MakeDirectory(path); }
    Status MakeDirectories(const std::string& path) override { return m_inner.MakeDirectories(path); }

    // The file already written whose bytes the file closed at `path` had: nothing was
    // made at `path`. Nothing when `path` was made (or never closed).
    [[nodiscard]] std::optional<std::string> SameAs(const std::string& path) const;

    // The paths among `paths` that were made, in their order (those folded are left out).
    [[nodiscard]] std::vector<std::string> Made(std::vector<std::string> paths) const;

    // How many files closed through this file system were folded into earlier ones.
    [[nodiscard]] std::size_t Folded() const { return m_sameAs.size(); }

    // The files made through this file system are not to stay (the operations that
    // would have made them were given up): nothing is folded into them from now on.
    void Revoke();

private:
    friend class UniqueOutputFile;
    IFileSystem& m_inner;
    UniqueContents& m_contents;
    std::unordered_map<std::string, std::string> m_sameAs; // path not made -> file holding its bytes
    std::vector<std::string> m_made;                        // paths made, in order
};

} // namespace harvix
