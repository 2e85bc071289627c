// The run's view of the real file search: the walk, a list of files, or paths given one
// by one.
#pragma once

#include "search/FileList.h"
#include "search/PathSearch.h"
#include "run/SearchRun.h"

namespace harvix {

// Drives a cSearchCore, sending its events to the run.
class SearchCoreBinding final : public IRunSearch {
public:
    explicit SearchCoreBinding(cSearchCore& core) : m_core(core) {}

    SearchCount CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                          const std::string& FileMask) override {
        return m_core.CountTree(AllDrives, BaseDir, Recurse, FileMask);
    }
    void SearchForFiles(const std::string& FileRoot, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override {
        m_core.SetEvents(&events);
        m_core.SearchForFiles(FileRoot, Recurse, FileMask);
    }
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override {
        m_core.SetEvents(&events);
        m_core.SearchSystemForFiles(FileMask);
    }

private:
    cSearchCore& m_core;
};

// Reports the files a list names, in its order, instead of walking. The count before
// the run is the number of names (only for a list that is a regular file), each one
// file and one entry, so the progress bar moves by names.
class FileListBinding final : public IRunSearch {
public:
    explicit FileListBinding(cFileList& list) : m_list(list) {}

    SearchCount CountTree(bool, const std::string&, bool, const std::string&) override {
        const std::int32_t names = m_list.CountNames();
        return {names, names};
    }
    void SearchForFiles(const std::string&, bool, const std::string&,
                        cSearchCoreEvents& events) override {
        m_list.SetEvents(&events);
        m_list.ReportFiles();
    }
    void SearchSystemForFiles(const std::string&, cSearchCoreEvents& events) override {
        m_list.SetEvents(&events);
        m_list.ReportFiles();
    }

private:
    cFileList& m_list;
};

// Reports the files and folders given as paths, in their order, as one search: the
// run's folder stands for all of them. The count before the run is the folders'
// matching files and one for each file path, so the progress bar moves across all the
// paths.
class PathSearchBinding final : public IRunSearch {
public:
    explicit PathSearchBinding(cPathSearch& paths) : m_paths(paths) {}

    SearchCount CountTree(bool, const std::string&, bool Recurse,
                          const std::string& FileMask) override {
        return m_paths.CountTree(Recurse, FileMask);
    }
    void SearchForFiles(const std::string&, bool Recurse, const std::string& FileMask,
                        cSearchCoreEvents& events) override {
        m_paths.SetEvents(&events);
        m_paths.SearchForFiles(Recurse, FileMask);
    }
    void SearchSystemForFiles(const std::string& FileMask, cSearchCoreEvents& events) override {
        SearchForFiles({}, true, FileMask, events);
    }

private:
    cPathSearch& m_paths;
};

} // namespace harvix
