// The search run against a scripted search, a scripted engine, a fake clock and a view
// that records what it is told.
#include "run/RunTexts.h"
#include "tests/support/ScriptedPrompt.h"
#include "run/SearchRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace harvix::run {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kWait = kPleaseWait;

struct RecordingView : IRunView {
    std::vector<std::string> log;
    std::vector<int> values;
    std::vector<std::string> captions;
    std::vector<std::string> statuses;
    std::vector<int> statsRows;
    std::vector<std::string> statsCounts; // the count each change came with
    int pumps = 0;
    std::function<void()> onPump;

    void setStatusText(const std::string& text) override {
        statuses.push_back(text);
        log.push_back("status:" + text);
    }
    void repaintStatus() override { log.push_back("repaint"); }
    void setCancelEnabled(bool enabled) override {
        log.push_back(enabled ? "cancel:on" : "cancel:off");
    }
    void showProgressFrame() override { log.push_back("frame"); }
    void setProgressValue(int value) override { values.push_back(value); }
    void setCaption(const std::string& text) override { captions.push_back(text); }
    void pumpEvents() override {
        ++pumps;
        log.push_back("pump");
        if (onPump)
            onPump();
    }
    void stopAnimation() override { log.push_back("stop-animation"); }
    void statsChanged(int row, const std::string& count) override {
        statsRows.push_back(row);
        statsCounts.push_back(count);
    }
    void searchFinished() override { log.push_back("finished"); }
    void closeProgram() override { log.push_back("close"); }
};

using harvix::testing::ScriptedPrompt;

struct FakeClock : IRunClock {
    std::uint32_t now = 5000;
    std::vector<std::uint32_t> sleeps;
    std::uint32_t GetTickCount() override { return now; }
    void Sleep(std::uint32_t ms) override { sleeps.push_back(ms); }
};

// One FileFound of the script: the DirCount at that file and the clock at that moment.
struct Step {
    std::int32_t dirCount;
    std::uint32_t tick = 0; // 0: leave the clock alone
};

struct ScriptedSearch : IRunSearch {
    FakeClock* clock = nullptr;
    std::int32_t total = 0;
    std::vector<Step> steps;
    std::vector<std::string> calls;
    int eventsRaised = 0;
    int finishedRaised = 0;

    std::int32_t GetDirCount(bool all, const std::string& base) override {
        calls.push_back(std::string("count:") + (all ? "all:" : "folder:") + base);
        return total;
    }
    void SearchForFiles(const std::string& root, bool recurse, const std::string& mask,
                        cSearchCoreEvents& events) override {
        calls.push_back("search:" + root + (recurse ? ":sub:" : ":flat:") + mask);
        run(events);
    }
    void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
        calls.push_back("system:" + mask);
        run(events);
    }
    void run(cSearchCoreEvents& events) {
        bool cancel = false;
        std::int32_t fileCount = 0;
        for (const Step& step : steps) {
            if (step.tick != 0)
                clock->now = step.tick;
            std::string name = "/m/file" + std::to_string(fileCount + 1) + ".dll";
            ++fileCount;
            std::int32_t dirCount = step.dirCount;
            ++eventsRaised;
            events.FileFound(name, fileCount, dirCount, cancel);
            if (cancel)
                break;
        }
        ++finishedRaised;
        events.SearchFinished();
    }
};

struct ScriptedEngine : IExtractEngine {
    std::vector<std::string> files;
    int failAt = 0;            // 1-based file number that reports a write error; 0: none
    std::vector<std::int32_t> kindsPerFile; // kinds reported for every file

    ModuleOutcome ExtractFromFile(const std::string& name, IResFoundTarget& target) override {
        files.push_back(name);
        for (std::int32_t kind : kindsPerFile) {
            std::int32_t k = kind;
            target.ResFound(k, ResName::number(1));
        }
        if (failAt != 0 && static_cast<int>(files.size()) == failAt)
            return {ModuleEnd::Failed, makeError(ErrorKind::Io, "disk gone", EIO), 0, 0};
        return {};
    }
};

class SearchRunTest : public ::testing::Test {
protected:
    SearchRunTest() : run(view, prompt, search, engine, clock) {
        search.clock = &clock;
        run.setPriorityApplier([this](std::int16_t p) { priorities.push_back(p); });
    }

