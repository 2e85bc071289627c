// Reading modules ahead of the run: whatever the number of readers and however long each
// module takes to open, the run gets the files in the order found, with their counters,
// each with its own module; a cancel stops the search and the readers; the memory held
// ahead stays within its budget; the readers run at the run's priority.
#include "run/ReadAhead.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

namespace harvix {
namespace {

// A module that knows the file it was opened for.
struct FakeModule final : IResourceModule {
    static inline std::atomic<int> alive{0};
    static inline std::atomic<int> mostAlive{0};

    FakeModule(std::string p, std::uint64_t bytes) : path(std::move(p)), held(bytes) {
        const int now = ++alive;
        int most = mostAlive.load();
        while (now > most && !mostAlive.compare_exchange_weak(most, now)) {
        }
    }
    ~FakeModule() override { --alive; }

    std::vector<ResId> types() const override { return {}; }
    std::vector<ResId> names(const ResId&) const override { return {}; }
    std::vector<ResLanguage> languages(const ResId&, const ResId&) const override { return {}; }
    std::vector<std::uint8_t> load(const ResId&, const ResId&) const override { return {}; }
    std::uint64_t heldBytes() const override { return held; }

    std::string path;
    std::uint64_t held;
};

// Opens any path after a random pause of up to `maxDelayUs`; "bad*" are no modules.
struct DelayingOpener {
    int maxDelayUs = 0;
    std::uint64_t held = 1000;
    std::atomic<int> calls{0};
    std::mutex mutex;
    std::mt19937 random{1414};
    std::function<void()> onOpen;

    Result<std::unique_ptr<IResourceModule>> operator()(const std::string& path) {
        ++calls;
        int delay = 0;
        {
            std::lock_guard lock(mutex);
            delay = maxDelayUs > 0 ? static_cast<int>(random() % static_cast<unsigned>(maxDelayUs)) : 0;
        }
        if (onOpen)
            onOpen();
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
        if (path.rfind("bad", 0) == 0)
            return makeError(ErrorKind::NotLoadable, "not a module");
        return std::unique_ptr<IResourceModule>(std::make_unique<FakeModule>(path, held));
    }
};

// A search that reports the given files, with counters, until it is cancelled.
struct ScriptedSearch final : IRunSearch {
    std::vector<std::string> files;
    int stoppedAt = -1; // the file whose FileFound returned Cancel
    int finished = 0;

    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override {
        return {7, 3};
    }
    void SearchForFiles(const std::string&, bool, const std::string&, cSearchCoreEvents& events) override {
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::string name = files[i];
            std::int32_t fileCount = static_cast<std::int32_t>(i + 1);
            std::int32_t dirCount = static_cast<std::int32_t>(3 * i);
            bool cancel = false;
            events.FileFound(name, fileCount, dirCount, cancel);
            if (cancel) {
                stoppedAt = static_cast<int>(i);
                break;
            }
        }
        ++finished;
        events.SearchFinished();
    }
    void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
        SearchForFiles("/", true, mask, events);
    }
};

// The run's side: records every file with its counters and the module it got.
struct RecordingRun final : cSearchCoreEvents {
    ModuleReadAhead* readAhead = nullptr;
    std::vector<std::string> log;
    int cancelAt = -1;
    int finished = 0;
    std::function<void()> onFile;

    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount, bool& Cancel) override {
        auto module = readAhead->Open(FileName);
        std::string got = !module ? "none" : static_cast<const FakeModule&>(**module).path;
        log.push_back(FileName + " " + std::to_string(FileCount) + " " + std::to_string(DirCount) + " " + got);
        if (onFile)
            onFile();
        if (static_cast<int>(log.size()) - 1 == cancelAt)
            Cancel = true;
    }
    void SearchFinished() override { ++finished; }
};

std::vector<std::string> someFiles(int n) {
    std::vector<std::string> files;
    for (int i = 0; i < n; ++i)
        files.push_back((i % 7 == 3 ? "bad" : "m") + std::to_string(i) + ".dll");
    return files;
}

