// cPathSearch: the files of several paths given on a command line, each a file or a
// folder. A file is reported as it is, whatever its name (no mask applies to it); a
// folder is walked by cSearchCore with the mask and the subfolder switch. The paths go
// in the order given, and the receiver sees one search: the counters run on from one
// path to the next, and SearchFinished comes once, at the end.
#pragma once

#include "search/SearchCore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace harvix {

class cPathSearch {
public:
    // `core` walks the folders (with its drive lister and unlisted-folder handler); a
    // path that names a folder (links followed) is one, anything else is a file.
    cPathSearch(cSearchCore& core, std::vector<std::string> paths);

    void SetEvents(cSearchCoreEvents* events) { m_events = events; }

    // What the search with the same arguments will meet, without reporting anything:
    // each folder's entries and matching files as cSearchCore::CountTree counts them,
    // and one entry and one file for each file path. Reported DirCount and FileCount
    // values reach these totals at the end.
    SearchCount CountTree(bool Recurse, const std::string& FileMask);

    // Reports each file path, and every matching file below each folder path (into
    // subfolders only when Recurse), in the order of the paths. DirCount runs on from
    // path to path: a file path counts one, a folder its entries. Setting Cancel stops
    // the whole search. Raises SearchFinished once at the end.
    void SearchForFiles(bool Recurse, const std::string& FileMask);

    // How the index header names what was searched: the paths as given, separated by
    // "; ".
    [[nodiscard]] std::string DisplayName() const { return DisplayNameOf(m_paths); }
    [[nodiscard]] static std::string DisplayNameOf(const std::vector<std::string>& paths);
    // True when a folder is among the paths (the mask and the subfolder switch apply).
    [[nodiscard]] bool HasFolder() const { return AnyFolder(m_paths); }
    [[nodiscard]] static bool AnyFolder(const std::vector<std::string>& paths);
    // True when the path names a folder (links followed).
    [[nodiscard]] static bool IsFolder(const std::string& path);

private:
    class Relay;

    cSearchCore& m_core;
    std::vector<std::string> m_paths;
    std::vector<std::int32_t> m_counted; // folder entries per path, from CountTree; empty before it
    cSearchCoreEvents* m_events = nullptr;
};

} // namespace harvix
