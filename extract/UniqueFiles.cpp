#include "extract/UniqueFiles.h"

#include "common/Paths.h"

#include <algorithm>
#include <nettle/sha2.h>

namespace harvix {

std::string UniqueContents::keyOf(const std::string& folder, const Digest& digest,
                                  std::uint64_t length) {
    std::string key = folder;
    key.push_back('\0');
    key.append(reinterpret_cast<const char*>(digest.data()), digest.size());
    key.append(std::to_string(length));
    return key;
}

std::optional<std::string> UniqueContents::Find(const std::string& folder, const Digest& digest,
                                                std::uint64_t length) const {
    const auto found = m_files.find(keyOf(folder, digest, length));
    if (found == m_files.end())
        return std::nullopt;
    return found->second;
}

void UniqueContents::Add(const std::string& path, const Digest& digest, std::uint64_t length) {
    std::string key = keyOf(AddBackslash(FolderPart(path)), digest, length);
    m_keyOf[path] = key;
    m_files.emplace(std::move(key), path);
}

void UniqueContents::Forget(const std::string& path) {
    const auto found = m_keyOf.find(path);
    if (found == m_keyOf.end())
        return;
    const auto file = m_files.find(found->second);
    if (file != m_files.end() && file->second == path)
        m_files.erase(file);
    m_keyOf.erase(found);
}

UniqueContents::Digest UniqueContents::DigestOf(std::span<const Bytes> pieces) {
    sha256_ctx sha{};
    sha256_init(&sha);
    for (const Bytes piece : pieces)
        sha256_update(&sha, piece.size(), piece.data());
    Digest digest{};
    sha256_digest(&sha, digest.size(), digest.data());
    return digest;
}

// A new file whose bytes are digested on their way to the file below; at Close it is
// either completed, or dropped when its folder holds those bytes already.
class UniqueOutputFile final : public IOutputFile {
public:
    UniqueOutputFile(UniqueFiles& owner, std::string path, std::unique_ptr<IOutputFile> inner)
        : m_owner(owner), m_path(std::move(path)), m_inner(std::move(inner)) {
        sha256_init(&m_sha);
    }

    Status WritePieces(std::span<const Bytes> pieces) override {
        for (const Bytes piece : pieces) {
            sha256_update(&m_sha, piece.size(), piece.data());
            m_length += piece.size();
        }
        return m_inner->WritePieces(pieces);
    }

    Status Close() override {
        if (m_closed)
            return success();
        if (!m_digested) {
            sha256_digest(&m_sha, m_digest.size(), m_digest.data());
            m_digested = true;
        }
        const UniqueContents::Digest& digest = m_digest;
        const std::string folder = AddBackslash(FolderPart(m_path));
        if (auto earlier = m_owner.m_contents.Find(folder, digest, m_length)) {
            // Dropped unclosed: nothing is left at the path.
            m_inner.reset();
            m_closed = true;
            m_owner.m_sameAs[m_path] = std::move(*earlier);
            return success();
        }
        if (auto closed = m_inner->Close(); !closed)
            return closed;
        m_closed = true;
        m_owner.m_contents.Add(m_path, digest, m_length);
        m_owner.m_made.push_back(m_path);
        return success();
    }

private:
    UniqueFiles& m_owner;
    std::string m_path;
    std::unique_ptr<IOutputFile> m_inner;
    sha256_ctx m_sha{};
    std::uint64_t m_length = 0;
    UniqueContents::Digest m_digest{};
    bool m_digested = false;
    bool m_closed = false; // made, or folded
};

Result<std::unique_ptr<IOutputFile>> UniqueFiles::CreateExclusive(const std::string& path) {
    auto inner = m_inner.CreateExclusive(path);
    if (!inner)
        return inner.error();
    return std::unique_ptr<IOutputFile>(
        std::make_unique<UniqueOutputFile>(*this, path, std::move(*inner)));
}

Status UniqueFiles::Remove(const std::string& path) {
    m_contents.Forget(path);
    return m_inner.Remove(path);
}

void UniqueFiles::Revoke() {
    for (const std::string& path : m_made)
        m_contents.Forget(path);
    m_made.clear();
}

std::optional<std::string> UniqueFiles::SameAs(const std::string& path) const {
    const auto found = m_sameAs.find(path);
    if (found == m_sameAs.end())
        return std::nullopt;
    return found->second;
}

std::vector<std::string> UniqueFiles::Made(std::vector<std::string> paths) const {
    std::erase_if(paths, [this](const std::string& path) { return m_sameAs.contains(path); });
    return paths;
}

} // namespace harvix
