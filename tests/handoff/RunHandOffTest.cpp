// The hand-off between the window's thread (here the test's own thread, draining a task
// queue as the window's event loop would) and the run's worker thread.
#include "run/RunHandOff.h"

#include "run/Priority.h"
#include "run/RunTexts.h"
#include "tests/support/ScriptedPrompt.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace harvix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::Question;
using ::testing::ElementsAre;

// The window's event loop: tasks posted from any thread, run here in order.
class WindowLoop {
public:
    RunHandOff::Post poster() {
        return [this](std::function<void()> task) {
            const std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
            m_wake.notify_all();
        };
    }
    // Runs tasks until `done` holds or the time is up; true when it held.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        const auto end = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() >= end)
                return false;
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait_for(lock, 2ms, [this] { return !m_tasks.empty(); }))
                continue;
            auto task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
        }
        return true;
    }
    void runFor(std::chrono::milliseconds time) {
        (void)runUntil([] { return false; }, time);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
};

// Records every effect, and that it arrived on the window's thread.
struct RecordingWindow : IRunView {
    std::vector<std::string> log;
    std::thread::id thread = std::this_thread::get_id();
    bool elsewhere = false;

    void note(std::string what) {
        elsewhere = elsewhere || std::this_thread::get_id() != thread;
        log.push_back(std::move(what));
    }
    void setStatusText(const std::string& text) override { note("status " + text); }
    void repaintStatus() override { note("repaint"); }
    void setCancelEnabled(bool on) override { note(on ? "cancel on" : "cancel off"); }
    void showProgressFrame() override { note("frame"); }
    void setProgressValue(int value) override { note("bar " + std::to_string(value)); }
    void setCaption(const std::string& text) override { note("caption " + text); }
    void stopAnimation() override { note("stop"); }
    void statsChanged(int row, const std::string& count) override {
        note("row " + std::to_string(row) + " " + count);
    }
    // The hand-off never hands these to the window, which runs its own event loop.
    void pumpEvents() override { note("pump"); }
    void poll() override { note("poll"); }
    void searchFinished() override { note("finished"); }
    void closeProgram() override { note("close"); }
};

// Answers with a function of its own, on the window's thread, by the question; records
// each question by name with what it is about.
struct WindowPrompt : IPrompt {
    std::function<Answer(Question)> answer = [](Question) { return Answer::No; };
    std::vector<std::string> asked;
    std::thread::id thread = std::this_thread::get_id();
    bool elsewhere = false;

    Answer take(Question question, const std::string& what) {
        note(what);
        return answer(question);
    }
    void note(const std::string& what) {
        elsewhere = elsewhere || std::this_thread::get_id() != thread;
        asked.push_back(what);
    }
    Answer confirmCancel() override { return take(Question::ConfirmCancel, "confirmCancel"); }
    Answer continueIntoExisting(const std::string& folder) override {
        return take(Question::ContinueIntoExisting, "continueIntoExisting " + folder);
    }
    Answer retryDiskFull(const std::string& path) override {
        return take(Question::RetryDiskFull, "retryDiskFull " + path);
    }
    void showError(const ShownError& error) override { note("showError " + error.text); }
};

class HandOff : public ::testing::Test {
protected:
    WindowLoop loop;
    RecordingWindow window;
    WindowPrompt prompt;
    RunHandOff handOff{window, prompt, loop.poster()};

    bool finish() {
        return loop.runUntil([this] { return handOff.Finished(); });
    }
};

TEST_F(HandOff, EffectsArriveOnTheWindowsThreadInTheRunsOrder) {
    handOff.Start([this] {
        IRunView& v = handOff.View();
        v.setCancelEnabled(false);
        v.setStatusText("counting");
        v.repaintStatus();
        v.showProgressFrame();
        v.setCancelEnabled(true);
        // The worker's own: a click on Cancel is taken up here, nothing reaches the window.
        v.pumpEvents();
        v.poll();
        for (int value = 1; value <= 3; ++value) {
            v.setProgressValue(value);
            v.setCaption(std::to_string(value * 2) + "%");
        }
        v.stopAnimation();
        v.searchFinished();
        v.closeProgram();
    });
    ASSERT_TRUE(finish());
    loop.runFor(50ms);
    EXPECT_THAT(window.log, ElementsAre("cancel off", "status counting", "repaint", "frame",
                                        "cancel on", "bar 1", "caption 2%", "bar 2", "caption 4%",
                                        "bar 3", "caption 6%", "stop", "finished", "close"));
    EXPECT_FALSE(window.elsewhere);
}

