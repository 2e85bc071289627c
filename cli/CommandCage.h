// The cage of the commands that read modules (list, version, extract, png, thumbnail):
// the two options every one of them takes, and each command's places, entered once the
// command has opened what it must and before it reads the first byte of a module.
#pragma once

#include "cli/ExtractArgs.h"
#include "cli/OpenerSearch.h"
#include "common/Result.h"
#include "sandbox/Cage.h"
#include "sandbox/Opener.h"
#include "search/FileList.h"
#include "settings/Settings.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace harvix {

// --no-sandbox: the command is not confined (for finding out whether the cage is what
// stands in the way). --verbose: the command says on stderr what confines it, or why
// nothing does.
struct CageChoice {
    bool off = false;
    bool verbose = false;
};

// True when `arg` is one of the two options; it is then noted in `choice`.
bool TakeCageOption(const std::string& arg, CageChoice& choice);

// Confines the command to `plan` unless --no-sandbox was given; with --verbose says so
// on stderr, as the command's messages go.
void EnterCommandCage(const CageChoice& choice, const CagePlan& plan);

// The paths with the folders outside them from which the satellite resource files of the
// modules they hold are read (the SystemResources folder beside System32, the language
// folders beside a module named).
[[nodiscard]] std::vector<std::string> WithSatelliteRoots(std::vector<std::string> readable);

// The folders listed (names only) to find the satellites of the modules beneath `searched`
// and the modules a satellite named belongs to: the folder above each path searched, and
// for a file the one above that too (the Windows folder above SystemResources, a module's
// folder above its language folder).
[[nodiscard]] std::vector<std::string> SatelliteListings(const std::vector<std::string>& searched);

// A confined command's search, run by the opener (sandbox/Opener.h): the walk, the file
// list and the satellites in a process that keeps the command's rights, every file found
// handed over open. The command drives Search() as it would drive `search`, and reads its
// modules from Store(); its cage then grants no reading by path at all.
class SplitSearch {
public:
    // Starts the opener, which runs `search` (with `core` walking, whose folders not
    // listed it reports; with `list` the names it reads). Nothing when the cage is off, or
    // when no process could be started: the command then reads by path.
    static std::unique_ptr<SplitSearch> Start(const CageChoice& choice, IRunSearch& search,
                                              const SatelliteChoice& satellites, const RunPlaces& places,
                                              cSearchCore* core, cFileList* list);
    SplitSearch(const SplitSearch&) = delete;
    SplitSearch& operator=(const SplitSearch&) = delete;

    [[nodiscard]] RemoteSearch& Search() { return m_search; }
    [[nodiscard]] HandedFileStore& Store() { return m_store; }

    // Why the search did not reach its end (the opener ended early, or the file list was
    // not read to its end), empty when it did; the opener is ended and waited for.
    [[nodiscard]] std::string Finish();

private:
    explicit SplitSearch(std::unique_ptr<OpenerProcess> opener)
        : m_opener(std::move(opener)), m_search(m_opener->Socket(), m_store) {}

    std::unique_ptr<OpenerProcess> m_opener;
    HandedFileStore m_store;
    RemoteSearch m_search;
};

// The cage of a command whose files are all handed over: no reading by path.
[[nodiscard]] CagePlan HandedOnly(CallSet calls);

// The cage of a command that reads `readable` and writes no file (list, version).
[[nodiscard]] CagePlan ReadingOnly(std::vector<std::string> readable);

// How the report of harvix-cli extract is written: WriteFileReplacing, or a helper
// outside the cage that does it.
using ReportWriter = std::function<Status(const std::string& path, const std::string& text)>;

// The extraction's cage: reading beneath the paths searched (everywhere for every drive
// or a file list), writing and making folders beneath the destination. A report that
// goes to a file is handed to a helper started before the cage closes, which
// `writeReport` then calls.
// With `handedOver` the files are all handed over by the opener: the run reads no path.
void EnterExtractCage(const ExtractRequest& req, const Settings& settings,
                      ReportWriter& writeReport, bool handedOver = false);

// A folder a command writes into that may not be there yet (icon's theme): made before
// the cage closes, as the cage allows writing only beneath folders that exist, and taken
// back when the command leaves it empty. Nothing is made when the cage is off.
class FolderMadeAhead {
public:
    FolderMadeAhead(const std::string& folder, const CageChoice& choice);
    FolderMadeAhead(const FolderMadeAhead&) = delete;
    FolderMadeAhead& operator=(const FolderMadeAhead&) = delete;
    // Removes the folders it made that are still empty, the deepest first.
    ~FolderMadeAhead();

    // The folder above the ones it made, beneath which they may be removed; empty when
    // it made none.
    [[nodiscard]] const std::string& above() const { return m_above; }

private:
    std::vector<std::string> m_made; // outermost first
    std::string m_above;
};

// The folder a file is in, as the file's path names it ("." for a bare name).
[[nodiscard]] std::string FolderOfFile(const std::string& path);

} // namespace harvix
