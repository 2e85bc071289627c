// The cage a command of harvix-cli shuts itself in once it has opened what it must and
// before it reads the first byte of a module: no new privileges; the places in the file
// system it may still read and write (Landlock); the system calls it may still make (a
// seccomp filter, anything else failing with EPERM). It holds every thread of the
// process, those started later included, and it cannot be left.
//
// Each part is applied where the kernel offers it and left out where it does not, or
// where an outer sandbox forbids it: a command never fails for want of a cage.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace harvix {

// What a command does once it is confined, as far as the system calls go.
enum class CallSet {
    Reading,    // list, version: files and folders read, standard output written
    Thumbnail,  // one file read, one picture written into one folder
    Converting, // png: files read, new files written beside them or into a folder
    Icon,       // icon: one file read, pictures written whole, a theme's folders made
    CursorTheme, // cursor-theme: files and folders read, a theme made in a new folder
                 // with symbolic links and renamed into place, an old one removed
    Extracting, // extract: threads that read ahead, folders and files made, the
                // terminal's questions, the report handed to its helper
};

// Where a confined command may still go in the file system.
struct CagePlan {
    CallSet calls = CallSet::Reading;
    // Files read, and folders read with everything beneath them. "/" reads everywhere
    // (every drive searched, or a file list that may name any file).
    std::vector<std::string> readable;
    // Folders in which files are made, written, renamed, linked and removed, and read
    // back, with everything beneath them.
    std::vector<std::string> writable;
    // Folders may be made beneath the writable ones too.
    bool makeFolders = false;
    // Symbolic links may be made beneath the writable ones too.
    bool makeLinks = false;
    // Folders whose entries may be listed, with the folders beneath them: names only,
    // never a file's content (where the satellite files of the modules searched are
    // looked for).
    std::vector<std::string> listable;
    // Folders beneath which empty folders may be removed (and nothing else): the folders
    // a command made ahead of the cage, taken back when nothing went into them.
    std::vector<std::string> emptiable;
};

// What was applied.
struct CageState {
    bool wanted = true;      // false: --no-sandbox
    bool noNewPrivs = false; // PR_SET_NO_NEW_PRIVS set
    int landlockAbi = 0;     // the Landlock ABI of the domain entered; 0: none
    std::string landlockMissing; // why not, when not
    bool filtered = false;   // the system-call filter is loaded
    std::size_t allowedCalls = 0;
    std::string filterMissing; // why not, when not

    [[nodiscard]] bool whole() const { return landlockAbi > 0 && filtered; }
};

// Confines the process as `plan` says, unless `wanted` is false. Call it while the
// process has only its first thread: Landlock holds the calling thread and the threads
// it starts afterwards, the filter is given to every thread.
CageState EnterCage(const CagePlan& plan, bool wanted = true);

// One line that says what holds the command (for --verbose).
[[nodiscard]] std::string DescribeCage(const CageState& state);

// The system calls a set allows, by name, in the order of the filter; the ones that
// take only some arguments are marked so ("ioctl (TCGETS, TIOCGWINSZ)").
[[nodiscard]] std::vector<std::string> AllowedCalls(CallSet set);

// The highest Landlock ABI the kernel offers; 0 when it offers none.
[[nodiscard]] int LandlockAbi();

} // namespace harvix
