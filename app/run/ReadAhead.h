// Reading modules ahead of the run. The file search runs on the run's thread as before,
// but each file it finds is handed on to the run a few files later: meanwhile reader
// threads open the files found since (read their headers, resource section and
// directory), so that reading the modules overlaps the writing of the resources. The
// run itself, the engine and everything they write, record and report stay on the run's
// thread and in the order of the search: the same events with the same counters, the
// same files, bytes and records, whatever the number of readers and however the threads
// are scheduled.
//
// ModuleReadAhead is the one hand-off between the run's thread and the readers;
// ReadAheadSearch puts it between the file search and the run.
#pragma once

#include "ResCore.h"
#include "SearchRun.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace harvix::run {

// The default number of reader threads: the number of processors.
[[nodiscard]] unsigned DefaultReadAheadJobs();

class ModuleReadAhead {
public:
    struct Limits {
        unsigned jobs = 2;                      // reader threads; 0: the run opens every file itself
        std::size_t files = 8;                  // files found but not yet handed to the run
        std::uint64_t bytes = 8 * 1024 * 1024;  // module bytes held in memory by opened files
    };

    explicit ModuleReadAhead(Limits limits, ModuleOpener opener = {});
    ModuleReadAhead(const ModuleReadAhead&) = delete;
    ModuleReadAhead& operator=(const ModuleReadAhead&) = delete;
    ~ModuleReadAhead(); // Stop(), then waits for the readers

    [[nodiscard]] const Limits& limits() const { return m_limits; }

    // The run's thread: a file the search found, to be opened ahead. Returns its number.
    // The first call starts the readers, which take the calling thread's priority.
    std::uint64_t Push(const std::string& path);

    // The run's thread: file `number` is being handed to the run now; Open gives its
    // module. Afterwards, Done(number) drops it if the run did not ask for it.
    void Begin(std::uint64_t number);
    void Done(std::uint64_t number);

    // The run's thread, as the engine's way of opening a module: the module of the file
    // being handed on (opened by a reader, or here when no reader has started on it
    // yet); any other path is opened here and now.
    [[nodiscard]] Result<std::unique_ptr<IResourceModule>> Open(const std::string& path);

    // The run stopped (cancel, error, end): the readers take up no further file and
    // everything opened ahead is dropped. Idempotent.
    void Stop();

    // For tests: how many files the readers opened (not the run itself).
    [[nodiscard]] std::uint64_t OpenedByReaders() const;

private:
    struct Entry;
    void readerLoop(int nice);
    [[nodiscard]] Result<std::unique_ptr<IResourceModule>> openHere(const std::string& path) const;

    Limits m_limits;
    ModuleOpener m_opener;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::shared_ptr<Entry>> m_entries; // pushed and not done, oldest first
    std::uint64_t m_nextNumber = 0;
    std::uint64_t m_current = UINT64_MAX;          // the file being handed on
    std::uint64_t m_heldBytes = 0;
    std::uint64_t m_openedByReaders = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_readers;
};

// The file search as the run drives it, with the read-ahead between: every file found
// goes to the readers at once and to the run once `limits().files` more have been found
// or the search has ended. A Cancel set by the run stops the search and the readers.
class ReadAheadSearch final : public IRunSearch {
public:
    ReadAheadSearch(IRunSearch& search, ModuleReadAhead& readAhead)
        : m_search(search), m_readAhead(readAhead) {}

    std::int32_t GetDirCount(bool AllDrives, const std::string& BaseDir) override;
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override;
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override;

private:
    IRunSearch& m_search;
    ModuleReadAhead& m_readAhead;
};

} // namespace harvix::run
