// The account of one run beyond the per-kind counts: the files found, the modules read,
// the files that are no modules or could not be read, the folders that could not be
// listed, the modules a packer compressed, the containers not read, and the resources of each kind that the
// engine passed over and why. It hears
// the engine (as its observer) and the search (through its unlisted-folder handler);
// harvix-cli turns it into the run report and the summary on stderr.
#pragma once

#include "extract/ResCore.h"
#include "run/ContainerSearch.h"
#include "extract/ResourceKind.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace harvix {

// Paths that met a problem: how many, and the first few with the system's reason.
struct ProblemList {
    struct Entry {
        std::string path;
        std::string reason;
    };
    static constexpr std::size_t kKept = 100;

    std::int64_t count = 0;
    std::vector<Entry> first; // at most kKept, in the order met

    void add(const std::string& path, std::string reason);
};

// Per kind: resources left out by the limits, not well formed, empty or missing.
struct LeftOutCounts {
    std::int64_t limits = 0;
    std::int64_t malformed = 0;
    std::int64_t empty = 0;
};

class RunAccount final : public IExtractObserver, public IContainerObserver {
public:
    // Why a file the engine could not open as a module could not be read (the system's
    // reason, or "not a regular file"); "" when it was read and is no module.
    [[nodiscard]] static std::string UnreadableReason(const std::string& path, const Error& error);

    void ModuleOpened(const std::string& path) override;
    void ModulePacked(const std::string& path, Packer packer) override;
    // An installer, container or member whose contents could not be read (told by the
    // engine of a setup program, and by the container search of the rest).
    void ContainerNotRead(const std::string& path, const std::string& reason) override;
    void ModuleNotOpened(const std::string& path, const Error& error) override;
    void ResourceLeftOut(const ResourceRef& resource, ResourceKind kind,
                         const harvix::LeftOut& why) override;
    void CopyFolded(ResourceKind kind, const std::string& existing) override;
    void ContainerOpened(const std::string& source, std::string_view format) override;

    // A folder the search could not list or enter (errno `error`). May be called from
    // the thread that walks.
    void FolderNotListed(const std::string& folder, int error);

    // Every file handed to the engine: modules read + not modules + unreadable files.
    [[nodiscard]] std::int64_t FilesFound() const;
    [[nodiscard]] std::int64_t ModulesRead() const;
    [[nodiscard]] std::int64_t NotModules() const;
    [[nodiscard]] ProblemList UnreadableFiles() const;
    [[nodiscard]] ProblemList UnlistedFolders() const;
    // The modules read that a packer had compressed, each with the notice that says
    // what that means for its resources.
    [[nodiscard]] ProblemList PackedModules() const;
    [[nodiscard]] LeftOutCounts LeftOut(ResourceKind kind) const;
    // The containers opened, and the installers, containers and members of containers
    // whose contents could not be read, each with its reason (and, for a setup program,
    // the tool that unpacks it).
    [[nodiscard]] std::int64_t ContainersRead() const;
    [[nodiscard]] ProblemList ContainersNotRead() const;
    // The files of a kind not written again because a file written earlier in the run
    // holds their bytes (copies folded); all kinds together without one.
    [[nodiscard]] std::int64_t FoldedCopies(ResourceKind kind) const;
    [[nodiscard]] std::int64_t FoldedCopies() const;

private:
    mutable std::mutex m_mutex;
    std::int64_t m_modulesRead = 0;
    std::int64_t m_notModules = 0;
    ProblemList m_unreadable;
    ProblemList m_unlisted;
    ProblemList m_packed;
    std::int64_t m_containersRead = 0;
    ProblemList m_containersNotRead;
    std::array<LeftOutCounts, kResourceKindCount> m_leftOut{};
    std::array<std::int64_t, kResourceKindCount> m_folded{};
};

} // namespace harvix
