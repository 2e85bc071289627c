// The progress line harvix-cli extract keeps on a terminal while it runs:
//     45 % - 13,502 of 30,000 files - 3,104 resources written - Remaining time: 2 min
// the percentage and the files handled out of those the search will hand on (counted
// before it starts), the resources written so far, and the run's status (the remaining
// time, "Initializing..."). The files move with every file handled, so a run whose
// percentage stands still for a while (large modules) is still seen to go on. A run
// that could not count its files (a file list read from standard input) shows the files
// handled without a percentage.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace harvix {

struct ProgressFacts {
    std::int64_t files = 0;       // files the engine has finished with
    std::int64_t total = 0;       // files the search will hand on; 0: not counted (yet)
    std::int64_t resources = 0;   // resources written so far
    std::string status;           // the status text after "Please wait...", one line
};

// The whole percentage of the files handled, never above 100; below 0 when there is no
// total.
[[nodiscard]] int PercentOf(const ProgressFacts& facts);

// The line, each part only when it applies: no counts before the total is known or the
// first file handled, no status when it is empty. Numbers of more than three digits
// are grouped by commas ("13,502").
[[nodiscard]] std::string ProgressLineText(const ProgressFacts& facts);

// The text cut to at most `columns` characters (a UTF-8 sequence counts as one).
[[nodiscard]] std::string CutToColumns(const std::string& text, std::size_t columns);

// Decides when the line is drawn again: at once when its percentage or status changed,
// the total became known or the first counts came, otherwise (only the counts moved)
// at most once per interval, so that a run of many small files does not spend its time
// writing to the terminal.
class ProgressPacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{100};

    // True when `facts` is to be drawn now; it then counts as drawn.
    bool due(const ProgressFacts& facts, Clock::time_point now);

private:
    bool m_drawn = false;
    ProgressFacts m_last;
    Clock::time_point m_lastAt{};
};

} // namespace harvix
