// The search of a confined command, split between two processes: the opener (see
// sandbox/Opener.h) walks the folders, reads the file list, finds the satellites and
// opens every file the search reports; the confined process runs the command, which sees
// the same events of the same search in the same order, each file found arriving with its
// descriptors (run/HandedFiles.h).
//
// The confined process asks for the events a batch at a time, one batch ahead of those it
// handles, so that the opener walks while the command reads; a batch goes when it holds
// kBatchFiles files, or sooner when it has waited a moment and is asked for. A Cancel set
// by the command stops the walk in the opener.
#pragma once

#include "run/HandedFiles.h"
#include "run/SatelliteReading.h"
#include "run/SearchRun.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace harvix {

// The files of one batch at most.
inline constexpr std::size_t kBatchFiles = 32;

// The opener's side: answers the confined process's requests on `socket` with `search`
// until it closes its end. `finder` (none: modules are read as they are) finds the
// satellites opened with each file; `places` says which modules the run reads.
// `unlisted` is set to the hook through which the walk tells of folders it could not list;
// `listReadError`, when given, says at the end why a file list was not read to its end.
// A count stops early when the confined process asks (a walk counting with
// OpenerCountStop).
using UnlistedHook = std::function<void(const std::string& folder, int error)>;
void ServeSearch(int socket, IRunSearch& search, const SatelliteFinder* finder, const RunPlaces& places,
                 UnlistedHook& unlisted, const std::function<std::string()>& listReadError = {});

// For the walk in the opener: true once the confined process has asked for something
// while a count goes on (it asks a count to stop; or it is gone).
[[nodiscard]] bool OpenerCountStop(int socket);

// The confined side: the search as the run drives it, every file found put into `store`
// before the event that reports it.
class RemoteSearch final : public IRunSearch {
public:
    RemoteSearch(int socket, HandedFileStore& store) : m_socket(socket), m_store(store) {}

    // Lets a file's descriptors go once the event that reported it has returned (a
    // command that reads each file there, without reading ahead).
    void ReleaseEachFile() { m_releaseEach = true; }

    // Hears of the folders the walk could not list.
    void SetUnlistedFolderHandler(UnlistedHook handler) { m_unlisted = std::move(handler); }

    // Asked while the opener counts the tree: true (a signal ends the run) asks the
    // opener to stop the count where it stands.
    void SetCountStop(std::function<bool()> stop) { m_countStop = std::move(stop); }

    SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                          const std::string& FileMask) override;
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override;
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override;

    // Why the search ended before its end without a Cancel (the opener ended or the
    // socket failed); empty when it did not.
    [[nodiscard]] const std::string& Failure() const { return m_failure; }
    // Why the opener stopped reading the file list before its end; empty when it read it whole.
    [[nodiscard]] const std::string& ListReadError() const { return m_listReadError; }

private:
    // Sends the request to `search` and hands its events on until it ends.
    void run(const std::vector<std::uint8_t>& search, cSearchCoreEvents& events);
    bool request(char what);
    void fail(int error);

    int m_socket;
    HandedFileStore& m_store;
    UnlistedHook m_unlisted;
    std::function<bool()> m_countStop;
    bool m_releaseEach = false;
    std::string m_failure;
    std::string m_listReadError;
};

} // namespace harvix