// What the run sees without reading ahead.
std::vector<std::string> expectedLog(const std::vector<std::string>& files, int upTo) {
    std::vector<std::string> log;
    for (std::size_t i = 0; i < files.size() && static_cast<int>(i) <= upTo; ++i)
        log.push_back(files[i] + " " + std::to_string(i + 1) + " " + std::to_string(3 * i) + " " +
                      (files[i].rfind("bad", 0) == 0 ? "none" : files[i]));
    return log;
}

// One read-ahead between a scripted search of `files` and a recording run.
struct Rig {
    Rig(ModuleReadAhead::Limits limits, std::vector<std::string> files, int maxDelayUs)
        : readAhead(limits, std::ref(opener)), search(inner, readAhead) {
        opener.maxDelayUs = maxDelayUs; // the readers start at the first file found
        inner.files = std::move(files);
        run.readAhead = &readAhead;
    }
    void Search() { search.SearchForFiles("x", true, "*", run); }

    DelayingOpener opener;
    ModuleReadAhead readAhead;
    ScriptedSearch inner;
    ReadAheadSearch search;
    RecordingRun run;
};

TEST(ReadAhead, TheRunGetsEveryFileInOrderWithItsOwnModule) {
    const auto files = someFiles(60);
    for (const unsigned jobs : {0u, 1u, 2u, 3u, 8u})
        for (const std::size_t window : {std::size_t{1}, std::size_t{4}, std::size_t{16}}) {
            Rig rig({jobs, window, 1 << 20}, files, 400);
            // The run is slow at random too.
            std::mt19937 random(jobs * 100 + static_cast<unsigned>(window));
            rig.run.onFile = [&] { std::this_thread::sleep_for(std::chrono::microseconds(random() % 300)); };
            // The count passes through the read-ahead as it is.
            EXPECT_EQ(rig.search.CountTree(false, "x", true, "*").dirs, 7);
            EXPECT_EQ(rig.search.CountTree(false, "x", true, "*").files, 3);
            rig.Search();
            EXPECT_EQ(rig.run.log, expectedLog(files, 1000)) << jobs << " " << window;
            EXPECT_EQ(rig.run.finished, 1);
            EXPECT_EQ(rig.inner.stoppedAt, -1);
            // Each file was opened once: by a reader, or by the run when no reader had
            // taken it up.
            EXPECT_EQ(rig.opener.calls.load(), 60) << jobs << " " << window;
            if (jobs == 0) {
                EXPECT_EQ(rig.readAhead.OpenedByReaders(), 0u);
            }
        }
}

TEST(ReadAhead, EachFileIsOpenedOnceAndReadersAreWokenForBatchesNotForEveryFile) {
    // A run slower than its readers: they catch up, go idle and are woken again.
    const auto files = someFiles(200);
    for (const unsigned jobs : {1u, 2u}) {
        Rig rig({jobs, 16, 1 << 20}, files, 50);
        rig.run.onFile = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
        rig.Search();
        EXPECT_EQ(rig.run.log, expectedLog(files, 1000)) << jobs;
        // The run waits for a reader that is at its file rather than opening it again.
        EXPECT_EQ(rig.opener.calls.load(), 200) << jobs;
        EXPECT_GT(rig.readAhead.OpenedByReaders(), 100u) << jobs;
        // Woken when half the window of 16 waits (a second reader when a woken one
        // leaves work behind): about once a batch per reader, never once a file.
        EXPECT_LE(rig.readAhead.ReaderWakeUps(), 200u / 2) << jobs;
        EXPECT_GT(rig.readAhead.ReaderWakeUps(), 0u) << jobs;
    }
}

