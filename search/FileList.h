// cFileList: a second source of files beside the walk. It reads the names of files from
// a list (a file, or standard input), separated by line breaks or by NUL characters, and
// reports each name, in the order of the list, as cSearchCore reports a matching file.
// No mask is applied and nothing is walked: whatever the list names goes to the events,
// and the receiver finds out what it is.
#pragma once

#include "common/Result.h"
#include "search/SearchCore.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace harvix {

class cFileList {
public:
    // The list "-" is standard input. Names are separated by '\n', or by '\0' when
    // `nulSeparated`; empty names are passed over. Every other byte belongs to the name
    // (a name may hold line breaks only in a NUL-separated list).
    cFileList(std::string listPath, bool nulSeparated);
    cFileList(const cFileList&) = delete;
    cFileList& operator=(const cFileList&) = delete;
    ~cFileList();

    void SetEvents(cSearchCoreEvents* events) { m_events = events; }

    // Opens the list; fails with the system's reason.
    Status Open();

    // True when the list is a regular file, which can be read twice: once to count its
    // names, once to report them.
    [[nodiscard]] bool CanCount() const { return m_regular; }

    // The number of names in the list (read once more from its start); 0 when it cannot
    // be counted.
    std::int32_t CountNames();

    // Reports every name: FileFound with the name, FileCount and DirCount both the
    // number of names reported so far (this one included), until the list ends or a
    // handler sets Cancel. Raises SearchFinished once at the end.
    void ReportFiles();

    // The reason reading the list stopped before its end, or "" when it was read whole.
    [[nodiscard]] const std::string& ReadError() const { return m_readError; }

    // The descriptor the list is read from once opened; -1 before.
    [[nodiscard]] int Descriptor() const { return m_file != nullptr ? fileno(m_file) : -1; }
    // How the index header names the list: its path, or "standard input".
    [[nodiscard]] std::string DisplayName() const;

private:
    // The next name; false at the end of the list (or a read error).
    bool next(std::string& name);

    std::string m_path;
    bool m_nul;
    std::FILE* m_file = nullptr;
    bool m_ownsFile = false;
    bool m_regular = false;
    std::string m_readError;
    cSearchCoreEvents* m_events = nullptr;
};

} // namespace harvix
