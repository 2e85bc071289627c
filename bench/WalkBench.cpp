// The walk of an extraction run without the extraction: the counting pass over the
// folder tree (its folder entries and matching files, as a run counts them), then the
// search with the masks applied, each matching file only counted.
// The comparison benchmark times it against `find -iname` over the same tree, the scale
// benchmark the counting pass alone (--count-only).
//
//     harvix-walk-bench FOLDER [MASK] [--no-count | --count-only] [--print]
//
// Prints "folders N counted C matches M" (C: the matching files the count found); with
// --print, every matching path first, one a line.
#include "search/SearchCore.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

class Counter final : public harvix::cSearchCoreEvents {
public:
    explicit Counter(bool print) : m_print(print) {}

    void FileFound(std::string& FileName, std::int32_t&, std::int32_t&, bool&) override {
        ++matches;
        if (m_print)
            std::printf("%s\n", FileName.c_str());
    }
    void SearchFinished() override {}

    long matches = 0;

private:
    bool m_print;
};

} // namespace

int main(int argc, char** argv) {
    std::string folder;
    std::string mask = "*.exe;*.dll;*.ocx;*.cpl;*.scr;*.vbx";
    bool count = true;
    bool search = true;
    bool print = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-count") == 0)
            count = false;
        else if (std::strcmp(argv[i], "--count-only") == 0)
            search = false;
        else if (std::strcmp(argv[i], "--print") == 0)
            print = true;
        else if (positional++ == 0)
            folder = argv[i];
        else
            mask = argv[i];
    }
    if (folder.empty() || positional > 2 || (!count && !search)) {
        std::fprintf(stderr,
                     "usage: harvix-walk-bench FOLDER [MASK] [--no-count | --count-only] [--print]\n");
        return 2;
    }

    Counter counter(print);
    harvix::cSearchCore core(&counter);
    const harvix::SearchCount counted =
        count ? core.CountTree(false, folder, true, mask) : harvix::SearchCount{};
    if (search)
        core.SearchForFiles(folder, true, mask);
    std::printf("folders %d counted %d matches %ld\n", counted.dirs, counted.files,
                counter.matches);
    return 0;
}
