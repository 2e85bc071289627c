// harvix-cli extract and its terminal: messages on stderr, Ctrl-C and the terminal's
// size while a run goes on, and a line typed as an answer. The signal handlers only
// count and wake; the run and its questions look at the counts where they stand.
#pragma once

#include "common/Result.h"

#include <optional>
#include <string>
#include <string_view>

namespace harvix {

// A message of the product (two sentences joined by CR LF) on one line.
[[nodiscard]] std::string OneLine(std::string_view text);

// The command's name ("harvix-cli extract: ", MessagePrefix) and the message on one
// line, on stderr. Every message of the tool goes out this way.
void Complain(std::string_view message);

// "PATH is not a Windows module (REASON)", for a file the user named that the module
// readers refused (`error` is theirs; its text may begin with the path).
[[nodiscard]] std::string NotAModuleMessage(const std::string& path, const Error& error);

[[nodiscard]] bool IsTerminal(int fd);

// While it lives, Ctrl-C (with `interrupts`) and a change of the terminal's size (with
// `resizes`) are caught instead of ending the program; the first Ctrl-C is counted
// for the run to take up, a second one before that ends the program at once. The
// handlers are put back when it goes.
class TerminalSignals {
public:
    TerminalSignals(bool interrupts, bool resizes);
    TerminalSignals(const TerminalSignals&) = delete;
    TerminalSignals& operator=(const TerminalSignals&) = delete;
    ~TerminalSignals();

private:
    bool m_interrupts;
    bool m_resizes;
};

// A Ctrl-C pressed and not yet taken up; taking it clears it.
[[nodiscard]] bool TakeInterrupt();
// Forgets the Ctrl-C pressed so far (what brought a question is not its answer).
void ForgetInterrupts();
// The terminal changed its size since the last call.
[[nodiscard]] bool TakeResize();

// One line typed on the terminal, without its line end. Nothing when the input ended;
// `interrupted` tells that Ctrl-C was pressed while it was awaited.
[[nodiscard]] std::optional<std::string> ReadAnswerLine(bool& interrupted);

} // namespace harvix