TEST(ReadAhead, ACancelStopsTheSearchAndTheReaders) {
    const auto files = someFiles(200);
    for (const unsigned jobs : {0u, 1u, 4u}) {
        Rig rig({jobs, 6, 1 << 20}, files, 200);
        rig.run.cancelAt = 20;
        rig.Search();
        EXPECT_EQ(rig.run.log, expectedLog(files, 20)) << jobs;
        // The search stopped at the file found when the run cancelled: a window later.
        EXPECT_EQ(rig.inner.stoppedAt, 20 + 6) << jobs;
        EXPECT_EQ(rig.run.finished, 1);
        // Opens already under way when the run stopped end; no other one starts, and
        // no file was opened twice.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int opened = rig.opener.calls.load();
        EXPECT_LE(opened, 20 + 6 + 1) << jobs;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(rig.opener.calls.load(), opened) << "a reader went on after the stop";
    }
}

TEST(ReadAhead, ALongStretchWithoutFilesReachesTheRunAndCanStopTheWalk) {
    // A walk that passes folders without matches and raises Searching at each.
    struct EmptyWalk final : IRunSearch {
        int raised = 0;
        SearchCount CountTree(bool, const std::string&, bool, const std::string&) override {
            return {};
        }
        void SearchForFiles(const std::string&, bool, const std::string&, cSearchCoreEvents& events) override {
            bool cancel = false;
            while (!cancel && raised < 100) {
                ++raised;
                events.Searching(cancel);
            }
            events.SearchFinished();
        }
        void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
            SearchForFiles("/", true, mask, events);
        }
    };
    struct AskingRun final : cSearchCoreEvents {
        int searching = 0, finished = 0;
        void FileFound(std::string&, std::int32_t&, std::int32_t&, bool&) override {}
        void SearchFinished() override { ++finished; }
        void Searching(bool& Cancel) override { Cancel = ++searching == 5; }
    };
    ModuleReadAhead readAhead({2, 4, 1 << 20});
    EmptyWalk inner;
    ReadAheadSearch search(inner, readAhead);
    AskingRun run;
    search.SearchForFiles("x", true, "*", run);
    EXPECT_EQ(run.searching, 5);
    EXPECT_EQ(inner.raised, 5);
    EXPECT_EQ(run.finished, 1);
}

TEST(ReadAhead, HoldsNoMoreThanItsByteBudget) {
    DelayingOpener opener;
    opener.held = 5 << 20;
    FakeModule::mostAlive = 0;
    ModuleReadAhead readAhead({4, 16, 8 << 20}, std::ref(opener));
    ScriptedSearch inner;
    inner.files = someFiles(40);
    ReadAheadSearch search(inner, readAhead);
    RecordingRun run;
    run.readAhead = &readAhead;
    run.onFile = [] { std::this_thread::sleep_for(std::chrono::microseconds(500)); };
    search.SearchForFiles("x", true, "*", run);
    EXPECT_EQ(run.log, expectedLog(inner.files, 1000));
    // Two held ahead (10 MiB reach the budget of 8), at most one more being opened by
    // each reader, one in the run's hands: far fewer than the window of 16 files.
    EXPECT_LE(FakeModule::mostAlive.load(), 2 + 4 + 1);
    EXPECT_EQ(FakeModule::alive.load(), 0);
}

// Made-up usage for the readers: every open costs each reader `step` (the difference
// between two calls on one thread).
ModuleReadAhead::UsageSource UsageStepping(ReaderGrowth::OpenCost step) {
    return [step] {
        thread_local ThreadUsage total;
        total.at += step.elapsed;
        total.cpu += step.cpu;
        total.blocksRead += step.blocksRead;
        return total;
    };
}

