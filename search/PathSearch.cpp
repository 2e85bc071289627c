#include "search/PathSearch.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

namespace harvix {

namespace {

std::int32_t AddCapped(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = std::int64_t{a} + b;
    return sum > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                          : static_cast<std::int32_t>(sum);
}

} // namespace

// Passes the events of one folder's walk on with the counters of the paths before it
// added, keeps the walk's SearchFinished back (the whole search raises its own), and
// remembers whether the receiver stopped the search.
class cPathSearch::Relay final : public cSearchCoreEvents {
public:
    Relay(cSearchCoreEvents& to, std::int32_t files, std::int32_t dirs)
        : m_to(to), m_filesBefore(files), m_dirsBefore(dirs) {}

    void FileFound(std::string& FileName, std::int32_t& FileCount, std::int32_t& DirCount,
                   bool& Cancel) override {
        lastFiles = FileCount;
        lastDirs = DirCount;
        std::int32_t files = AddCapped(m_filesBefore, FileCount);
        std::int32_t dirs = AddCapped(m_dirsBefore, DirCount);
        m_to.FileFound(FileName, files, dirs, Cancel);
        cancelled = cancelled || Cancel;
    }
    void SearchFinished() override {}
    void Searching(bool& Cancel) override {
        m_to.Searching(Cancel);
        cancelled = cancelled || Cancel;
    }

    std::int32_t lastFiles = 0;
    std::int32_t lastDirs = 0;
    bool cancelled = false;

private:
    cSearchCoreEvents& m_to;
    std::int32_t m_filesBefore;
    std::int32_t m_dirsBefore;
};

cPathSearch::cPathSearch(cSearchCore& core, std::vector<std::string> paths)
    : m_core(core), m_paths(std::move(paths)) {}

SearchCount cPathSearch::CountTree(bool Recurse, const std::string& FileMask) {
    m_counted.clear();
    SearchCount total;
    for (const std::string& path : m_paths) {
        const SearchCount one =
            IsFolder(path) ? m_core.CountTree(false, path, Recurse, FileMask) : SearchCount{1, 1};
        m_counted.push_back(one.dirs);
        total.dirs = AddCapped(total.dirs, one.dirs);
        total.files = AddCapped(total.files, one.files);
    }
    return total;
}

void cPathSearch::SearchForFiles(bool Recurse, const std::string& FileMask) {
    std::int32_t files = 0;
    std::int32_t dirs = 0;
    bool cancelled = false;
    for (std::size_t i = 0; i < m_paths.size() && !cancelled && m_events; ++i) {
        if (!IsFolder(m_paths[i])) {
            files = AddCapped(files, 1);
            dirs = AddCapped(dirs, 1);
            std::string name = m_paths[i];
            std::int32_t fileCount = files;
            std::int32_t dirCount = dirs;
            m_events->FileFound(name, fileCount, dirCount, cancelled);
            continue;
        }
        Relay relay(*m_events, files, dirs);
        m_core.SetEvents(&relay);
        m_core.SearchForFiles(m_paths[i], Recurse, FileMask);
        m_core.SetEvents(nullptr);
        cancelled = relay.cancelled;
        files = AddCapped(files, relay.lastFiles);
        // After the walk the folder's share of the progress is whole: its counted
        // entries when a count was made (the entries after its last file included),
        // else as far as its last file had come.
        const std::int32_t share = i < m_counted.size() ? std::max(m_counted[i], relay.lastDirs)
                                                        : relay.lastDirs;
        dirs = AddCapped(dirs, share);
    }
    if (m_events)
        m_events->SearchFinished();
}

bool cPathSearch::IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string cPathSearch::DisplayNameOf(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) {
        if (!text.empty())
            text += "; ";
        text += path;
    }
    return text;
}

bool cPathSearch::AnyFolder(const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        if (IsFolder(path))
            return true;
    return false;
}

} // namespace harvix
