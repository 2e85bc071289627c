// The run report of harvix-cli extract --report: one JSON document, written when the run
// ends, whatever ends it, and the summary lines on stderr that say what was left out.
#pragma once

#include "cli/Json.h"
#include "extract/ResourceKind.h"
#include "common/Result.h"
#include "run/RunAccount.h"
#include "run/RunEnd.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harvix::cli {

// Everything the report tells besides the account.
struct ReportFacts {
    Json options = Json::object();          // the options of the run, as given and as used
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    std::chrono::milliseconds duration{0};  // measured on a monotonic clock
    run::RunEnd outcome = run::RunEnd::Completed; // how the run ended
    std::optional<std::string> error;       // the error that stopped or refused the run
    KindSwitches kinds{};                   // the chosen kinds
    std::array<std::int64_t, kResourceKindCount> written{};
    bool walked = true;                     // a search (not a file list) found the files
};

// harvix-cli's exit status for a run that ended so: 0 completed, 1 stopped by an error
// or cancelled, 2 refused.
[[nodiscard]] int ExitStatusOf(run::RunEnd end);

// The report document. `exitStatus`: the status the command ends with.
Json BuildRunReport(const ReportFacts& facts, const run::RunAccount& account, int exitStatus);

// Writes the text to `path` under a temporary name in the same folder, then renames it
// into place, so a reader never sees half a report and an old report stays whole until
// the new one replaces it.
Status WriteFileReplacing(const std::string& path, const std::string& text);

// The lines for stderr at the end of a run, each only when it applies: the resources
// per kind that the limits left out, that were not well formed, and that were empty or
// missing (one line per cause), the folders and the files that could not be read, and
// that no file matched the mask (a search that found no file at all).
std::vector<std::string> SummaryLines(const ReportFacts& facts, const run::RunAccount& account,
                                      const std::string& mask);

} // namespace harvix::cli
