#include "run/ReadAhead.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>

namespace harvix {

unsigned DefaultReadAheadJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

ModuleReadAhead::Limits ReadAheadLimits(std::optional<unsigned> jobs) {
    ModuleReadAhead::Limits limits;
    if (jobs) {
        limits.jobs = *jobs;
    } else {
        limits.jobs = std::min(DefaultReadAheadJobs(), kMostReadAheadJobs);
        limits.mostJobs = kMostReadAheadJobs;
    }
    // Readers added during the run widen the window as they come (see Window()).
    limits.files = std::max<std::size_t>(limits.files, 2 * std::size_t{limits.jobs});
    return limits;
}

ThreadUsage ThreadUsageNow() {
    ThreadUsage usage;
    usage.at = std::chrono::steady_clock::now();
    struct rusage r {};
    if (::getrusage(RUSAGE_THREAD, &r) == 0) {
        const auto micros = [](const timeval& t) {
            return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
        };
        usage.cpu = micros(r.ru_utime) + micros(r.ru_stime);
        usage.blocksRead = static_cast<std::uint64_t>(r.ru_inblock);
    }
    return usage;
}

namespace {

ReaderGrowth::OpenCost CostBetween(const ThreadUsage& before, const ThreadUsage& after) {
    ReaderGrowth::OpenCost cost;
    cost.elapsed = std::chrono::duration_cast<std::chrono::microseconds>(after.at - before.at);
    cost.cpu = after.cpu - before.cpu;
    cost.blocksRead = after.blocksRead - before.blocksRead;
    return cost;
}

} // namespace

// One file found and not yet done with.
struct ModuleReadAhead::Entry {
    // Queued: no one has taken it up; Opening: a reader opens it; OpeningHere: the run
    // opens it itself; Opened: a reader's result waits in `module`.
    enum class State { Queued, Opening, OpeningHere, Opened };
    std::uint64_t number = 0;
    std::string path;
    State state = State::Queued;
    std::uint64_t bytes = 0; // counted in m_heldBytes while Opened and here
    std::optional<Result<std::unique_ptr<IResourceModule>>> module;
};

ModuleReadAhead::ModuleReadAhead(Limits limits, ModuleOpener opener, UsageSource usage)
    : m_limits(limits), m_opener(opener ? std::move(opener) : ModuleOpener(OpenModule)),
      m_usage(usage ? std::move(usage) : UsageSource(ThreadUsageNow)) {
    if (m_limits.files == 0)
        m_limits.files = 1;
    // Readers are woken for half a window at a time rather than for every file found:
    // a wake-up costs about as much as opening a small module, and with the window half
    // full the run still has the other half, opened, to write meanwhile.
    m_wakeBatch = std::max<std::size_t>(1, m_limits.files / 2);
    m_window.store(m_limits.files, std::memory_order_relaxed);
    if (m_limits.jobs > 0 && m_limits.mostJobs > m_limits.jobs)
        m_growth.emplace(m_limits.jobs, m_limits.mostJobs);
    // Room for every reader there may be: adding one during the run allocates nothing.
    m_readers.reserve(std::max(m_limits.jobs, m_limits.mostJobs));
}

ModuleReadAhead::~ModuleReadAhead() {
    Stop();
    for (std::thread& reader : m_readers)
        reader.join();
}

std::shared_ptr<ModuleReadAhead::Entry> ModuleReadAhead::nextToOpen(const Lock&) const {
    if (m_queued == 0 || m_heldBytes >= m_limits.bytes)
        return nullptr;
    for (const auto& e : m_entries)
        if (e->state == Entry::State::Queued)
            return e;
    return nullptr;
}

std::shared_ptr<ModuleReadAhead::Entry> ModuleReadAhead::current(const Lock&) const {
    // Files are handed on oldest first and dropped when done: the one being handed on
    // is at the front.
    if (!m_entries.empty() && m_entries.front()->number == m_current)
        return m_entries.front();
    return nullptr;
}

void ModuleReadAhead::wakeReader(const Lock& lock, std::size_t queuedAtLeast) {
    if (m_idleReaders == 0 || m_stopped || m_queued < queuedAtLeast || !nextToOpen(lock))
        return;
    --m_idleReaders;
    ++m_wakeTokens;
    ++m_wakeUps;
    m_work.notify_one();
}

std::uint64_t ModuleReadAhead::Push(const std::string& path) {
    Lock lock(m_mutex);
    auto entry = std::make_shared<Entry>();
    entry->number = m_nextNumber++;
    entry->path = path;
    m_entries.push_back(entry);
    ++m_queued;
    if (m_readers.empty() && m_limits.jobs > 0 && !m_stopped) {
        // Each reader runs at the priority of the run's thread (the process priority
        // the run applied), readers added later too.
        m_nice = ::getpriority(PRIO_PROCESS, 0);
        startReaders(lock, m_limits.jobs);
    }
    wakeReader(lock, m_wakeBatch);
    return entry->number;
}

void ModuleReadAhead::startReaders(const Lock&, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        try {
            m_readers.emplace_back([this, nice = m_nice] { readerLoop(nice); });
        } catch (const std::system_error&) {
            // The system has no thread to spare: the readers there are go on (with none,
            // the run opens every file itself), and no more are tried.
            m_growth.reset();
            return;
        }
    }
}

