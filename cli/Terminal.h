// harvix-cli extract and its terminal: messages on stderr, Ctrl-C, the signals that end
// a run and the terminal's size while a run goes on, and a line typed as an answer. The signal handlers only
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

// While it lives, SIGINT, SIGTERM and SIGHUP end the command's run as a confirmed
// Cancel does, instead of ending the program: the run takes the signal up where it
// stands, finishes or takes away the resource being written, and the command prints its
// counts and writes its report. With `asks` (a terminal on stdin), SIGINT (Ctrl-C)
// brings the cancel question instead, and is counted for the run to take up. A second
// signal before the first was taken up, or once the run is ending, ends the program at
// once. With `resizes`, a change of the terminal's size is caught too. The handlers are
// put back when it goes.
class TerminalSignals {
public:
    TerminalSignals(bool asks, bool resizes);
    TerminalSignals(const TerminalSignals&) = delete;
    TerminalSignals& operator=(const TerminalSignals&) = delete;
    ~TerminalSignals();

private:
    bool m_resizes;
};

// A Ctrl-C pressed and not yet taken up; taking it clears it.
[[nodiscard]] bool TakeInterrupt();
// Forgets the Ctrl-C pressed so far (what brought a question is not its answer).
void ForgetInterrupts();
// The signal that ends the run (SIGTERM, SIGHUP, or SIGINT without a terminal to ask
// on, or one that answered the cancel question); 0 while there is none.
[[nodiscard]] int EndingSignal();
// The run is ending (its cancel was confirmed): a signal from now on ends the program at
// once. `signal`, when not 0, is the one that confirmed it.
void NoteRunEnding(int signal);
// "SIGTERM" for SIGTERM, and so on.
[[nodiscard]] std::string SignalName(int signal);
// The terminal changed its size since the last call.
[[nodiscard]] bool TakeResize();

// One line typed on the terminal, without its line end. Nothing when the input ended;
// `interrupted` tells that Ctrl-C was pressed while it was awaited.
[[nodiscard]] std::optional<std::string> ReadAnswerLine(bool& interrupted);

} // namespace harvix
