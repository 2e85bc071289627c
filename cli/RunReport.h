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
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

// Everything the report tells besides the account.
struct ReportFacts {
    Json options = Json::object();          // the options of the run, as given and as used
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    std::chrono::milliseconds duration{0};  // measured on a monotonic clock
    RunEnd outcome = RunEnd::Completed; // how the run ended
    std::optional<std::string> error;       // the error that stopped or refused the run
    std::optional<std::string> signal;      // the signal that ended it ("SIGTERM"), if one did
    KindSwitches kinds{};                   // the chosen kinds
    std::array<std::int64_t, kResourceKindCount> written{};
    bool walked = true;                     // a search (not a file list) found the files
};

// How the report and the listing name why a resource was left out: the key
// ("limits", "not_well_formed", "empty_or_missing") and the words ("left out by the
// limits", "not well formed", "empty or missing"), as the summary lines say them.
[[nodiscard]] std::string_view LeftOutReasonKey(LeftOutReason reason);
[[nodiscard]] std::string_view LeftOutReasonWords(LeftOutReason reason);

// The option of harvix-cli that sets the limits of `kind` ("--bitmap-limits",
// "--icon-limits", "--image-limits"); empty for a kind without limits.
[[nodiscard]] std::string_view LimitOptionOf(ResourceKind kind);

// What exactly, in a user's words ("bitmap height 3000 outside the limit 16-48"); the
// reason's words when the engine gave nothing more.
[[nodiscard]] std::string LeftOutDetail(const LeftOut& why);

// One resource the engine passed over: the module, the resource as the engine met it,
// its kind, and why.
struct LeftOutEntry {
    std::string module;
    ResId type;
    ResId name;
    std::uint16_t language = 0;
    ResourceKind kind = ResourceKind::Bitmap;
    LeftOut why;
};

// Hears of every resource the engine leaves out and keeps them, in the order met, for
// the report, which names each one.
class LeftOutList final : public IExtractObserver {
public:
    void ResourceLeftOut(const ResourceRef& resource, ResourceKind kind,
                         const LeftOut& why) override;
    [[nodiscard]] std::vector<LeftOutEntry> Entries() const;

private:
    mutable std::mutex m_mutex;
    std::vector<LeftOutEntry> m_entries;
};

// With --unique: the files each kind's resources made and the copies folded into files
// written earlier, the kind's own files and the per-size icon files (in the folders
// below the kind's, Icons/32x32/8/) counted apart.
class FileTally final : public IExtractObserver {
public:
    // `destination`: the run's destination folder as the engine names its files, with
    // its trailing "/".
    explicit FileTally(std::string destination) : m_destination(std::move(destination)) {}

    void FileWritten(ResourceKind kind, const std::string& path) override;
    void CopyFolded(ResourceKind kind, const std::string& existing) override;

    struct Counts {
        std::int64_t written = 0;
        std::int64_t folded = 0;
    };
    // The kind's own files, or (with `perSize`) the files in the folders below its own.
    [[nodiscard]] Counts Of(ResourceKind kind, bool perSize) const;

private:
    [[nodiscard]] bool isPerSize(ResourceKind kind, const std::string& path) const;

    std::string m_destination;
    mutable std::mutex m_mutex;
    std::array<std::array<Counts, 2>, kResourceKindCount> m_counts{};
};

// harvix-cli's exit status for a run that ended so: 0 completed, 1 stopped by an error
// or cancelled, 2 refused.
[[nodiscard]] int ExitStatusOf(RunEnd end);

// The report document. `exitStatus`: the status the command ends with.
Json BuildRunReport(const ReportFacts& facts, const RunAccount& account,
                    const LeftOutList& leftOut, int exitStatus);

// Writes the text to `path` under a temporary name in the same folder, then renames it
// into place, so a reader never sees half a report and an old report stays whole until
// the new one replaces it.
Status WriteFileReplacing(const std::string& path, const std::string& text);

// The line that tells of the modules a packer compressed (`packed` holds at least one):
// "2 modules packed by UPX: the resources ... (first: PATH)".
[[nodiscard]] std::string PackedModulesLine(const ProblemList& packed);

// The line that tells of the installers and containers whose contents could not be read
// (`containers` holds at least one): "1 installer, container or member whose contents could not
// be read (first: PATH: Inno Setup installer: ...)".
[[nodiscard]] std::string ContainersNotReadLine(const ProblemList& containers);

// The lines for stderr at the end of a run, each only when it applies: the resources
// per kind that the limits left out, that were not well formed, and that were empty or
// missing (one line per cause; the limits' line names the options that widen them),
// with `unique` (--unique) the files written and the copies folded per kind, the folders
// and the files that could not be read, the modules a packer compressed, and that no
// file matched the mask (a search that found no file at all).
std::vector<std::string> SummaryLines(const ReportFacts& facts, const RunAccount& account,
                                      const std::string& mask, const FileTally* unique = nullptr);

} // namespace harvix
