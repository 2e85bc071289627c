#include "run/SearchRun.h"

#include "run/Priority.h"
#include "run/Progress.h"
#include "run/RunTexts.h"
#include "run/TimeText.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <thread>

namespace harvix {

namespace {

// The estimate is shown only once this much time has passed, and only while it is
// above this much: a short run never shows a remaining time.
constexpr std::uint32_t kRemainingTimeThresholdMs = 10000;

// The message loop runs once every this many files, so that yielding does not
// dominate the run.
constexpr std::int32_t kPumpInterval = 10;

} // namespace

std::uint32_t SystemClock::GetTickCount() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    // Wraps like a 32-bit tick count; elapsed times are taken modulo 2^32.
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SystemClock::Sleep(std::uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SearchRun::SearchRun(IRunView& view, IPrompt& prompt, IRunSearch& search, IExtractEngine& engine,
                     IRunClock& clock)
    : m_view(view), m_prompt(prompt), m_search(search), m_engine(engine), m_clock(clock),
      m_applyPriority(ApplyPriority) {}

void SearchRun::setPriorityApplier(std::function<void(std::int16_t)> applier) {
    m_applyPriority = std::move(applier);
}

void SearchRun::StartSearch(const SearchSettings& settings) {
    m_started = true;
    if (m_applyPriority)
        m_applyPriority(settings.Priority);

    if (settings.SearchSystem) {
        countFiles(true, "/", true, settings.Mask);
        m_startTick = m_clock.GetTickCount();
        m_search.SearchSystemForFiles(settings.Mask, *this);
    } else {
        // A folder without its subfolders is counted too: its own listing is quickly
        // read, and a flat folder of thousands of modules (a system folder) is where the
        // user most wants to see how far the run has come.
        countFiles(false, settings.Folder, settings.SubFolders, settings.Mask);
        m_startTick = m_clock.GetTickCount();
        m_search.SearchForFiles(settings.Folder, settings.SubFolders, settings.Mask, *this);
    }
    // A run that ended early still writes and tells what the engine had prepared before
    // (written behind it); it ends as it ended.
    ModuleOutcome rest = m_engine.Finish();
    if (rest.failed() && !m_stoppedBy)
        m_stoppedBy = std::move(rest.error);
}

void SearchRun::countFiles(bool AllDrives, const std::string& BaseDir, bool Recurse,
                           const std::string& FileMask) {
    // The count walks without events and without the message loop, so Cancel could not
    // be answered meanwhile.
    const std::string pleaseWait = kPleaseWait;
    m_view.setCancelEnabled(false);
    m_view.setStatusText(pleaseWait + kInitializing);
    m_view.repaintStatus();
    m_total = m_search.CountTree(AllDrives, BaseDir, Recurse, FileMask);
    m_view.showProgressFrame();
    m_view.setStatusText(pleaseWait);
    m_view.repaintStatus();
    m_view.setCancelEnabled(true);
}

void SearchRun::FileFound(std::string& FileName, std::int32_t& FileCount,
                          std::int32_t& /*DirCount*/, bool& Cancel) {
    if (!running()) {
        // The program is closing: nothing more is extracted.
        Cancel = true;
        return;
    }
    // A click on Cancel made while the walk was busy is answered before the next file.
    m_view.poll();
    if (!running()) {
        Cancel = true;
        return;
    }
    if (m_cancelRequested)
        Cancel = true;

    ModuleOutcome extracted = m_engine.ExtractFromFile(FileName, *this);
    if (extracted.failed()) {
        Cancel = true;
        stopOnError(std::move(extracted));
        return;
    }
    // A cancel confirmed while the module's resources were written ended the run there.
    if (!running()) {
        Cancel = true;
        return;
    }
    // The progress follows the files handled: this one is.
    m_filesHandled = FileCount;
    updateProgress();

    if (FileCount % kPumpInterval == 0) {
        m_view.pumpEvents();
        // A confirmed cancel closed the program from inside the loop.
        if (!running())
            Cancel = true;
    }
}

void SearchRun::updateProgress() {
    if (m_total.files <= 0 || m_filesHandled <= 0)
        return;
    const std::int64_t value = BarValueFor(m_filesHandled, m_total.files);
    // A tree that grew since it was counted would take the bar past its end.
    if (value == m_progressValue || value > kProgressMax || value < 0)
        return;
    m_progressValue = static_cast<int>(value);
    m_view.setProgressValue(m_progressValue);
    m_view.setCaption(ProgressCaption(value));

    const std::uint32_t elapsed = m_clock.GetTickCount() - m_startTick;
    if (elapsed <= kRemainingTimeThresholdMs)
        return;
    const std::int64_t remaining = RemainingMilliseconds(m_filesHandled, m_total.files, elapsed);
    if (remaining <= kRemainingTimeThresholdMs)
        return;
    // Beyond the 32-bit range the text says the most it can (596 hours).
    const auto shown = static_cast<std::int32_t>(
        std::min<std::int64_t>(remaining, std::numeric_limits<std::int32_t>::max()));
    m_remainingText = std::string(kRemainingTime) + FormatTimeText(shown);
    m_view.setStatusText(RunStatusText(m_remainingText, m_member));
}

void SearchRun::FilesCounted(std::int32_t more) {
    // A run that could not count its files shows none.
    if (m_total.files <= 0)
        return;
    // At least one file stays: the bar's arithmetic divides by the total.
    m_total.files = static_cast<std::int32_t>(std::clamp<std::int64_t>(
        static_cast<std::int64_t>(m_total.files) + more, 1, std::numeric_limits<std::int32_t>::max()));
    updateProgress();
}

void SearchRun::ReadingMember(const std::string& name) {
    if (!running() || name == m_member)
        return;
    m_member = name;
    m_view.setStatusText(RunStatusText(m_remainingText, m_member));
}

void SearchRun::Searching(bool& Cancel) {
    if (running())
        m_view.poll();
    // A confirmed cancel (or an engine error) stops the walk between two files.
    if (!running())
        Cancel = true;
}

void SearchRun::SearchFinished() {
    if (!running())
        return;
    // The last files may still be written behind the engine: the run is complete once
    // they are, and a write error among them stops it as it would have before.
    ModuleOutcome rest = m_engine.Finish();
    if (rest.failed()) {
        stopOnError(std::move(rest));
        return;
    }
    if (!running())
        return;
    m_end = RunEnd::Completed;
    m_view.searchFinished();
}

void SearchRun::stopOnError(ModuleOutcome failed) {
    m_stoppedBy = std::move(failed.error);
    m_prompt.showError({Failure::RunStopped, kSearchError, {}});
    m_view.setCancelEnabled(false);
    m_view.stopAnimation();
    m_clock.Sleep(m_closeDelay);
    endRun(RunEnd::Failed);
}

void SearchRun::cmdCancel_Click(std::int16_t CurrentPage) {
    if (CurrentPage != kSearchPage) {
        m_view.closeProgram();
        return;
    }
    if (m_end)
        return;
    // What the engine prepared is written before the question, so that the disk stays as
    // it is while the question is open and, after Yes, nothing more is written.
    m_engine.Settle();
    if (m_prompt.confirmCancel() != Answer::Yes)
        return;
    m_view.setCancelEnabled(false);
    m_cancelRequested = true;
    endRun(RunEnd::Cancelled);
}

void SearchRun::ResFound(ResourceKind kind, const ResName&) {
    const int row = m_stats.ResFound(KindIndex(kind));
    if (row >= 0)
        m_view.statsChanged(row, m_stats.rows()[static_cast<std::size_t>(row)].countText());
    // A module with thousands of resources takes a while: Cancel is answered meanwhile.
    if (running())
        m_view.poll();
}

void SearchRun::endRun(RunEnd end) {
    m_end = end;
    m_view.closeProgram();
}

} // namespace harvix
