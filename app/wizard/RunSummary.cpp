#include "app/wizard/RunSummary.h"

#include "app/wizard/WizardPages.h"
#include "extract/ResourceKind.h"

namespace harvix {

namespace {

// Joins the words of one "caption count" pair: a line of the narrow page breaks only
// between pairs, never inside "Animated cursor 0".
constexpr const char* kNoBreakSpace = "\u00A0";

std::string Unbroken(std::string text) {
    for (std::size_t at = text.find(' '); at != std::string::npos; at = text.find(' ', at))
        text.replace(at, 1, kNoBreakSpace);
    return text;
}

// "Caption count" for each row whose number is not 0 (or for every row, when
// `keepZero`), joined by ", "; "" when none is left.
template <typename CountOf>
std::string PerKind(const std::vector<StatsRow>& rows, bool keepZero, CountOf countOf) {
    std::string text;
    for (const StatsRow& row : rows) {
        const std::int64_t n = countOf(row);
        if (n == 0 && !keepZero)
            continue;
        if (!text.empty())
            text += ", ";
        text += Unbroken(row.caption + " " + std::to_string(n));
    }
    return text;
}

ResourceKind KindOfRow(const StatsRow& row) {
    return kAllResourceKinds[static_cast<std::size_t>(row.kind)];
}

} // namespace

std::string RunSummaryText(const std::vector<StatsRow>& rows, const RunAccount& account) {
    std::string text = "Files written: " +
                       PerKind(rows, true, [](const StatsRow& row) { return row.count; }) +
                       ".";
    const auto cause = [&](const char* what, std::int64_t LeftOutCounts::*counted) {
        const std::string counts = PerKind(rows, false, [&](const StatsRow& row) {
            return account.LeftOut(KindOfRow(row)).*counted;
        });
        if (!counts.empty())
            text += std::string("\n") + what + ": " + counts + ".";
        return !counts.empty();
    };
    // The run is over and its pages cannot be gone back to: the line says where the
    // limits are set, for the next run.
    if (cause("Left out by the limits", &LeftOutCounts::limits))
        text += std::string("\nThe limits are set on the \"") +
                LayoutOf(Page::ResourceTypes).header.title +
                "\" page: widen them there in another run to take these too.";
    cause("Not well formed", &LeftOutCounts::malformed);
    cause("Empty or missing", &LeftOutCounts::empty);
    // Copies folded (each picture written once): their resources are counted above and
    // recorded; their records name the file written earlier. Per-size icon files count too.
    const std::string folded = PerKind(rows, false, [&](const StatsRow& row) {
        return account.FoldedCopies(KindOfRow(row));
    });
    if (!folded.empty())
        text += "\nCopies not written again (a file written earlier holds the same bytes): " +
                folded + ".";
    if (const std::int64_t unreadable = account.UnreadableFiles().count; unreadable != 0)
        text += "\nFiles that could not be read: " + std::to_string(unreadable) + ".";
    // What the packer left readable was written; the summary says why the rest is not.
    if (const ProblemList packed = account.PackedModules(); packed.count != 0)
        text += "\n" + std::to_string(packed.count) + (packed.count == 1 ? " module " : " modules ") +
                packed.first.front().reason + ".";
    // An installer's own pictures were read; the summary names the one whose files were not.
    if (const ProblemList containers = account.ContainersNotRead(); containers.count != 0)
        text += "\nInstallers, containers or members whose contents could not be read: " +
                std::to_string(containers.count) + " (first: " + containers.first.front().path + ": " +
                containers.first.front().reason + ").";
    return text;
}

} // namespace harvix