TEST_F(HandOff, CountsArriveAsTheirLatestValuesBeforeWhatFollows) {
    std::array<int, 2> counts{};
    handOff.Start([&] {
        for (int i = 0; i < 5000; ++i) {
            const int row = i % 3 == 0 ? 1 : 0;
            ++counts[std::size_t(row)];
            handOff.View().statsChanged(row, std::to_string(counts[std::size_t(row)]));
        }
        handOff.View().searchFinished();
    });
    ASSERT_TRUE(finish());
    loop.runFor(50ms);
    ASSERT_GE(window.log.size(), 3u);
    EXPECT_EQ(window.log.back(), "finished");
    // The last word on each row is its final count.
    std::string last0, last1;
    for (const std::string& line : window.log) {
        if (line.rfind("row 0 ", 0) == 0)
            last0 = line;
        if (line.rfind("row 1 ", 0) == 0)
            last1 = line;
    }
    EXPECT_EQ(last0, "row 0 3333");
    EXPECT_EQ(last1, "row 1 1667");
    EXPECT_FALSE(window.elsewhere);
}

TEST_F(HandOff, QuestionsAreAskedOnTheWindowsThreadAndTheWorkerWaitsForTheAnswer) {
    std::atomic<bool> answeredAll{false};
    std::vector<Answer> got;
    handOff.Start([&] {
        got.push_back(handOff.Prompt().confirmCancel());
        got.push_back(handOff.Prompt().retryDiskFull("/d/a.bmp"));
        got.push_back(handOff.Prompt().continueIntoExisting("/d"));
        handOff.Prompt().showError({Failure::RunStopped, "failed", {}});
        answeredAll = true;
    });
    // The window holds the first question open (a modal box) for a while: the worker
    // stands still meanwhile.
    prompt.answer = [&](Question question) {
        switch (question) {
        case Question::ConfirmCancel:
            std::this_thread::sleep_for(200ms);
            EXPECT_FALSE(answeredAll);
            return Answer::Yes;
        case Question::RetryDiskFull:
            return Answer::Retry;
        default:
            return Answer::No;
        }
    };
    ASSERT_TRUE(finish());
    EXPECT_TRUE(answeredAll);
    EXPECT_THAT(got, ElementsAre(Answer::Yes, Answer::Retry, Answer::No));
    EXPECT_THAT(prompt.asked, ElementsAre("confirmCancel", "retryDiskFull /d/a.bmp",
                                          "continueIntoExisting /d", "showError failed"));
    EXPECT_FALSE(prompt.elsewhere);
}

TEST_F(HandOff, ACancelClickRunsItsHandlerOnTheWorkerAtTheNextPollOnce) {
    std::atomic<int> handled{0};
    std::thread::id handledOn;
    std::atomic<bool> clicked{false}, polled{false};
    handOff.setCancelHandler([&] {
        ++handled;
        handledOn = std::this_thread::get_id();
    });
    std::thread::id worker;
    handOff.Start([&] {
        worker = std::this_thread::get_id();
        handOff.View().poll(); // nothing clicked yet
        while (!clicked)
            std::this_thread::sleep_for(1ms);
        handOff.View().poll();
        handOff.View().pumpEvents(); // the click counts once
        polled = true;
    });
    loop.runFor(20ms);
    EXPECT_EQ(handled, 0);
    handOff.RequestCancel();
    handOff.RequestCancel();
    clicked = true;
    ASSERT_TRUE(finish());
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(handledOn, worker);
}

TEST_F(HandOff, CloseStopsAWaitingQuestionDropsEffectsAndEndsTheWorker) {
    std::vector<Answer> got;
    std::atomic<bool> asking{false};
    std::atomic<int> cancels{0};
    handOff.setCancelHandler([&] { ++cancels; });
    handOff.Start([&] {
        handOff.View().setStatusText("before");
        asking = true;
        got.push_back(handOff.Prompt().retryDiskFull("/d/a.bmp"));
        got.push_back(handOff.Prompt().confirmCancel());
        got.push_back(handOff.Prompt().continueIntoExisting("/d"));
        handOff.View().setStatusText("after");
        handOff.View().poll();
    });
    while (!asking)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    // The window goes away without ever running its loop again.
    handOff.Close();
    EXPECT_TRUE(handOff.Finished());
    // Each gets the answer that stops: no retry, the cancel confirmed, no going on.
    EXPECT_THAT(got, ElementsAre(Answer::Cancel, Answer::Yes, Answer::No));
    EXPECT_EQ(cancels, 1); // the run is told to stop
    loop.runFor(50ms);
    EXPECT_TRUE(window.log.empty());
    EXPECT_TRUE(prompt.asked.empty());
}

