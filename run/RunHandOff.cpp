#include "run/RunHandOff.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

namespace harvix {

// What both threads share. The window's side and the posted tasks keep it alive, so a
// task that arrives after the hand-off has gone finds `closed` set and does nothing.
struct RunHandOff::Shared : std::enable_shared_from_this<RunHandOff::Shared> {
    Shared(IRunView& w, IPrompt& p, Post poster)
        : window(w), prompt(p), post(std::move(poster)) {}

    IRunView& window;
    IPrompt& prompt;
    const Post post;
    std::function<void()> cancelHandler;

    std::mutex mutex;
    std::condition_variable answered;
    bool closed = false;               // set on the window's thread, under the mutex
    std::optional<Answer> answer;      // the answer to the question on its way
    std::map<int, std::string> counts; // latest count text of each changed row
    bool countsPosted = false;         // an update of the counts is on its way
    std::atomic<bool> cancelClicked{false};
    std::atomic<bool> finished{false};

    // Posts `apply` unless the window has gone; it runs only while the window is there.
    void send(std::function<void()> apply) {
        {
            const std::lock_guard lock(mutex);
            if (closed)
                return;
        }
        post([self = shared_from_this(), apply = std::move(apply)] {
            if (!self->closed)
                apply();
        });
    }

    // Asks on the window's thread and waits for the answer; `closing` when the window
    // has gone or goes meanwhile (the answer that ends the run).
    Answer ask(std::function<Answer(IPrompt&)> question, Answer closing) {
        std::unique_lock lock(mutex);
        if (closed)
            return closing;
        answer.reset();
        lock.unlock();
        post([self = shared_from_this(), question = std::move(question)] {
            if (self->closed)
                return;
            const Answer given = question(self->prompt);
            const std::lock_guard done(self->mutex);
            self->answer = given;
            self->answered.notify_all();
        });
        lock.lock();
        answered.wait(lock, [this] { return answer.has_value() || closed; });
        return answer.value_or(closing);
    }

    // The worker's poll: a click on Cancel made since the last one runs its handler.
    void takeCancelClick() {
        if (cancelClicked.exchange(false) && cancelHandler)
            cancelHandler();
    }
};

// The run's view on the worker: each effect goes to the window's thread.
class RunHandOff::WorkerView final : public IRunView {
public:
    explicit WorkerView(std::shared_ptr<Shared> shared) : m_s(std::move(shared)) {}

    void setStatusText(const std::string& text) override {
        send([text](IRunView& w) { w.setStatusText(text); });
    }
    void repaintStatus() override {
        send([](IRunView& w) { w.repaintStatus(); });
    }
    void setCancelEnabled(bool enabled) override {
        send([enabled](IRunView& w) { w.setCancelEnabled(enabled); });
    }
    void showProgressFrame() override {
        send([](IRunView& w) { w.showProgressFrame(); });
    }
    void setProgressValue(int value) override {
        send([value](IRunView& w) { w.setProgressValue(value); });
    }
    void setCaption(const std::string& text) override {
        send([text](IRunView& w) { w.setCaption(text); });
    }
    // The window runs its own event loop; here the worker takes up a click on Cancel.
    void pumpEvents() override { m_s->takeCancelClick(); }
    void poll() override { m_s->takeCancelClick(); }
    void stopAnimation() override {
        send([](IRunView& w) { w.stopAnimation(); });
    }
    void statsChanged(int row, const std::string& count) override {
        bool post = false;
        {
            const std::lock_guard lock(m_s->mutex);
            m_s->counts[row] = count;
            post = !m_s->countsPosted;
            m_s->countsPosted = true;
        }
        // A run may write thousands of resources a second: the window gets the latest
        // counts whenever it is ready for them, not one task per resource.
        if (post) {
            Shared* s = m_s.get();
            send([s](IRunView& w) {
                std::map<int, std::string> latest;
                {
                    const std::lock_guard lock(s->mutex);
                    latest.swap(s->counts);
                    s->countsPosted = false;
                }
                for (const auto& [changed, text] : latest)
                    w.statsChanged(changed, text);
            });
        }
    }
    void searchFinished() override {
        send([](IRunView& w) { w.searchFinished(); });
    }
    void closeProgram() override {
        send([](IRunView& w) { w.closeProgram(); });
    }

private:
    void send(std::function<void(IRunView&)> effect) {
        Shared* s = m_s.get();
        s->send([s, effect = std::move(effect)] { effect(s->window); });
    }

    std::shared_ptr<Shared> m_s;
};

// The questions of the run and the engine, asked on the window's thread.
class RunHandOff::WorkerPrompt final : public IPrompt {
public:
    explicit WorkerPrompt(std::shared_ptr<Shared> shared) : m_s(std::move(shared)) {}

    Answer confirmCancel() override {
        // Once the window has gone, the run stops.
        return m_s->ask([](IPrompt& p) { return p.confirmCancel(); }, Answer::Yes);
    }
    Answer continueIntoExisting(const std::string& folder) override {
        return m_s->ask([folder](IPrompt& p) { return p.continueIntoExisting(folder); },
                        Answer::No);
    }
    Answer retryDiskFull(const std::string& path) override {
        return m_s->ask([path](IPrompt& p) { return p.retryDiskFull(path); }, Answer::Cancel);
    }
    void showError(const ShownError& error) override {
        (void)m_s->ask(
            [error](IPrompt& p) {
                p.showError(error);
                return Answer::Ok;
            },
            Answer::Ok);
    }

private:
    std::shared_ptr<Shared> m_s;
};

RunHandOff::RunHandOff(IRunView& window, IPrompt& windowPrompt, Post post, Worker worker)
    : m_worker(worker) {
    if (worker == Worker::Inline)
        post = [](std::function<void()> task) { task(); };
    m_shared = std::make_shared<Shared>(window, windowPrompt, std::move(post));
    m_view = std::make_unique<WorkerView>(m_shared);
    m_prompt = std::make_unique<WorkerPrompt>(m_shared);
}

RunHandOff::~RunHandOff() {
    Close();
}

IRunView& RunHandOff::View() {
    return *m_view;
}

IPrompt& RunHandOff::Prompt() {
    return *m_prompt;
}

void RunHandOff::setCancelHandler(std::function<void()> handler) {
    m_shared->cancelHandler = std::move(handler);
}

void RunHandOff::Start(std::function<void()> work) {
    if (m_thread.joinable() || m_shared->finished)
        return;
    auto run = [shared = m_shared, work = std::move(work)] {
        work();
        shared->finished = true;
    };
    if (m_worker == Worker::Inline)
        run();
    else
        m_thread = std::thread(std::move(run));
}

void RunHandOff::RequestCancel() {
    m_shared->cancelClicked = true;
}

void RunHandOff::Close() {
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->closed = true;
    }
    // The run is told as if Cancel had been pressed and confirmed, so the worker ends at
    // its next poll instead of walking on for nobody.
    m_shared->cancelClicked = true;
    m_shared->answered.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool RunHandOff::Finished() const {
    return m_shared->finished;
}

} // namespace harvix