TEST(ReadAhead, ReadersAreAddedWhileTheyWaitForTheDiskAndNoneWhenModulesAreCached) {
    using std::chrono::microseconds;
    const ReaderGrowth::OpenCost cold{microseconds(400), microseconds(40), 16};
    const ReaderGrowth::OpenCost warm{microseconds(30), microseconds(28), 0};
    struct Case {
        const char* name;
        unsigned jobs;
        unsigned mostJobs;
        ReaderGrowth::OpenCost cost;
        unsigned readers; // started by the end of the run
        std::size_t window;
    };
    const Case cases[] = {
        {"cold, adapting", 2, 16, cold, 16, 32},
        {"cold, one processor", 1, 16, cold, 16, 32},
        {"warm, adapting", 2, 16, warm, 2, 16},
        {"cold, a fixed number", 2, 0, cold, 2, 16},
        {"cold, no readers", 0, 16, cold, 0, 16},
    };
    const auto files = someFiles(300);
    for (const Case& c : cases) {
        ModuleReadAhead::Limits limits{c.jobs, 16, 1 << 20, c.mostJobs};
        // Readers slower than the run, as when they wait for the disk.
        DelayingOpener opener;
        opener.maxDelayUs = 300;
        ModuleReadAhead readAhead(limits, std::ref(opener), UsageStepping(c.cost));
        ScriptedSearch inner;
        inner.files = files;
        ReadAheadSearch search(inner, readAhead);
        RecordingRun run;
        run.readAhead = &readAhead;
        search.SearchForFiles("x", true, "*", run);
        // Readers added during the run change nothing the run sees, and open no file twice.
        EXPECT_EQ(run.log, expectedLog(files, 1000)) << c.name;
        EXPECT_EQ(opener.calls.load(), 300) << c.name;
        EXPECT_EQ(readAhead.ReadersStarted(), c.readers) << c.name;
        // The window widens with the readers added: each has a file to open.
        EXPECT_EQ(readAhead.Window(), c.window) << c.name;
    }
}

TEST(ReadAhead, TheLimitsOfARunGiveEachReaderRoomInTheWindow) {
    const unsigned processors = std::min(DefaultReadAheadJobs(), kMostReadAheadJobs);
    struct Case {
        std::optional<unsigned> jobs;
        unsigned start, most;
        std::size_t files;
    };
    const Case cases[] = {
        {std::nullopt, processors, kMostReadAheadJobs, std::max<std::size_t>(16, 2 * processors)},
        {0u, 0, 0, 16},
        {2u, 2, 0, 16},
        {8u, 8, 0, 16},
        {20u, 20, 0, 40},
    };
    for (const Case& c : cases) {
        const ModuleReadAhead::Limits limits = ReadAheadLimits(c.jobs);
        EXPECT_EQ(limits.jobs, c.start) << c.jobs.value_or(999);
        EXPECT_EQ(limits.mostJobs, c.most) << c.jobs.value_or(999);
        EXPECT_EQ(limits.files, c.files) << c.jobs.value_or(999);
        EXPECT_EQ(limits.bytes, 8u << 20) << c.jobs.value_or(999);
    }
}

TEST(ReadAhead, ReadersRunAtThePriorityOfTheRun) {
    // In a thread of its own, whose nice value the test may raise for good.
    std::thread([] {
        ASSERT_EQ(::setpriority(PRIO_PROCESS, 0, 7), 0);
        for (const bool adding : {false, true}) {
            DelayingOpener opener;
            std::mutex mutex;
            std::vector<int> seen;
            opener.onOpen = [&] {
                std::lock_guard lock(mutex);
                seen.push_back(::getpriority(PRIO_PROCESS, 0));
            };
            // Readers added during the run take the run's priority too.
            ModuleReadAhead::Limits limits{2, 8, 1 << 20, adding ? 8u : 0u};
            opener.maxDelayUs = adding ? 300 : 0;
            const ReaderGrowth::OpenCost cold{std::chrono::microseconds(400), std::chrono::microseconds(40), 16};
            ModuleReadAhead readAhead(limits, std::ref(opener), UsageStepping(cold));
            ScriptedSearch inner;
            inner.files = someFiles(60);
            ReadAheadSearch search(inner, readAhead);
            RecordingRun run;
            run.readAhead = &readAhead;
            if (!adding)
                run.onFile = [] { std::this_thread::sleep_for(std::chrono::microseconds(300)); };
            search.SearchForFiles("x", true, "*", run);
            EXPECT_GT(readAhead.OpenedByReaders(), 0u);
            EXPECT_EQ(readAhead.ReadersStarted(), adding ? 8u : 2u);
            for (int nice : seen)
                EXPECT_EQ(nice, 7);
        }
    }).join();
}

} // namespace
} // namespace harvix
