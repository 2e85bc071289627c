// Files opened by one process and read by another. A confined run may read no file by its
// path: the process that searches (see sandbox/Opener.h) opens each file it finds, with
// the satellite files Windows' loader would read with it, and hands the descriptors over
// with the event that reports the file. The run reads its modules from them, parsing in
// the confined process only; a file that could not be opened carries the system's reason,
// which the run reports as it would have met it itself.
#pragma once

#include "container/Container.h"
#include "extract/ResCore.h"
#include "module/Satellites.h"
#include "run/SatelliteReading.h"

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace harvix {

// One file opened for reading, or the errno of its refusal.
struct OpenedPath {
    std::string path; // empty: there is none
    int fd = -1;      // owned
    int error = 0;    // the open's errno when fd is -1

    [[nodiscard]] bool present() const { return !path.empty(); }
};

// A file found, opened with what a run reads with it. Its descriptors are closed when it goes.
struct HandedFile {
    HandedFile() = default;
    HandedFile(HandedFile&& other) noexcept;
    HandedFile& operator=(HandedFile&& other) noexcept;
    HandedFile(const HandedFile&) = delete;
    HandedFile& operator=(const HandedFile&) = delete;
    ~HandedFile();

    OpenedPath module;
    // The satellites found beside it (empty paths where there are none).
    OpenedPath systemResources;
    OpenedPath languageFile;
    // For a file that is itself the satellite of a module the run reads: that module.
    OpenedPath owner;

    // The places it holds, in the order their descriptors travel.
    [[nodiscard]] std::vector<OpenedPath*> parts();
    [[nodiscard]] std::vector<const OpenedPath*> parts() const;

private:
    void close();
};

// The opening side: opens the file at `path` for reading (never blocking on a FIFO or a
// device, links followed), and, when `finder` is given, the satellites it finds for it
// and, for a satellite whose module `places` reads, that module. Nothing is read.
[[nodiscard]] HandedFile OpenForHandOver(const std::string& path, const SatelliteFinder* finder,
                                         const RunPlaces& places);

// The reading side: the files handed over, by path, kept while the run may still open
// them. Safe to use from the run's readers and its thread at once.
class HandedFileStore final : public IExtractObserver {
public:
    // Keeps `file` until it is released (or until more than a window of files came after
    // it). A file that comes again is kept beside its earlier one.
    void Put(HandedFile file);
    // Keeps the files handed over for `path` until the store goes (files named by the
    // user, opened once more after the run).
    void KeepToTheEnd(const std::string& path);
    // The run is done with `path`: it and the files handed over before it are let go.
    void Release(const std::string& path);

    // The run has read the file (or could not): it is let go.
    void ModuleOpened(const std::string& path) override { Release(path); }
    void ModuleNotOpened(const std::string& path, const Error&) override { Release(path); }

    // Opens the module at `path` from the files handed over for it: alone when the run
    // reads modules as they are, otherwise with its satellites (a satellite whose module
    // the run reads is passed over, as SatelliteOpener does). A path never handed over
    // fails, naming it.
    [[nodiscard]] ModuleOpener Opener(const SatelliteChoice& choice, RunPlaces places);

    // The bytes of the file handed over for `path`, on a descriptor of their own (a
    // container is read from them while the run goes on). A path never handed over, or
    // one that could not be opened, fails with the reason.
    [[nodiscard]] Result<ByteSource> Source(const std::string& path) const;

    // The files held (for tests).
    [[nodiscard]] std::size_t Held() const;

    // The most files kept that the run has not released: far more than it reads ahead.
    static constexpr std::size_t kWindow = 256;

private:
    // The module of one opened file, its descriptor duplicated (a file may be opened
    // twice: ahead of the run, and again by the run).
    [[nodiscard]] Result<std::unique_ptr<IResourceModule>> open(const std::string& path,
                                                                const OpenedPath& part) const;
    [[nodiscard]] std::shared_ptr<const HandedFile> find(const std::string& path) const;
    [[nodiscard]] Result<std::unique_ptr<IResourceModule>> openFile(const std::string& path,
                                                                    const SatelliteChoice& choice,
                                                                    const RunPlaces& places) const;

    mutable std::mutex m_mutex;
    std::deque<std::shared_ptr<const HandedFile>> m_files; // oldest first
    std::deque<std::shared_ptr<const HandedFile>> m_kept;
    std::set<std::string> m_keep;
};

} // namespace harvix
