#include "ReadAhead.h"

#include <sys/resource.h>

#include <optional>

namespace harvix::run {

unsigned DefaultReadAheadJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

// One file found and not yet done with.
struct ModuleReadAhead::Entry {
    enum class State { Queued, Opening, Opened };
    std::uint64_t number = 0;
    std::string path;
    State state = State::Queued;
    std::uint64_t bytes = 0; // counted in m_heldBytes while Opened and here
    std::optional<Result<std::unique_ptr<IResourceModule>>> module;
};

ModuleReadAhead::ModuleReadAhead(Limits limits, ModuleOpener opener)
    : m_limits(limits), m_opener(opener ? std::move(opener) : ModuleOpener(OpenModule)) {
    if (m_limits.files == 0)
        m_limits.files = 1;
}

ModuleReadAhead::~ModuleReadAhead() {
    Stop();
    for (std::thread& reader : m_readers)
        reader.join();
}

Result<std::unique_ptr<IResourceModule>> ModuleReadAhead::openHere(const std::string& path) const {
    return m_opener(path);
}

std::uint64_t ModuleReadAhead::Push(const std::string& path) {
    std::unique_lock lock(m_mutex);
    auto entry = std::make_shared<Entry>();
    entry->number = m_nextNumber++;
    entry->path = path;
    m_entries.push_back(entry);
    if (m_readers.empty() && m_limits.jobs > 0 && !m_stopped) {
        // Each reader runs at the priority of the run's thread (the process priority
        // the run applied); a thread inherits it, and sets it again to be sure.
        const int nice = ::getpriority(PRIO_PROCESS, 0);
        for (unsigned i = 0; i < m_limits.jobs; ++i)
            m_readers.emplace_back([this, nice] { readerLoop(nice); });
    }
    lock.unlock();
    m_changed.notify_all();
    return entry->number;
}

void ModuleReadAhead::readerLoop(int nice) {
    (void)::setpriority(PRIO_PROCESS, 0, nice); // a refusal leaves the inherited one
    std::unique_lock lock(m_mutex);
    for (;;) {
        std::shared_ptr<Entry> next;
        m_changed.wait(lock, [&] {
            if (m_stopped)
                return true;
            for (const auto& e : m_entries) {
                if (e->state != Entry::State::Queued)
                    continue;
                // Beyond the byte budget only the file the run waits for is opened.
                if (m_heldBytes < m_limits.bytes || e->number == m_current) {
                    next = e;
                    return true;
                }
                break;
            }
            return false;
        });
        if (m_stopped)
            return;
        next->state = Entry::State::Opening;
        lock.unlock();
        auto module = m_opener(next->path);
        const std::uint64_t bytes = module && *module ? (*module)->heldBytes() : 0;
        lock.lock();
        next->module.emplace(std::move(module));
        next->state = Entry::State::Opened;
        ++m_openedByReaders;
        // Dropped meanwhile (the run stopped or passed it over): nothing to count.
        if (!m_stopped && !m_entries.empty() && m_entries.front()->number <= next->number) {
            next->bytes = bytes;
            m_heldBytes += bytes;
        } else {
            next->module.reset();
        }
        m_changed.notify_all();
    }
}

void ModuleReadAhead::Begin(std::uint64_t number) {
    std::lock_guard lock(m_mutex);
    m_current = number;
    m_changed.notify_all();
}

void ModuleReadAhead::Done(std::uint64_t number) {
    std::vector<std::shared_ptr<Entry>> dropped; // destroyed outside the lock
    {
        std::lock_guard lock(m_mutex);
        while (!m_entries.empty() && m_entries.front()->number <= number) {
            m_heldBytes -= m_entries.front()->bytes;
            m_entries.front()->bytes = 0;
            dropped.push_back(std::move(m_entries.front()));
            m_entries.pop_front();
        }
        if (m_current == number)
            m_current = UINT64_MAX;
    }
    m_changed.notify_all();
}

Result<std::unique_ptr<IResourceModule>> ModuleReadAhead::Open(const std::string& path) {
    std::unique_lock lock(m_mutex);
    std::shared_ptr<Entry> entry;
    for (const auto& e : m_entries)
        if (e->number == m_current)
            entry = e;
    if (!entry || entry->path != path || m_stopped) {
        lock.unlock();
        return openHere(path);
    }
    if (entry->state != Entry::State::Opened || !entry->module) {
        // Not opened yet (or asked for again): opening it here is quicker than waiting
        // for a reader, which on a busy machine may wait long for a processor. A reader
        // that is opening it meanwhile has its result dropped when the file is done.
        if (entry->state == Entry::State::Queued)
            entry->state = Entry::State::Opening;
        lock.unlock();
        return openHere(path);
    }
    m_heldBytes -= entry->bytes;
    entry->bytes = 0;
    auto module = std::move(*entry->module);
    entry->module.reset();
    lock.unlock();
    m_changed.notify_all();
    return module;
}

void ModuleReadAhead::Stop() {
    std::deque<std::shared_ptr<Entry>> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        dropped.swap(m_entries);
        m_heldBytes = 0;
        for (const auto& e : dropped)
            e->bytes = 0;
    }
    m_changed.notify_all();
}

std::uint64_t ModuleReadAhead::OpenedByReaders() const {
    std::lock_guard lock(m_mutex);
    return m_openedByReaders;
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
        while (!m_stopped && m_pending.size() > m_readAhead.limits().files)
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

std::int32_t ReadAheadSearch::GetDirCount(bool AllDrives, const std::string& BaseDir) {
    return m_search.GetDirCount(AllDrives, BaseDir);
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

} // namespace harvix::run