    void steps(std::int32_t total, std::vector<Step> s) {
        search.total = total;
        search.steps = std::move(s);
    }
    void filesAtDir(int count, std::int32_t dirCount = 0) {
        search.steps.assign(static_cast<std::size_t>(count), Step{dirCount});
    }

    static SearchSettings folder(bool subFolders) {
        SearchSettings s;
        s.SearchSystem = false;
        s.Folder = "/data/win";
        s.SubFolders = subFolders;
        s.Mask = "*.dll";
        s.Priority = 4;
        return s;
    }

    RecordingView view;
    ScriptedPrompt prompt;
    ScriptedSearch search;
    ScriptedEngine engine;
    FakeClock clock;
    std::vector<std::int16_t> priorities;
    SearchRun run;
};

TEST_F(SearchRunTest, TotalOfElevenReachesFiftyWithEvenPercentagesOnly) {
    steps(11, {{0}, {0}, {3}, {6}, {6}, {9}, {11}});
    run.StartSearch(folder(true));

    EXPECT_THAT(search.calls, ElementsAre("count:folder:/data/win", "search:/data/win:sub:*.dll"));
    EXPECT_THAT(priorities, ElementsAre(4));
    // 3/11, 6/11, 9/11 and 11/11 of 50; the two files at 0 leave the bar alone.
    EXPECT_THAT(view.values, ElementsAre(14, 27, 41, 50));
    EXPECT_THAT(view.captions,
                ElementsAre("Harvix - 28% completed", "Harvix - 54% completed",
                            "Harvix - 82% completed", "Harvix - 100% completed"));
    EXPECT_EQ(engine.files.size(), 7u);
    EXPECT_EQ(run.End(), RunEnd::Completed);
    EXPECT_EQ(view.log.back(), "finished");
}

TEST_F(SearchRunTest, GrowingTreeStopsTheBarAtFifty) {
    steps(4, {{2}, {4}, {6}, {8}, {3}});
    run.StartSearch(folder(true));
    EXPECT_THAT(view.values, ElementsAre(25, 50, 38));
    EXPECT_EQ(view.captions.size(), 3u);
    EXPECT_EQ(engine.files.size(), 5u); // every file is still extracted
}

TEST_F(SearchRunTest, CountOfZeroShowsNoProgress) {
    steps(0, {{0}, {1}, {2}});
    run.StartSearch(folder(true));
    EXPECT_THAT(view.values, IsEmpty());
    EXPECT_THAT(view.captions, IsEmpty());
    EXPECT_EQ(engine.files.size(), 3u);
}

TEST_F(SearchRunTest, FolderWithoutSubfoldersCountsNothingAndShowsNoProgress) {
    filesAtDir(3, 4);
    run.StartSearch(folder(false));
    EXPECT_THAT(search.calls, ElementsAre("search:/data/win:flat:*.dll"));
    EXPECT_THAT(view.log, ElementsAre("status:" + kWait, "repaint", "finished"));
    EXPECT_THAT(view.values, IsEmpty());
    EXPECT_THAT(view.captions, IsEmpty());
}

TEST_F(SearchRunTest, AllDrivesCountsWithCancelDisabledThenSearches) {
    SearchSettings s = folder(false); // SubFolders does not matter for all drives
    s.SearchSystem = true;
    s.Mask = "*.exe";
    steps(10, {{5}});
    run.StartSearch(s);
    EXPECT_THAT(search.calls, ElementsAre("count:all:/", "system:*.exe"));
    EXPECT_THAT(view.log, ElementsAre("cancel:off", "status:" + kWait + "Initializing...", "repaint",
                                      "frame", "status:" + kWait, "repaint", "cancel:on",
                                      "finished"));
    EXPECT_THAT(view.values, ElementsAre(25));
}

