// The search run: turns the settings into one extraction run. It applies the priority,
// counts the files the search will hand on (the 100 % of the progress bar), drives the
// file search, hands every file to the extraction engine, moves the progress bar and
// the caption by the files handled, estimates the remaining time, keeps the per-kind
// counts, and handles cancel and engine errors. It owns no widget: the wizard window and the command-line
// tool show its effects through IRunView and answer its questions through IPrompt.
#pragma once

#include "extract/Prompt.h"
#include "extract/ResCore.h"
#include "run/Progress.h"
#include "run/ResultStats.h"
#include "run/RunEnd.h"
#include "search/SearchCore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace harvix {

// What the run shows and how it ends; the window's controls, or a terminal.
class IRunView {
public:
    virtual ~IRunView() = default;

    // The status label (lblStatus): set its text; repaint it at once.
    virtual void setStatusText(const std::string& text) = 0;
    virtual void repaintStatus() = 0;
    // The Cancel button.
    virtual void setCancelEnabled(bool enabled) = 0;
    // Shows the frame of the progress bar, and with it the bar (value 0 to 50).
    virtual void showProgressFrame() = 0;
    virtual void setProgressValue(int value) = 0;
    // The window caption.
    virtual void setCaption(const std::string& text) = 0;
    // Lets pending user-interface events run once (repaint, the Cancel button); a click
    // on Cancel arrives at SearchRun::cmdCancel_Click from inside this call.
    virtual void pumpEvents() = 0;
    // The run is busy between two pumpEvents calls: walking folders without matching
    // files, or inside one file's extraction (at every resource written). A host whose
    // window lives on another thread delivers a pending click on Cancel here, as from
    // pumpEvents; nothing happens by default.
    virtual void poll() {}
    // Stops the search animation.
    virtual void stopAnimation() = 0;
    // Row `row` of the statistics list got a new count, `count` its text.
    virtual void statsChanged(int row, const std::string& count) = 0;
    // The search is over: the wizard moves on to its last page.
    virtual void searchFinished() = 0;
    // Unloads the window: saves the settings and ends the program. After this call the
    // run reports no further file to the engine and returns from StartSearch.
    virtual void closeProgram() = 0;
};

// The file search as the run drives it (cSearchCore in the program).
class IRunSearch {
public:
    virtual ~IRunSearch() = default;
    // The count before the search: what the search with the same arguments will meet
    // (cSearchCore::CountTree); AllDrives counts every fixed drive.
    virtual SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                                  const std::string& FileMask) = 0;
    virtual void SearchForFiles(const std::string& FileRoot, bool Recurse,
                                const std::string& FileMask, cSearchCoreEvents& events) = 0;
    virtual void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) = 0;
};

// The system tick count in milliseconds and a pause; injected so that tests are exact.
class IRunClock {
public:
    virtual ~IRunClock() = default;
    virtual std::uint32_t GetTickCount() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// A monotonic clock and a real pause.
class SystemClock final : public IRunClock {
public:
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t milliseconds) override;
};

// The settings the run reads.
struct SearchSettings {
    bool SearchSystem = true;   // all fixed drives, else Folder
    std::string Folder;
    bool SubFolders = true;
    std::string Mask;
    std::int16_t Priority = 3;  // slider position 1 to 5
};


inline constexpr std::int16_t kSearchPage = 5;

class SearchRun final : public cSearchCoreEvents, public IResFoundTarget, public IContainerProgress {
public:
    SearchRun(IRunView& view, IPrompt& prompt, IRunSearch& search, IExtractEngine& engine,
              IRunClock& clock);

    // How the priority is applied; ApplyPriority unless replaced (tests).
    void setPriorityApplier(std::function<void(std::int16_t)> applier);
    // The wait between the error message and closing; 1500 ms.
    void setCloseDelay(std::uint32_t milliseconds) { m_closeDelay = milliseconds; }

    // The run; returns when the search returns.
    void StartSearch(const SearchSettings& settings);

    // The Cancel button. On the search page it asks whether to cancel and, on Yes,
    // ends the program; on any other page it ends the program without asking.
    void cmdCancel_Click(std::int16_t CurrentPage = kSearchPage);

    // Events of the file search.
    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                   bool& Cancel) override;
    void SearchFinished() override;
    void Searching(bool& Cancel) override;

    // A resource was written: one more for its kind.
    void ResFound(ResourceKind kind, const ResName& name) override;

    // The reading of containers: the count of files grows by the members of each (when a
    // count was made), and the status names the member being read.
    void FilesCounted(std::int32_t more) override;
    void ReadingMember(const std::string& name) override;
    // The run has ended (cancel confirmed, or closed): the engine stops within its module.
    [[nodiscard]] bool StopRequested() const override { return m_end.has_value(); }

    [[nodiscard]] ResultStats& Stats() { return m_stats; }
    [[nodiscard]] const ResultStats& Stats() const { return m_stats; }
    // How the run ended: Completed once SearchFinished arrived, Cancelled or Failed when
    // it was ended early; nothing while it has not ended.
    [[nodiscard]] std::optional<RunEnd> End() const { return m_end; }
    // The write error that stopped the run, when one did.
    [[nodiscard]] const std::optional<Error>& StoppedBy() const { return m_stoppedBy; }
    [[nodiscard]] bool CancelRequested() const { return m_cancelRequested; }
    // What the count before the search found; 0 until it was made.
    [[nodiscard]] std::int32_t TotalDirs() const { return m_total.dirs; }
    [[nodiscard]] std::int32_t TotalFiles() const { return m_total.files; }
    // The files the engine has finished with (the FileCount of the last one).
    [[nodiscard]] std::int32_t FilesHandled() const { return m_filesHandled; }
    [[nodiscard]] int ProgressValue() const { return m_progressValue; }

private:
    // The count before the search, with Cancel disabled and "Initializing..." shown; the
    // progress frame is shown after it.
    void countFiles(bool AllDrives, const std::string& BaseDir, bool Recurse,
                    const std::string& FileMask);
    void updateProgress();
    // A write error stopped the engine: the run says so and ends Failed.
    void stopOnError(ModuleOutcome failed);
    // The run is between StartSearch and its end.
    [[nodiscard]] bool running() const { return m_started && !m_end; }
    void endRun(RunEnd end);

    IRunView& m_view;
    IPrompt& m_prompt;
    IRunSearch& m_search;
    IExtractEngine& m_engine;
    IRunClock& m_clock;
    std::function<void(std::int16_t)> m_applyPriority;
    std::uint32_t m_closeDelay = 1500;

    ResultStats m_stats;
    bool m_cancelRequested = false;
    SearchCount m_total;
    std::int32_t m_filesHandled = 0;
    std::uint32_t m_startTick = 0;
    int m_progressValue = 0;
    std::string m_remainingText; // "Remaining time: 2 min", once shown
    std::string m_member;        // the member of a container being read
    bool m_started = false;
    std::optional<RunEnd> m_end;
    std::optional<Error> m_stoppedBy;
};

} // namespace harvix
