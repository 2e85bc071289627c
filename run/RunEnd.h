// How a run ended, the one answer that the wizard, harvix-cli's exit status, its run
// report and its summaries all read.
#pragma once

#include <string_view>

namespace harvix {

enum class RunEnd {
    Completed, // the search went through to its end
    Cancelled, // the user confirmed the cancel question
    Failed,    // an error stopped the run (a write error, or a file list that broke off)
    Refused,   // the run did not take place: its choices or its destination were refused
};

// "completed", "cancelled", "failed", "refused": the report's word for the end.
[[nodiscard]] constexpr std::string_view RunEndText(RunEnd end) {
    switch (end) {
    case RunEnd::Completed:
        return "completed";
    case RunEnd::Cancelled:
        return "cancelled";
    case RunEnd::Failed:
        return "failed";
    case RunEnd::Refused:
        break;
    }
    return "refused";
}

} // namespace harvix