// A walk through a long stretch without matching files, with a file now and then, and
// an engine that writes one resource per file.
class SlowSearch final : public IRunSearch {
public:
    std::atomic<int> steps{0};
    int files = 0;

    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override {
        return {1000, 10};
    }
    void SearchForFiles(const std::string&, bool, const std::string&,
                        cSearchCoreEvents& events) override {
        bool cancel = false;
        for (std::int32_t dir = 1; dir <= 1000 && !cancel; ++dir) {
            std::this_thread::sleep_for(1ms);
            ++steps;
            if (dir % 100 == 0) {
                std::string name = "/m/" + std::to_string(dir) + ".dll";
                std::int32_t count = ++files;
                events.FileFound(name, count, dir, cancel);
            } else {
                events.Searching(cancel);
            }
        }
        events.SearchFinished();
    }
    void SearchSystemForFiles(const std::string& mask, cSearchCoreEvents& events) override {
        SearchForFiles("/", true, mask, events);
    }
};

class OneResourceEngine final : public IExtractEngine {
public:
    ModuleOutcome ExtractFromFile(const std::string&, IResFoundTarget& target) override {
        target.ResFound(ResourceKind::Icon, ResName::number(1));
        return {};
    }
    ModuleOutcome Finish() override { return {}; }
};

class ZeroClock final : public IRunClock {
public:
    std::uint32_t GetTickCount() override { return 0; }
    void Sleep(std::uint32_t) override {}
};

TEST_F(HandOff, ARunAsksWithinHalfASecondMidStretchWaitsWhileAskedAndGoesOnAfterNo) {
    SlowSearch search;
    OneResourceEngine engine;
    ZeroClock clock;
    SearchRun searchRun(handOff.View(), handOff.Prompt(), search, engine, clock);
    searchRun.setPriorityApplier(nullptr);
    searchRun.Stats().FillStatsList({false, true, false, false, false, false});
    handOff.setCancelHandler([&] { searchRun.cmdCancel_Click(); });
    const SearchSettings settings{false, "/m", true, "*.dll", 3};
    handOff.Start([&] { searchRun.StartSearch(settings); });

    // Cancel between two files (they come 100 ms apart): the question comes at once;
    // while it is open the walk stands still; after No it goes on to its end.
    ASSERT_TRUE(loop.runUntil([&] { return search.steps > 150; }));
    std::vector<double> waits;
    int stepsWhileAsked = -1;
    prompt.answer = [&](Question) {
        const int before = search.steps;
        std::this_thread::sleep_for(300ms);
        stepsWhileAsked = search.steps - before;
        return Answer::No;
    };
    const auto clickedAt = Clock::now();
    prompt.answer = [&, hold = prompt.answer](Question question) {
        waits.push_back(std::chrono::duration<double>(Clock::now() - clickedAt).count());
        return hold(question);
    };
    handOff.RequestCancel();
    ASSERT_TRUE(finish());
    loop.runFor(20ms);

    ASSERT_EQ(waits.size(), 1u);
    EXPECT_LT(waits[0], 0.5);
    EXPECT_LE(stepsWhileAsked, 1);
    EXPECT_THAT(prompt.asked, ElementsAre("confirmCancel"));
    EXPECT_EQ(searchRun.End(), RunEnd::Completed);
    EXPECT_EQ(search.files, 10);
    EXPECT_EQ(window.log.back(), "finished");
    EXPECT_NE(std::find(window.log.begin(), window.log.end(), "row 0 10"), window.log.end());
    EXPECT_FALSE(window.elsewhere);
}

TEST_F(HandOff, YesEndsTheRunAndClosesTheProgramBetweenFiles) {
    SlowSearch search;
    OneResourceEngine engine;
    ZeroClock clock;
    SearchRun searchRun(handOff.View(), handOff.Prompt(), search, engine, clock);
    searchRun.setPriorityApplier(nullptr);
    handOff.setCancelHandler([&] { searchRun.cmdCancel_Click(); });
    handOff.Start([&] { searchRun.StartSearch({false, "/m", false, "*.dll", 3}); });
    ASSERT_TRUE(loop.runUntil([&] { return search.steps > 50; }));
    prompt.answer = [](Question) { return Answer::Yes; };
    handOff.RequestCancel();
    ASSERT_TRUE(finish());
    loop.runFor(20ms);
    EXPECT_EQ(searchRun.End(), RunEnd::Cancelled);
    EXPECT_LT(search.steps, 1000); // the walk stopped, well before its end
    EXPECT_THAT(std::vector<std::string>(window.log.end() - 2, window.log.end()),
                ElementsAre("cancel off", "close"));
}

TEST_F(HandOff, ThePriorityAppliedOnTheWorkerReachesEveryThread) {
    std::atomic<int> workerNice{0};
    handOff.Start([&] {
        ApplyPriority(1); // the idle class: nice 19, always allowed
        workerNice = ::getpriority(PRIO_PROCESS, 0);
    });
    ASSERT_TRUE(finish());
    EXPECT_EQ(workerNice, 19);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))), 19);
    // A thread started afterwards (a reader below the run, say) inherits the value.
    int later = 0;
    std::thread([&] { later = ::getpriority(PRIO_PROCESS, 0); }).join();
    EXPECT_EQ(later, 19);
}

} // namespace
} // namespace harvix
