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

#include "extract/ResCore.h"
#include "run/ReaderGrowth.h"
#include "run/SearchRun.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace harvix {

// The number of reader threads a run starts with by default: the number of processors.
[[nodiscard]] unsigned DefaultReadAheadJobs();

// The most readers a run without a fixed number adds while they wait for the disk. Cold,
// on the Wine modules, 8 readers took half the time of 2, and 16 a little less again.
inline constexpr unsigned kMostReadAheadJobs = 16;

// A thread's clock, processor time and disk reads so far: what the readers measure an
// open by (the difference between before and after it).
struct ThreadUsage {
    std::chrono::steady_clock::time_point at;
    std::chrono::microseconds cpu{0};
    std::uint64_t blocksRead = 0; // 512-byte blocks
};

// The calling thread's usage now (its clock, and getrusage's RUSAGE_THREAD).
[[nodiscard]] ThreadUsage ThreadUsageNow();

class ModuleReadAhead {
public:
    // Gives the calling thread's usage; the default is ThreadUsageNow, tests give made-up
    // figures. Called by several readers at once.
    using UsageSource = std::function<ThreadUsage()>;

    struct Limits {
        unsigned jobs = 2;                      // reader threads to start with; 0: the run opens every file itself
        std::size_t files = 16;                 // files found but not yet handed to the run
        std::uint64_t bytes = 8 * 1024 * 1024;  // module bytes held in memory by opened files
        // More than `jobs`: readers are added, up to this many, while they wait for the
        // disk (see ReaderGrowth); otherwise the number stays `jobs`.
        unsigned mostJobs = 0;
    };

    explicit ModuleReadAhead(Limits limits, ModuleOpener opener = {}, UsageSource usage = {});
    ModuleReadAhead(const ModuleReadAhead&) = delete;
    ModuleReadAhead& operator=(const ModuleReadAhead&) = delete;
    ~ModuleReadAhead(); // Stop(), then waits for the readers

    [[nodiscard]] const Limits& limits() const { return m_limits; }

    // Files found but not yet handed to the run: `limits().files`, widened to twice the
    // readers when readers are added during the run. Read by the run's thread.
    [[nodiscard]] std::size_t Window() const { return m_window.load(std::memory_order_relaxed); }

    // The run's thread: a file the search found, to be opened ahead. Returns its number.
    // The first call starts the readers, which take the calling thread's priority.
    std::uint64_t Push(const std::string& path);

    // The run's thread: file `number` is being handed to the run now; Open gives its
    // module. Afterwards, Done(number) drops it if the run did not ask for it.
    void Begin(std::uint64_t number);
    void Done(std::uint64_t number);

    // The run's thread, as the engine's way of opening a module: the module of the file
    // being handed on (opened by a reader; waited for while a reader is at it; opened
    // here when no reader has taken it up yet); any other path is opened here and now.
    [[nodiscard]] Result<std::unique_ptr<IResourceModule>> Open(const std::string& path);

    // The run stopped (cancel, error, end): the readers take up no further file and
    // everything opened ahead is dropped. Idempotent.
    void Stop();

    // For tests: how many files the readers opened (not the run itself), how many
    // times a reader was woken for work, and how many readers were started.
    [[nodiscard]] std::uint64_t OpenedByReaders() const;
    [[nodiscard]] std::uint64_t ReaderWakeUps() const;
    [[nodiscard]] unsigned ReadersStarted() const;

private:
    struct Entry;
    using Lock = std::unique_lock<std::mutex>;
    void readerLoop(int nice);
    void startReaders(const Lock& lock, unsigned count);
    // The oldest file no one has taken up, if the byte budget allows opening it.
    [[nodiscard]] std::shared_ptr<Entry> nextToOpen(const Lock& lock) const;
    [[nodiscard]] std::shared_ptr<Entry> current(const Lock& lock) const;
    // Wakes one idle reader when at least `queuedAtLeast` files wait and the budget
    // allows opening one.
    void wakeReader(const Lock& lock, std::size_t queuedAtLeast);
    [[nodiscard]] Result<std::unique_ptr<IResourceModule>> openHere(const std::string& path) const {
        return m_opener(path);
    }

    Limits m_limits;
    std::size_t m_wakeBatch;  // queued files that wake an idle reader
    std::atomic<std::size_t> m_window{0};
    ModuleOpener m_opener;
    UsageSource m_usage;
    mutable std::mutex m_mutex;
    std::condition_variable m_work;   // readers wait here for a file to open or the stop
    std::condition_variable m_opened; // the run waits here for a reader to finish its file
    std::deque<std::shared_ptr<Entry>> m_entries; // pushed and not done, oldest first
    std::size_t m_queued = 0;                     // entries no one has taken up yet
    std::uint64_t m_nextNumber = 0;
    std::uint64_t m_current = UINT64_MAX;          // the file being handed on
    std::uint64_t m_heldBytes = 0;
    std::uint64_t m_openedByReaders = 0;
    std::uint64_t m_wakeUps = 0;
    unsigned m_idleReaders = 0;                   // readers waiting for work, not yet woken
    unsigned m_wakeTokens = 0;                    // wake-ups sent and not yet taken
    bool m_runWaits = false;
    bool m_stopped = false;
    int m_nice = 0;                               // the run's priority, taken by every reader
    std::optional<ReaderGrowth> m_growth;         // when readers may be added
    std::vector<std::thread> m_readers;
};

// The read-ahead limits of a run: `jobs` readers when given; otherwise one per processor
// to start with and up to kMostReadAheadJobs while they wait for the disk. The window of
// files is twice the readers there may be, so that each has a file to open.
[[nodiscard]] ModuleReadAhead::Limits ReadAheadLimits(std::optional<unsigned> jobs);

// The file search as the run drives it, with the read-ahead between: every file found
// goes to the readers at once and to the run once `Window()` more have been found
// or the search has ended. A Cancel set by the run stops the search and the readers.
class ReadAheadSearch final : public IRunSearch {
public:
    ReadAheadSearch(IRunSearch& search, ModuleReadAhead& readAhead)
        : m_search(search), m_readAhead(readAhead) {}

    SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                          const std::string& FileMask) override;
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override;
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override;

private:
    IRunSearch& m_search;
    ModuleReadAhead& m_readAhead;
};

} // namespace harvix
