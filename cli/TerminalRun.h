// The run of harvix-cli extract as a terminal shows it and answers it: the prompt that
// asks on the terminal or answers as a script wants, the progress line, and a clock
// that does not pause.
#pragma once

#include "cli/ProgressLine.h"
#include "extract/Prompt.h"
#include "run/SearchRun.h"

#include <functional>
#include <optional>
#include <string>

namespace harvix {

// Asks on the terminal; without one, answers as a script wants: --yes for the
// destination that exists, No to every other question, Cancel on a full disk.
class CliPrompt final : public IPrompt {
public:
    explicit CliPrompt(bool yes);

    // Ctrl-C stops: it confirms the cancel question and refuses every other. A signal
    // that ends the run (TerminalSignals) confirms the cancel without asking.
    Answer confirmCancel() override;
    Answer continueIntoExisting(const std::string& folder) override;
    Answer retryDiskFull(const std::string& path) override;
    void showError(const ShownError& error) override;

    // The question that was answered No for want of a terminal, if any.
    [[nodiscard]] const std::optional<std::string>& refused() const { return m_refused; }

    // Something else (the progress line) may be on the terminal's current line.
    void setBeforeMessage(std::function<void()> hook) { m_beforeMessage = std::move(hook); }

private:
    // True for the answer `yesKey`; Ctrl-C gives `onInterrupt`.
    bool ask(const std::string& text, const char* choices, char yesKey, bool onInterrupt);

    bool m_yes;
    bool m_interactive;
    std::optional<std::string> m_refused;
    std::function<void()> m_beforeMessage;
    int m_answeringSignal = 0; // the signal that answered the last question; 0 typed
};

// The run's effects on a terminal: one progress line on stderr, rewritten in place. A
// Ctrl-C reaches the run as a click on Cancel where the run lets events through.
class CliView final : public IRunView {
public:
    explicit CliView(bool live) : m_live(live) {}

    // The run whose files handled, total and resources the line shows.
    void setRun(SearchRun* searchRun) { m_run = searchRun; }

    void setStatusText(const std::string& text) override;
    void repaintStatus() override {}
    void setCancelEnabled(bool) override {}
    // The count before the search is over: the line shows the total at once.
    void showProgressFrame() override { draw(false); }
    // The line takes its percentage from the files themselves, to the unit.
    void setProgressValue(int) override { draw(false); }
    void setCaption(const std::string&) override {}
    void pumpEvents() override;
    // Between two files and at every resource written: a Ctrl-C is answered within
    // moments, also in a long stretch without matching files or inside a large module.
    void poll() override { pumpEvents(); }
    void stopAnimation() override {}
    void statsChanged(int, const std::string&) override { draw(false); }
    // The last resources are counted once the writer is done with them, after the last
    // file: the line shows the final counts before it goes.
    void searchFinished() override {
        draw(true);
        clearLine();
    }
    void closeProgram() override { clearLine(); }

    void clearLine();

private:
    // Draws the line when the pacer says it is due, or at once when `force`.
    void draw(bool force);

    bool m_live;
    bool m_drawn = false;
    std::string m_status;
    SearchRun* m_run = nullptr;
    ProgressPacer m_pacer;
};

// The engine's pause before the program closes lets the window show its stopped
// animation; a terminal has nothing to show, so the command does not wait.
class CliClock final : public IRunClock {
public:
    std::uint32_t GetTickCount() override { return m_clock.GetTickCount(); }
    void Sleep(std::uint32_t) override {}

private:
    SystemClock m_clock;
};

} // namespace harvix