void ModuleReadAhead::readerLoop(int nice) {
    (void)::setpriority(PRIO_PROCESS, 0, nice); // a refusal leaves the inherited one
    Lock lock(m_mutex);
    for (;;) {
        if (m_stopped)
            return;
        const std::shared_ptr<Entry> next = nextToOpen(lock);
        if (!next) {
            ++m_idleReaders;
            m_work.wait(lock, [&] { return m_stopped || m_wakeTokens > 0; });
            if (m_stopped)
                return;
            --m_wakeTokens;
            continue;
        }
        next->state = Entry::State::Opening;
        --m_queued;
        wakeReader(lock, 2); // enough left for another reader to help
        // Measured while readers may still be added; sparsely once the modules come from
        // the page cache.
        const bool measure = m_growth && m_growth->MeasureNext();
        lock.unlock();
        const ThreadUsage before = measure ? m_usage() : ThreadUsage{};
        auto module = m_opener(next->path);
        const std::uint64_t bytes = module && *module ? (*module)->heldBytes() : 0;
        const ReaderGrowth::OpenCost cost = measure ? CostBetween(before, m_usage()) : ReaderGrowth::OpenCost{};
        lock.lock();
        ++m_openedByReaders;
        if (measure && m_growth && !m_stopped)
            if (const unsigned added = m_growth->Opened(cost); added > 0) {
                startReaders(lock, added);
                // Twice the readers, so that each has a file to open while the run
                // writes; as many held in memory as before, within the byte budget.
                const std::size_t window = std::max(m_limits.files, 2 * m_readers.size());
                m_window.store(window, std::memory_order_relaxed);
                m_wakeBatch = std::max<std::size_t>(1, window / 2);
            }
        // Dropped meanwhile (the run stopped or is past it): nothing to keep.
        const bool kept = !m_stopped && !m_entries.empty() && m_entries.front()->number <= next->number;
        next->state = Entry::State::Opened;
        if (kept) {
            next->module.emplace(std::move(module));
            next->bytes = bytes;
            m_heldBytes += bytes;
            if (m_runWaits && next->number == m_current)
                m_opened.notify_one();
        } else {
            lock.unlock();
            { [[maybe_unused]] const auto gone = std::move(module); } // closed outside the lock
            lock.lock();
        }
    }
}

void ModuleReadAhead::Begin(std::uint64_t number) {
    Lock lock(m_mutex);
    m_current = number;
    // The run opens this one itself when no reader has taken it up: the readers are
    // behind or were never woken (a sparse search, its last files). Others waiting
    // behind it go to a reader.
    if (const auto entry = current(lock); entry && entry->state == Entry::State::Queued)
        wakeReader(lock, 2);
}

void ModuleReadAhead::Done(std::uint64_t number) {
    std::vector<std::shared_ptr<Entry>> dropped; // destroyed outside the lock
    Lock lock(m_mutex);
    while (!m_entries.empty() && m_entries.front()->number <= number) {
        const auto& front = m_entries.front();
        m_heldBytes -= front->bytes;
        front->bytes = 0;
        if (front->state == Entry::State::Queued)
            --m_queued;
        dropped.push_back(std::move(m_entries.front()));
        m_entries.pop_front();
    }
    if (m_current == number)
        m_current = UINT64_MAX;
    wakeReader(lock, m_wakeBatch); // the byte budget may allow more now
    lock.unlock();
}

