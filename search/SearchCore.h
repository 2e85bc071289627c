// cSearchCore: walks one folder tree or every fixed drive and reports, one by one, each
// regular file whose name matches one of a list of wildcard masks. Everything happens
// inside the call that starts a search; the events are raised from inside that call, on
// the caller's thread.
#pragma once

#include "search/MaskSet.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace harvix {

// The receiver of a search's events. One object, set with cSearchCore::SetEvents, gets
// them all.
class cSearchCoreEvents {
public:
    virtual ~cSearchCoreEvents() = default;

    // One matching file. FileName is the folder path with "/" added where missing,
    // followed by the file's name; FileCount counts this file (first file: 1); DirCount
    // is the number of folder entries met so far. Setting Cancel to true stops the
    // search: no further FileFound follows. Changes to the other three arguments are
    // ignored by the search.
    virtual void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                           bool& Cancel) = 0;

    // The search has ended, completed or cancelled. Raised exactly once per
    // SearchForFiles or SearchSystemForFiles call, as the last thing the call does.
    virtual void SearchFinished() = 0;

    // Raised between files while the walk goes on: at every folder it enters and after
    // every kSearchingInterval names it lists, so that a long stretch without matching
    // files (a data folder, a whole disk) still gives the receiver a chance to answer
    // its user or to stop the search. Setting Cancel to true stops the search as at
    // FileFound. The counting pass (GetDirCount) raises none. Ignored by default.
    virtual void Searching(bool& Cancel) { (void)Cancel; }
};

// The walk raises Searching at least once every this many names listed.
inline constexpr int kSearchingInterval = 64;

// What the counting pass before a search finds: the folder entries, counted as the walk
// counts them (the DirCount it reports), and the files the search will report (the
// FileCount of its last FileFound; at most the largest 32-bit count).
struct SearchCount {
    std::int32_t dirs = 0;
    std::int32_t files = 0;
};

class cSearchCore {
public:
    // The fixed drives to search, as folder paths, in order. The default reads the
    // mounted file systems of the machine (see Drives.h); tests put in their own.
    using DriveLister = std::function<std::vector<std::string>()>;

    // Hears of every folder that a search (not a count) could not list or enter: its
    // path and the system's errno. The walk goes on as without it.
    using UnlistedFolderHandler = std::function<void(const std::string& folder, int error)>;

    explicit cSearchCore(cSearchCoreEvents* events = nullptr);

    void SetEvents(cSearchCoreEvents* events) { m_events = events; }
    void SetDriveLister(DriveLister lister);
    void SetUnlistedFolderHandler(UnlistedFolderHandler handler) {
        m_unlisted = std::move(handler);
    }

    // Asked now and then while a count walks (which raises no event a Cancel could come
    // through): true stops the count where it stands, so that a signal that ends the run
    // is not kept waiting for the count of a whole disk. The count's figures are then
    // those met so far.
    using CountStop = std::function<bool()>;
    void SetCountStop(CountStop stop) { m_countStop = std::move(stop); }

    // Counts, without reporting any file, the folder entries of the tree below BaseDir
    // (always going into every subfolder), or of every fixed drive when AllDrives is
    // true or BaseDir is exactly "/". Raises no event.
    std::int32_t GetDirCount(bool AllDrives, const std::string& BaseDir);

    // Counts, without reporting anything, what the search with the same arguments will
    // meet: the folder entries and the files that match FileMask, below BaseDir (into
    // subfolders only when Recurse) or on every fixed drive (AllDrives, or BaseDir "/").
    // One listing of every folder the search lists; no event is raised.
    SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                          const std::string& FileMask);

    // Reports every matching file below FileRoot; goes into subfolders only when
    // Recurse is true. Raises SearchFinished once at the end.
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask);

    // The same over every fixed drive, always going into subfolders; the counters run
    // on from one drive to the next. Raises SearchFinished once at the end.
    void SearchSystemForFiles(const std::string& FileMask);

private:
    struct Walk;

    bool WalkTree(const std::string& folder, bool Recurse, bool Reset, bool CountOnly,
                  bool driveRoot);
    void NoteUnlisted(bool CountOnly, const std::string& folder, int error) const;

    cSearchCoreEvents* m_events = nullptr;
    DriveLister m_driveLister;
    UnlistedFolderHandler m_unlisted;
    CountStop m_countStop;
    MaskSet m_masks;
    bool m_stayOnDevice = false; // walking a drive: never go into another mount
    std::int32_t FileCount = 0;
    std::int32_t DirCount = 0;
    bool Cancel = false;
};

// Splits a mask text into masks: blanks trimmed at both ends; then the first of "; ",
// ";", ", ", "," and " " that occurs in the text separates the masks (only that one).
// Pieces are not trimmed again; an empty piece stays. An all-blank text gives none.
std::vector<std::string> SplitMask(std::string_view text);

} // namespace harvix
