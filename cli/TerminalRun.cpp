#include "cli/TerminalRun.h"

#include "cli/Terminal.h"
#include "common/MessageSource.h"
#include "run/RunTexts.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string_view>

namespace harvix {

namespace {

// The tool's words for what the window shows in its boxes: each names what it is about.
std::string ExistingDestination(const std::string& folder) {
    return "the destination '" + folder + "' exists already";
}

std::string DiskFull(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "the disk is full: '" + name + "' could not be written in '" + folder + "'";
}

} // namespace

CliPrompt::CliPrompt(bool yes) : m_yes(yes), m_interactive(IsTerminal(STDIN_FILENO)) {}

Answer CliPrompt::confirmCancel() {
    // SIGTERM, SIGHUP, or SIGINT where no one can be asked: the cancel is confirmed.
    if (const int signal = EndingSignal(); signal != 0) {
        NoteRunEnding(signal);
        return Answer::Yes;
    }
    if (!m_interactive) {
        m_refused = kCancelQuestion;
        return Answer::No;
    }
    if (!ask(kCancelQuestion, "[y/N]", 'y', true))
        return Answer::No;
    NoteRunEnding(m_answeringSignal);
    return Answer::Yes;
}

Answer CliPrompt::continueIntoExisting(const std::string& folder) {
    if (m_yes)
        return Answer::Yes;
    if (!m_interactive) {
        m_refused = ExistingDestination(folder);
        return Answer::No;
    }
    return ask(ExistingDestination(folder) + "; add to what is in it?", "[y/N]", 'y', false)
               ? Answer::Yes
               : Answer::No;
}

Answer CliPrompt::retryDiskFull(const std::string& path) {
    if (!m_interactive) {
        showError({Failure::WriteFailed, DiskFull(path), path});
        return Answer::Cancel;
    }
    return ask(DiskFull(path) + "; free some space, then retry?", "[r]etry / [C]ancel", 'r', false)
               ? Answer::Retry
               : Answer::Cancel;
}

void CliPrompt::showError(const ShownError& error) {
    if (m_beforeMessage)
        m_beforeMessage();
    switch (error.failure) {
    case Failure::InvalidDestination:
        // The path and the system's reason say more than the wizard's box can.
        Complain(error.detail.empty() ? std::string("the destination is invalid")
                                      : "the destination is invalid: " + error.detail);
        return;
    case Failure::RunStopped:
        // The error itself was told as it happened; the window's "will now close" is not
        // the tool's: it ends its run and says so in its exit status.
        Complain("the run stopped at that error; what was written before it stays");
        return;
    default:
        Complain(error.text);
        return;
    }
}

bool CliPrompt::ask(const std::string& text, const char* choices, char yesKey, bool onInterrupt) {
    if (m_beforeMessage)
        m_beforeMessage();
    // What brought this question (a Ctrl-C that asks to cancel) is not its answer.
    ForgetInterrupts();
    std::cerr << MessagePrefix() << OneLine(text) << ' ' << choices << ' ' << std::flush;
    bool interrupted = false;
    m_answeringSignal = 0;
    const std::optional<std::string> line = ReadAnswerLine(interrupted);
    if (interrupted) {
        m_answeringSignal = EndingSignal() != 0 ? EndingSignal() : SIGINT;
        ForgetInterrupts();
        std::cerr << '\n' << std::flush; // the terminal echoed ^C on the question's line
        return onInterrupt;
    }
    if (!line)
        return false;
    const auto first = line->find_first_not_of(" \t");
    return first != std::string::npos && ((*line)[first] | 0x20) == yesKey;
}

void CliView::setStatusText(const std::string& text) {
    std::string_view rest = text;
    if (rest.rfind(kPleaseWait, 0) == 0)
        rest.remove_prefix(std::string_view(kPleaseWait).size());
    m_status = OneLine(rest);
    draw(false);
}

void CliView::pumpEvents() {
    draw(TakeResize() && m_drawn);
    // Ctrl-C brings the cancel question; a signal that ends the run confirms it.
    if (m_run != nullptr && (TakeInterrupt() || EndingSignal() != 0))
        m_run->cmdCancel_Click();
}

void CliView::clearLine() {
    if (m_live && m_drawn) {
        std::cerr << "\r\033[K" << std::flush;
        m_drawn = false;
    }
}

// The line never reaches the terminal's last column, so it never wraps and "\r" always
// returns to its start; the width is asked for at every draw, so a resized terminal gets
// a line of its new width.
void CliView::draw(bool force) {
    if (!m_live)
        return;
    ProgressFacts facts;
    facts.status = m_status;
    if (m_run != nullptr) {
        facts.files = m_run->FilesHandled();
        facts.total = m_run->TotalFiles();
        for (const StatsRow& row : m_run->Stats().rows())
            facts.resources += row.count;
    }
    if (!m_pacer.due(facts, ProgressPacer::Clock::now()) && !force)
        return;
    std::string line = ProgressLineText(facts);
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        line = CutToColumns(line, size.ws_col - 1u);
    std::cerr << "\r\033[K" << line << std::flush;
    m_drawn = true;
}

} // namespace harvix