Result<std::unique_ptr<IResourceModule>> ModuleReadAhead::Open(const std::string& path) {
    Lock lock(m_mutex);
    const std::shared_ptr<Entry> entry = current(lock);
    if (!entry || entry->path != path || m_stopped) {
        lock.unlock();
        return openHere(path);
    }
    switch (entry->state) {
    case Entry::State::Queued:
        // No reader has it: opening it here is quicker than waking one. When every
        // reader is busy, they are behind the run.
        if (m_growth && !m_readers.empty() && m_idleReaders == 0)
            m_growth->RunWaited();
        entry->state = Entry::State::OpeningHere;
        --m_queued;
        lock.unlock();
        return openHere(path);
    case Entry::State::Opening:
        // A reader is at it: waiting costs less than reading the module twice.
        if (m_growth)
            m_growth->RunWaited();
        m_runWaits = true;
        m_opened.wait(lock, [&] { return entry->state != Entry::State::Opening || m_stopped; });
        m_runWaits = false;
        break;
    case Entry::State::OpeningHere:
    case Entry::State::Opened:
        break;
    }
    if (entry->state != Entry::State::Opened || !entry->module) {
        // Stopped while waiting, or asked for a second time: opened here.
        lock.unlock();
        return openHere(path);
    }
    m_heldBytes -= entry->bytes;
    entry->bytes = 0;
    auto module = std::move(*entry->module);
    entry->module.reset();
    wakeReader(lock, m_wakeBatch); // the byte budget may allow more now
    return module;
}

void ModuleReadAhead::Stop() {
    std::deque<std::shared_ptr<Entry>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        dropped.swap(m_entries);
        m_heldBytes = 0;
        m_queued = 0;
        for (const auto& e : dropped)
            e->bytes = 0;
    }
    m_work.notify_all();
    m_opened.notify_all();
}

std::uint64_t ModuleReadAhead::OpenedByReaders() const {
    std::lock_guard lock(m_mutex);
    return m_openedByReaders;
}

std::uint64_t ModuleReadAhead::ReaderWakeUps() const {
    std::lock_guard lock(m_mutex);
    return m_wakeUps;
}

unsigned ModuleReadAhead::ReadersStarted() const {
    std::lock_guard lock(m_mutex);
    return static_cast<unsigned>(m_readers.size());
}

namespace {

// Receives the search's events and hands each file to the run a window later, in the
// order found, with the counters it was found with.
class Relay final : public cSearchCoreEvents {
public:
    Relay(cSearchCoreEvents& run, ModuleReadAhead& readAhead) : m_run(run), m_readAhead(readAhead) {}

    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                   bool& Cancel) override {
        if (m_stopped) {
            Cancel = true;
            return;
        }
        m_pending.push_back(Found{FileName, FileCount, DirCount, m_readAhead.Push(FileName)});
        if (m_pending.size() <= m_readAhead.Window()) {
            // The file waits in the window: the run has nothing to handle yet, but its
            // user is answered (a click on Cancel) as in a stretch without files.
            Searching(Cancel);
            return;
        }
        while (!m_stopped && m_pending.size() > m_readAhead.Window())
            handOn();
        if (m_stopped)
            Cancel = true;
    }

    // Between files (a long stretch without matches) the run answers its user or stops
    // the walk; a stop drops what is still waiting, as at FileFound.
    void Searching(bool& Cancel) override {
        if (!m_stopped) {
            bool cancel = false;
            m_run.Searching(cancel);
            if (cancel)
                stop();
        }
        if (m_stopped)
            Cancel = true;
    }

    void SearchFinished() override {
        while (!m_stopped && !m_pending.empty())
            handOn();
        m_pending.clear();
        m_readAhead.Stop();
        m_run.SearchFinished();
    }

private:
    struct Found {
        std::string name;
        std::int32_t fileCount;
        std::int32_t dirCount;
        std::uint64_t number;
    };

    void handOn() {
        Found found = std::move(m_pending.front());
        m_pending.pop_front();
        bool cancel = false;
        m_readAhead.Begin(found.number);
        m_run.FileFound(found.name, found.fileCount, found.dirCount, cancel);
        m_readAhead.Done(found.number);
        if (cancel)
            stop();
    }

    // The run stops here: nothing found later reaches it, and the readers stop.
    void stop() {
        m_stopped = true;
        m_pending.clear();
        m_readAhead.Stop();
    }

    cSearchCoreEvents& m_run;
    ModuleReadAhead& m_readAhead;
    std::deque<Found> m_pending;
    bool m_stopped = false;
};

} // namespace

SearchCount ReadAheadSearch::CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                                       const std::string& FileMask) {
    return m_search.CountTree(AllDrives, BaseDir, Recurse, FileMask);
}

void ReadAheadSearch::SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                                     cSearchCoreEvents& events) {
    Relay relay(events, m_readAhead);
    m_search.SearchForFiles(FileRoot, Recurse, FileMask, relay);
}

void ReadAheadSearch::SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) {
    Relay relay(events, m_readAhead);
    m_search.SearchSystemForFiles(FileMask, relay);
}

} // namespace harvix
