// The hand-off between the window and a search run that executes on a worker thread.
//
// The run, the extraction engine and the file search are used on the worker only; the
// window's controls and message boxes only on the window's thread. Everything that goes
// between the two goes through one RunHandOff:
//  - the run's effects (View()) are posted to the window's thread and applied there in
//    the order the run made them; the counts of the statistics list travel as their
//    latest values, with at most one update on its way at a time;
//  - a question of the run or the engine (Prompt()) is posted the same way, and the
//    worker waits where it stands until the window has the answer;
//  - a click on Cancel (RequestCancel) is taken up by the worker at its next poll, where
//    the cancel handler runs (the run then asks its question through Prompt());
//  - Close() (the window going away) drops every effect not yet applied, ends the run as
//    a confirmed cancel at its next poll (a waiting or later question gets the answer
//    that stops the run: Yes to cancelling, Cancel to a retry, No to going on into an
//    existing folder), and waits for the worker.
#pragma once

#include "extract/Prompt.h"
#include "run/SearchRun.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace harvix {

class RunHandOff {
public:
    // Runs a task on the window's thread, later, in the order of posting; called from
    // the worker.
    using Post = std::function<void(std::function<void()>)>;
    // OwnThread: Start runs the work on a worker thread. Inline: on the calling thread,
    // with a Post that runs each task at once (tests of the wizard logic, which have no
    // event loop).
    enum class Worker { OwnThread, Inline };

    // `window`: the window's own view of the run, whose effects are applied on the
    // window's thread; its pumpEvents and poll are never called (the window runs its own
    // event loop, and the hand-off takes up a click on Cancel on the worker).
    RunHandOff(IRunView& window, IPrompt& windowPrompt, Post post,
               Worker worker = Worker::OwnThread);
    RunHandOff(const RunHandOff&) = delete;
    RunHandOff& operator=(const RunHandOff&) = delete;
    ~RunHandOff(); // Close()

    // For the run and the engine, on the worker.
    [[nodiscard]] IRunView& View();
    [[nodiscard]] IPrompt& Prompt();

    // Set before Start. What a click on Cancel does, run on the worker at its next poll.
    void setCancelHandler(std::function<void()> handler);

    // Starts `work`; once.
    void Start(std::function<void()> work);

    // Window's thread: the user pressed Cancel. Clicks made before the worker took the
    // last one up count once.
    void RequestCancel();

    // Window's thread: the window goes away. Afterwards no effect reaches it and the
    // worker has ended.
    void Close();

    // The work has returned (always true after Close()).
    [[nodiscard]] bool Finished() const;

private:
    struct Shared;
    class WorkerView;
    class WorkerPrompt;

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<WorkerView> m_view;
    std::unique_ptr<WorkerPrompt> m_prompt;
    Worker m_worker;
    std::thread m_thread;
};

} // namespace harvix
