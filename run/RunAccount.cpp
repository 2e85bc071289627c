#include "run/RunAccount.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace harvix {

void ProblemList::add(const std::string& path, std::string reason) {
    ++count;
    if (first.size() < kKept)
        first.push_back({path, std::move(reason)});
}

void RunAccount::ModuleOpened(const std::string&) {
    const std::lock_guard lock(m_mutex);
    ++m_modulesRead;
}

void RunAccount::ModulePacked(const std::string& path, Packer packer) {
    const std::lock_guard lock(m_mutex);
    m_packed.add(path, PackedNotice(packer));
}

void RunAccount::ContainerNotRead(const std::string& path, const std::string& reason) {
    const std::lock_guard lock(m_mutex);
    m_containersNotRead.add(path, reason);
}

std::string RunAccount::UnreadableReason(const std::string& path, const Error& error) {
    // The system refused to open or read the file: unreadable, with its reason. Without
    // an errno the file was read and is no module, unless it is no regular file at all
    // (a folder or device named in a file list), which is as unreadable as a missing one.
    if (error.code != 0)
        return std::strerror(error.code);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        // A member of a container has no path of its own on disk: it was read.
        if (errno == ENOENT && path.find(kMemberSeparator) != std::string::npos)
            return {};
        return std::strerror(errno);
    }
    if (!S_ISREG(st.st_mode))
        return "not a regular file";
    return {};
}

void RunAccount::ModuleNotOpened(const std::string& path, const Error& error) {
    std::string reason = UnreadableReason(path, error);
    const std::lock_guard lock(m_mutex);
    if (reason.empty())
        ++m_notModules;
    else
        m_unreadable.add(path, std::move(reason));
}

void RunAccount::ResourceLeftOut(const ResourceRef&, ResourceKind kind,
                                 const harvix::LeftOut& why) {
    const std::lock_guard lock(m_mutex);
    LeftOutCounts& counts = m_leftOut[static_cast<std::size_t>(KindIndex(kind))];
    switch (why.reason) {
    case LeftOutReason::Limits: ++counts.limits; break;
    case LeftOutReason::Malformed: ++counts.malformed; break;
    case LeftOutReason::Empty: ++counts.empty; break;
    }
}

void RunAccount::CopyFolded(ResourceKind kind, const std::string&) {
    const std::lock_guard lock(m_mutex);
    ++m_folded[static_cast<std::size_t>(KindIndex(kind))];
}

std::int64_t RunAccount::FoldedCopies(ResourceKind kind) const {
    const std::lock_guard lock(m_mutex);
    return m_folded[static_cast<std::size_t>(KindIndex(kind))];
}

std::int64_t RunAccount::FoldedCopies() const {
    const std::lock_guard lock(m_mutex);
    std::int64_t total = 0;
    for (const std::int64_t n : m_folded)
        total += n;
    return total;
}

void RunAccount::ContainerOpened(const std::string&, std::string_view) {
    const std::lock_guard lock(m_mutex);
    ++m_containersRead;
}

std::int64_t RunAccount::ContainersRead() const {
    const std::lock_guard lock(m_mutex);
    return m_containersRead;
}

ProblemList RunAccount::ContainersNotRead() const {
    const std::lock_guard lock(m_mutex);
    return m_containersNotRead;
}

void RunAccount::FolderNotListed(const std::string& folder, int error) {
    const std::lock_guard lock(m_mutex);
    m_unlisted.add(folder, std::strerror(error));
}

std::int64_t RunAccount::FilesFound() const {
    const std::lock_guard lock(m_mutex);
    return m_modulesRead + m_notModules + m_unreadable.count;
}
std::int64_t RunAccount::ModulesRead() const {
    const std::lock_guard lock(m_mutex);
    return m_modulesRead;
}
std::int64_t RunAccount::NotModules() const {
    const std::lock_guard lock(m_mutex);
    return m_notModules;
}
ProblemList RunAccount::UnreadableFiles() const {
    const std::lock_guard lock(m_mutex);
    return m_unreadable;
}
ProblemList RunAccount::UnlistedFolders() const {
    const std::lock_guard lock(m_mutex);
    return m_unlisted;
}
ProblemList RunAccount::PackedModules() const {
    const std::lock_guard lock(m_mutex);
    return m_packed;
}
LeftOutCounts RunAccount::LeftOut(ResourceKind kind) const {
    const std::lock_guard lock(m_mutex);
    return m_leftOut[static_cast<std::size_t>(KindIndex(kind))];
}

} // namespace harvix
