// The progress line harvix-cli extract keeps on a terminal while it runs: the
// percentage (when the run counted its folders), the files handled and the resources
// written so far, and the run's status (the remaining time, "Initializing..."). The
// counts move with every file, so a run whose percentage stands still (a flat folder
// of many modules, a search without subfolders that shows none) is still seen to go on.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace harvix::cli {

struct ProgressFacts {
    int percent = -1;             // 0 to 100; below 0: the run shows no percentage
    std::int64_t files = 0;       // files handed to the engine so far
    std::int64_t resources = 0;   // resources written so far
    std::string status;           // the status text after "Please wait...", one line
};

// "42% completed  1234 files handled, 5678 resources written  Remaining time: 2 min";
// each part only when it applies: no percentage before the run shows one, no counts
// before the first file, no status when it is empty.
std::string ProgressLineText(const ProgressFacts& facts);

// The text cut to at most `columns` characters (a UTF-8 sequence counts as one).
std::string CutToColumns(const std::string& text, std::size_t columns);

// Decides when the line is drawn again: at once when its percentage or status changed
// or the first counts came, otherwise (only the counts moved) at most once per
// interval, so that a run of many small files does not spend its time writing to the
// terminal.
class ProgressPacer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kInterval{100};

    // True when `facts` is to be drawn now; it then counts as drawn.
    bool due(const ProgressFacts& facts, Clock::time_point now);

private:
    bool m_drawn = false;
    int m_percent = -1;
    std::string m_status;
    std::int64_t m_files = 0;
    std::int64_t m_resources = 0;
    Clock::time_point m_last{};
};

} // namespace harvix::cli
