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

namespace harvix {
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

// One FileFound of the script: the FileCount of that file (the files of a search so
// far) and the clock at that moment.
struct Step {
    std::int32_t fileCount;
    std::uint32_t tick = 0; // 0: leave the clock alone
};

struct ScriptedSearch : IRunSearch {
    FakeClock* clock = nullptr;
    SearchCount total;
    std::vector<Step> steps;
    std::vector<std::string> calls;
    int eventsRaised = 0;
    int finishedRaised = 0;

    SearchCount CountTree(bool all, const std::string& base, bool recurse,
                          const std::string& mask) override {
        calls.push_back(std::string("count:") + (all ? "all:" : "folder:") + base +
                        (recurse ? ":sub:" : ":flat:") + mask);
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
        for (const Step& step : steps) {
            if (step.tick != 0)
                clock->now = step.tick;
            std::string name = "/m/file" + std::to_string(step.fileCount) + ".dll";
            std::int32_t fileCount = step.fileCount;
            std::int32_t dirCount = 0;
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
    std::vector<ResourceKind> kindsPerFile; // kinds reported for every file
    std::function<void()> onFile;           // as each file's extraction begins

    ModuleOutcome ExtractFromFile(const std::string& name, IResFoundTarget& target) override {
        if (onFile)
            onFile();
        files.push_back(name);
        lastTarget = &target;
        for (ResourceKind kind : kindsPerFile)
            target.ResFound(kind, ResName::number(1));
        if (failAt != 0 && static_cast<int>(files.size()) == failAt)
            return {ModuleEnd::Failed, makeError(ErrorKind::Io, "disk gone", EIO), 0, 0};
        return {};
    }
    // The files written behind the engine end: the last resources are told then, and a
    // write error among them ends Failed.
    bool failAtFinish = false;
    int finished = 0;
    std::vector<ResourceKind> kindsAtFinish;
    ModuleOutcome Finish() override {
        ++finished;
        for (ResourceKind kind : kindsAtFinish)
            lastTarget->ResFound(kind, ResName::number(1));
        kindsAtFinish.clear();
        if (failAtFinish)
            return {ModuleEnd::Failed, makeError(ErrorKind::Io, "disk gone", EIO), 0, 0};
        return {};
    }
    IResFoundTarget* lastTarget = nullptr;
};

class SearchRunTest : public ::testing::Test {
protected:
    SearchRunTest() : run(view, prompt, search, engine, clock) {
        search.clock = &clock;
        run.setPriorityApplier([this](std::int16_t p) { priorities.push_back(p); });
    }

    void steps(std::int32_t totalFiles, std::vector<Step> s) {
        search.total = {3 * totalFiles, totalFiles};
        search.steps = std::move(s);
    }
    // `count` files, one after the other, of `totalFiles` counted.
    void files(int count, std::int32_t totalFiles) {
        search.total = {0, totalFiles};
        search.steps.clear();
        for (std::int32_t i = 1; i <= count; ++i)
            search.steps.push_back({i});
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

// The bar follows the files handled out of those counted, in units of 2 %: each file
// moves it once the engine is done with it, so the last one brings 100 %.
TEST_F(SearchRunTest, FilesHandledMoveTheBarAndTheCaptionToTheEnd) {
    files(4, 4);
    std::vector<std::size_t> valuesAtFile;
    engine.onFile = [&] { valuesAtFile.push_back(view.values.size()); };
    run.StartSearch(folder(true));

    EXPECT_THAT(search.calls, ElementsAre("count:folder:/data/win:sub:*.dll",
                                          "search:/data/win:sub:*.dll"));
    EXPECT_THAT(priorities, ElementsAre(4));
    // 1/4, 2/4, 3/4 and 4/4 of 50, halves to the even neighbour.
    EXPECT_THAT(view.values, ElementsAre(12, 25, 38, 50));
    EXPECT_THAT(view.captions,
                ElementsAre("Harvix - 24% completed", "Harvix - 50% completed",
                            "Harvix - 76% completed", "Harvix - 100% completed"));
    // A file's share is shown once it is handled, not before.
    EXPECT_THAT(valuesAtFile, ElementsAre(0u, 1u, 2u, 3u));
    EXPECT_EQ(run.TotalFiles(), 4);
    EXPECT_EQ(run.FilesHandled(), 4);
    EXPECT_EQ(run.End(), RunEnd::Completed);
    EXPECT_EQ(view.log.back(), "finished");
}

// A flat folder of many files: the bar moves through every unit, the caption only when
// the bar does (even percentages, never 0 %).
TEST_F(SearchRunTest, AFlatFolderOfThirtyThousandFilesMovesFromZeroToOneHundred) {
    files(30000, 30000);
    run.StartSearch(folder(false));
    EXPECT_THAT(search.calls, ElementsAre("count:folder:/data/win:flat:*.dll",
                                          "search:/data/win:flat:*.dll"));
    EXPECT_THAT(view.log, ::testing::IsSupersetOf({std::string("frame")}));
    ASSERT_EQ(view.values.size(), 50u);
    for (std::size_t i = 0; i < 50; ++i)
        EXPECT_EQ(view.values[i], static_cast<int>(i) + 1);
    EXPECT_EQ(view.captions.front(), "Harvix - 2% completed");
    EXPECT_EQ(view.captions.back(), "Harvix - 100% completed");
}

TEST_F(SearchRunTest, GrowingTreeStopsTheBarAtFifty) {
    files(4, 2);
    run.StartSearch(folder(true));
    EXPECT_THAT(view.values, ElementsAre(25, 50));
    EXPECT_EQ(view.captions.size(), 2u);
    EXPECT_EQ(engine.files.size(), 4u); // every file is still extracted
}

TEST_F(SearchRunTest, CountOfZeroShowsNoProgress) {
    files(3, 0);
    run.StartSearch(folder(true));
    EXPECT_THAT(view.values, IsEmpty());
    EXPECT_THAT(view.captions, IsEmpty());
    EXPECT_EQ(engine.files.size(), 3u);
}

// A folder without its subfolders is counted like a tree, with Cancel disabled meanwhile.
TEST_F(SearchRunTest, FolderWithoutSubfoldersIsCountedAndShowsProgress) {
    files(3, 3);
    run.StartSearch(folder(false));
    EXPECT_THAT(search.calls, ElementsAre("count:folder:/data/win:flat:*.dll",
                                          "search:/data/win:flat:*.dll"));
    EXPECT_THAT(view.log, ElementsAre("cancel:off", "status:" + kWait + "Initializing...", "repaint",
                                      "frame", "status:" + kWait, "repaint", "cancel:on",
                                      "finished"));
    EXPECT_THAT(view.values, ElementsAre(17, 33, 50));
    EXPECT_EQ(view.captions.back(), "Harvix - 100% completed");
}

TEST_F(SearchRunTest, AllDrivesCountsWithCancelDisabledThenSearches) {
    SearchSettings s = folder(false); // SubFolders does not matter for all drives
    s.SearchSystem = true;
    s.Mask = "*.exe";
    steps(2, {{1}});
    run.StartSearch(s);
    EXPECT_THAT(search.calls, ElementsAre("count:all:/:sub:*.exe", "system:*.exe"));
    EXPECT_THAT(view.log, ElementsAre("cancel:off", "status:" + kWait + "Initializing...", "repaint",
                                      "frame", "status:" + kWait, "repaint", "cancel:on",
                                      "finished"));
    EXPECT_THAT(view.values, ElementsAre(25));
}

TEST_F(SearchRunTest, RemainingTimeOnlyPastTenSecondsAndAboveTenSeconds) {
    clock.now = 1000; // the start tick
    steps(100, {{10, 11000},   // 10 s exactly: no estimate yet
                {20, 11001},   // 80/20 * 10001 ms = 40 s
                {21, 30000},   // bar unchanged (10.5 is 10): nothing recomputed
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
    files(25, 25);
    std::vector<std::size_t> filesAtPump;
    view.onPump = [&] { filesAtPump.push_back(engine.files.size()); };
    run.StartSearch(folder(false));
    EXPECT_THAT(filesAtPump, ElementsAre(10u, 20u));
}

TEST_F(SearchRunTest, CancelAnsweredNoGoesOnAnsweredYesEndsTheRun) {
    files(25, 25);
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
    files(8, 8);
    engine.failAt = 3;
    run.StartSearch(folder(false));

    EXPECT_THAT(prompt.errors, ElementsAre("An error has occurred during the search.\r\n"
                                           "Harvix will now close."));
    EXPECT_EQ(engine.files.size(), 3u);
    EXPECT_EQ(search.eventsRaised, 3);
    EXPECT_THAT(clock.sleeps, ElementsAre(1500u));
    EXPECT_EQ(run.End(), RunEnd::Failed);
    EXPECT_THAT(view.log, ElementsAre("cancel:off", "status:" + kWait + "Initializing...", "repaint",
                                      "frame", "status:" + kWait, "repaint", "cancel:on",
                                      "cancel:off", "stop-animation", "close"));
}

// The last files are written behind the engine: the run counts them before it is
// complete, and a write error among them stops it as one during the walk does, with
// nothing completed.
TEST_F(SearchRunTest, TheFilesWrittenLastAreCountedBeforeTheRunCompletes) {
    run.Stats().FillStatsList({false, true, false, false, false, true});
    files(2, 2);
    engine.kindsAtFinish = {ResourceKind::Icon, ResourceKind::Html};
    run.StartSearch(folder(false));
    EXPECT_EQ(run.Stats().countOf(1), 1);
    EXPECT_EQ(run.Stats().countOf(5), 1);
    EXPECT_EQ(run.End(), RunEnd::Completed);
    EXPECT_EQ(view.log.back(), "finished");
}

TEST_F(SearchRunTest, AWriteErrorAmongTheFilesWrittenLastStopsTheRun) {
    files(2, 2);
    engine.failAtFinish = true;
    run.StartSearch(folder(false));
    EXPECT_EQ(run.End(), RunEnd::Failed);
    ASSERT_TRUE(run.StoppedBy().has_value());
    EXPECT_EQ(run.StoppedBy()->code, EIO);
    EXPECT_THAT(prompt.errors, ElementsAre("An error has occurred during the search.\r\n"
                                           "Harvix will now close."));
    EXPECT_THAT(view.log, ::testing::Not(::testing::Contains("finished")));
}

TEST_F(SearchRunTest, ResourcesCountPerChosenKind) {
    run.Stats().FillStatsList({false, true, false, false, false, true});
    files(2, 2);
    engine.kindsPerFile = {ResourceKind::Icon, ResourceKind::Icon, ResourceKind::Html, ResourceKind::Bitmap}; // BITMAP has no row: not counted
    run.StartSearch(folder(false));
    EXPECT_EQ(run.Stats().countOf(1), 4);
    EXPECT_EQ(run.Stats().countOf(5), 2);
    EXPECT_EQ(run.Stats().rows()[0].countText(), "4");
    EXPECT_THAT(view.statsRows, ElementsAre(0, 0, 1, 0, 0, 1));
    EXPECT_THAT(view.statsCounts, ElementsAre("1", "2", "1", "3", "4", "2"));
}

} // namespace
} // namespace harvix
