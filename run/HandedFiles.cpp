#include "run/HandedFiles.h"

#include "module/ModuleAccess.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace harvix {

HandedFile::HandedFile(HandedFile&& other) noexcept
    : module(other.module), systemResources(other.systemResources), languageFile(other.languageFile),
      owner(other.owner) {
    for (OpenedPath* part : other.parts())
        part->fd = -1;
}

HandedFile& HandedFile::operator=(HandedFile&& other) noexcept {
    if (this != &other) {
        close();
        module = other.module;
        systemResources = other.systemResources;
        languageFile = other.languageFile;
        owner = other.owner;
        for (OpenedPath* part : other.parts())
            part->fd = -1;
    }
    return *this;
}

HandedFile::~HandedFile() {
    close();
}

void HandedFile::close() {
    for (OpenedPath* part : parts())
        if (part->fd >= 0) {
            ::close(part->fd);
            part->fd = -1;
        }
}

std::vector<OpenedPath*> HandedFile::parts() {
    return {&module, &systemResources, &languageFile, &owner};
}

std::vector<const OpenedPath*> HandedFile::parts() const {
    return {&module, &systemResources, &languageFile, &owner};
}

namespace {

OpenedPath openPart(const std::string& path) {
    OpenedPath part;
    part.path = path;
    if (path.empty())
        return part;
    part.fd = OpenModuleFile(path);
    if (part.fd < 0)
        part.error = errno != 0 ? errno : EIO;
    return part;
}

Error cannotOpen(const std::string& path, int code) {
    return makeError(ErrorKind::NotLoadable, path + ": " + std::strerror(code), code);
}

} // namespace

HandedFile OpenForHandOver(const std::string& path, const SatelliteFinder* finder, const RunPlaces& places) {
    HandedFile file;
    file.module = openPart(path);
    if (finder == nullptr || file.module.fd < 0)
        return file;
    if (const auto owner = finder->OwnerOf(path); owner && ReadsModule(places, *owner))
        file.owner = openPart(*owner);
    const SatellitePaths satellites = finder->Find(path);
    file.systemResources = openPart(satellites.systemResources);
    file.languageFile = openPart(satellites.languageFile);
    return file;
}

void HandedFileStore::Put(HandedFile file) {
    auto shared = std::make_shared<const HandedFile>(std::move(file));
    std::vector<std::shared_ptr<const HandedFile>> gone; // closed outside the lock
    const std::lock_guard lock(m_mutex);
    m_files.push_back(std::move(shared));
    while (m_files.size() > kWindow) {
        if (m_keep.count(m_files.front()->module.path) != 0)
            m_kept.push_back(std::move(m_files.front()));
        else
            gone.push_back(std::move(m_files.front()));
        m_files.pop_front();
    }
}

void HandedFileStore::KeepToTheEnd(const std::string& path) {
    const std::lock_guard lock(m_mutex);
    m_keep.insert(path);
}

void HandedFileStore::Release(const std::string& path) {
    std::vector<std::shared_ptr<const HandedFile>> gone;
    const std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_files.begin(), m_files.end(),
                                    [&path](const auto& file) { return file->module.path == path; });
    if (found == m_files.end())
        return;
    const auto end = found + 1;
    for (auto it = m_files.begin(); it != end; ++it)
        if (m_keep.count((*it)->module.path) != 0)
            m_kept.push_back(std::move(*it));
        else
            gone.push_back(std::move(*it));
    m_files.erase(m_files.begin(), end);
}

std::size_t HandedFileStore::Held() const {
    const std::lock_guard lock(m_mutex);
    return m_files.size() + m_kept.size();
}

Result<std::unique_ptr<IResourceModule>> HandedFileStore::open(const std::string& path,
                                                               const OpenedPath& part) const {
    if (part.fd < 0)
        return cannotOpen(path, part.error);
    const int fd = ::fcntl(part.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return cannotOpen(path, errno);
    return OpenModuleFromDescriptor(fd, path);
}

std::shared_ptr<const HandedFile> HandedFileStore::find(const std::string& path) const {
    const std::lock_guard lock(m_mutex);
    for (const auto* files : {&m_files, &m_kept}) {
        const auto found =
            std::find_if(files->begin(), files->end(), [&path](const auto& f) { return f->module.path == path; });
        if (found != files->end())
            return *found;
    }
    return nullptr;
}

Result<ByteSource> HandedFileStore::Source(const std::string& path) const {
    const std::shared_ptr<const HandedFile> file = find(path);
    if (!file)
        return makeError(ErrorKind::NotLoadable, path + ": it was not opened by the search", EBADF);
    if (file->module.fd < 0)
        return cannotOpen(path, file->module.error);
    const int fd = ::fcntl(file->module.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return cannotOpen(path, errno);
    return ByteSourceFromDescriptor(fd);
}

Result<std::unique_ptr<IResourceModule>> HandedFileStore::openFile(const std::string& path,
                                                                   const SatelliteChoice& choice,
                                                                   const RunPlaces& places) const {
    const std::shared_ptr<const HandedFile> file = find(path);
    if (!file)
        return makeError(ErrorKind::NotLoadable, path + ": it was not opened by the search", EBADF);
    const auto fromHanded = [this, &file](const std::string& name) -> Result<std::unique_ptr<IResourceModule>> {
        for (const OpenedPath* part : file->parts())
            if (part->present() && part->path == name)
                return open(name, *part);
        return makeError(ErrorKind::NotLoadable, name + ": it was not opened by the search", EBADF);
    };
    if (!choice.read)
        return fromHanded(path);
    if (file->owner.present() && ReadsModule(places, file->owner.path) &&
        IsSatelliteOf(path, file->owner.path, fromHanded))
        return makeError(ErrorKind::NotLoadable, path + " is read with its module " + file->owner.path);
    const SatellitePaths satellites{file->systemResources.path, file->languageFile.path};
    return OpenModuleWithSatellites(
        path, [&satellites] { return satellites; }, fromHanded);
}

ModuleOpener HandedFileStore::Opener(const SatelliteChoice& choice, RunPlaces places) {
    auto shared = std::make_shared<const RunPlaces>(std::move(places));
    return [this, choice, shared](const std::string& path) { return openFile(path, choice, *shared); };
}

} // namespace harvix