TEST_F(SearchRunTest, RemainingTimeOnlyPastTenSecondsAndAboveTenSeconds) {
    clock.now = 1000; // the start tick
    steps(100, {{10, 11000},   // 10 s exactly: no estimate yet
                {20, 11001},   // 80/20 * 10001 ms = 40 s
                {20, 30000},   // bar unchanged: nothing recomputed
                {50, 61000},   // 50/50 * 60 s = 60 s
                {95, 62000}}); // 5/95 * 61 s = 3.2 s: the label keeps its text
    run.StartSearch(folder(true));
    const std::string remaining = kWait + "Remaining time: ";
    EXPECT_THAT(view.statuses, ElementsAre(kWait + "Initializing...", kWait,
                                           remaining + " 40 sec", remaining + " 1 min"));
}

TEST_F(SearchRunTest, ShortRunNeverShowsARemainingTime) {
    clock.now = 0xFFFFF000u; // the tick count wraps during the run
    steps(100, {{10, 0xFFFFFF00u}, {20, 0x00000100u}, {50, 0x00001000u}});
    run.StartSearch(folder(true));
    for (const std::string& status : view.statuses)
        EXPECT_EQ(status.find("Remaining"), std::string::npos) << status;
}

TEST_F(SearchRunTest, EventsArePumpedAfterTheTenthAndTwentiethFile) {
    filesAtDir(25);
    std::vector<std::size_t> filesAtPump;
    view.onPump = [&] { filesAtPump.push_back(engine.files.size()); };
    run.StartSearch(folder(false));
    EXPECT_THAT(filesAtPump, ElementsAre(10u, 20u));
}

TEST_F(SearchRunTest, CancelAnsweredNoGoesOnAnsweredYesEndsTheRun) {
    filesAtDir(25);
    prompt.answers = {Answer::No, Answer::Yes};
    view.onPump = [&] { run.cmdCancel_Click(); };
    run.StartSearch(folder(false));

    EXPECT_THAT(prompt.questions, ElementsAre("Are you sure you want to cancel the search?",
                                          "Are you sure you want to cancel the search?"));
    // No at the 10th file; Yes at the 20th: no further file, no last page.
    EXPECT_EQ(engine.files.size(), 20u);
    EXPECT_EQ(search.eventsRaised, 20);
    EXPECT_TRUE(run.CancelRequested());
    EXPECT_EQ(run.End(), RunEnd::Cancelled);
    EXPECT_THAT(view.log, ::testing::Contains("close"));
    EXPECT_THAT(view.log, ::testing::Not(::testing::Contains("finished")));
    EXPECT_EQ(view.log[view.log.size() - 2], "cancel:off");
    EXPECT_EQ(view.log.back(), "close");
}

TEST_F(SearchRunTest, CancelOffTheSearchPageClosesWithoutAsking) {
    run.cmdCancel_Click(6);
    EXPECT_THAT(prompt.questions, IsEmpty());
    EXPECT_THAT(view.log, ElementsAre("close"));
}

TEST_F(SearchRunTest, EngineErrorShowsTheMessageAndClosesTheProgram) {
    filesAtDir(8);
    engine.failAt = 3;
    run.StartSearch(folder(false));

    EXPECT_THAT(prompt.errors, ElementsAre("An error has occurred during the search.\r\n"
                                           "Harvix will now close."));
    EXPECT_EQ(engine.files.size(), 3u);
    EXPECT_EQ(search.eventsRaised, 3);
    EXPECT_THAT(clock.sleeps, ElementsAre(1500u));
    EXPECT_EQ(run.End(), RunEnd::Failed);
    EXPECT_THAT(view.log, ElementsAre("status:" + kWait, "repaint", "cancel:off", "stop-animation",
                                      "close"));
}

TEST_F(SearchRunTest, ResourcesCountPerChosenKind) {
    run.Stats().FillStatsList({false, true, false, false, false, true});
    filesAtDir(2);
    engine.kindsPerFile = {1, 1, 5, 0}; // BITMAP has no row: not counted
    run.StartSearch(folder(false));
    EXPECT_EQ(run.Stats().countOf(1), 4);
    EXPECT_EQ(run.Stats().countOf(5), 2);
    EXPECT_EQ(run.Stats().rows()[0].countText(), "4");
    EXPECT_THAT(view.statsRows, ElementsAre(0, 0, 1, 0, 0, 1));
    EXPECT_THAT(view.statsCounts, ElementsAre("1", "2", "1", "3", "4", "2"));
}

} // namespace
} // namespace harvix::run
