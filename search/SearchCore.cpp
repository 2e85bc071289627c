#include "search/SearchCore.h"

#include "search/Drives.h"
#include "search/MaskSet.h"
#include "common/Paths.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace harvix {

namespace {

bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Kernel file systems that show processes, devices or settings as folders and files:
// a folder walk that reaches one of their mounts does not go in.
bool IsKernelFileSystem(int fd) {
    struct statfs info {};
    if (fstatfs(fd, &info) != 0)
        return false;
    switch (static_cast<unsigned long>(info.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEVPTS_SUPER_MAGIC:
    case BPF_FS_MAGIC:
    case PSTOREFS_MAGIC:
    case SELINUX_MAGIC:
    case EFIVARFS_MAGIC:
        return true;
    default:
        return false;
    }
}

// How many folder levels keep their descriptor open while the walk is below them.
constexpr int kMaxHeldLevels = 32;

// What an entry of a listing is for the walk.
enum class EntryKind { Folder, File, Other };

// A symbolic link is never a folder (so link cycles cannot trap the walk); a link to a
// regular file is a file. Devices, FIFOs and sockets are neither.
EntryKind Classify(int dirFd, const dirent& entry) {
    switch (entry.d_type) {
    case DT_DIR:
        return EntryKind::Folder;
    case DT_REG:
    case DT_LNK: // resolved only if its name matches, see IsRegularFile
        return EntryKind::File;
    case DT_UNKNOWN: {
        struct stat st {};
        if (fstatat(dirFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::Other;
        if (S_ISDIR(st.st_mode))
            return EntryKind::Folder;
        return (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) ? EntryKind::File : EntryKind::Other;
    }
    default:
        return EntryKind::Other;
    }
}

bool IsRegularFile(int dirFd, const dirent& entry) {
    if (entry.d_type == DT_REG)
        return true;
    struct stat st {};
    return fstatat(dirFd, entry.d_name, &st, 0) == 0 && S_ISREG(st.st_mode);
}

} // namespace

// The state of one walk of one tree. The current folder's path is kept in one growing
// text, and the subfolders waiting to be entered in one stack of names, so that a
// folder costs no allocation once the buffers have grown to the tree's depth and width.
struct cSearchCore::Walk {
    explicit Walk(cSearchCore& owner) : core(owner) {}

    cSearchCore& core;
    bool Recurse = false;
    bool CountOnly = false;
    bool stayOnDevice = false; // a drive: never go into another mount
    dev_t rootDevice = 0;
    std::string path;       // the folder being listed, ending in "/"
    std::string pending;    // names of entered subfolders, each ended by NUL; "" = counted only
    std::string fileName;   // reused for each FileFound
    int heldLevels = 0;     // folders above the current one whose descriptor is still open
    int sinceSearching = 0; // names listed since Searching was last raised

    // Lists the folder open as `fd` and walks below it. `countDots` is false at a drive
    // root, whose "." and ".." are not folder entries. The descriptor may be swapped for
    // a new one to the same folder; it is -1 afterwards when the way back was lost.
    void WalkFolder(int& fd, dev_t device, bool countDots);
    void EnterFolder(int& parentFd, const char* name, dev_t parentDevice);
    void Report(const char* name);
    void RaiseSearching();
};

void cSearchCore::Walk::RaiseSearching() {
    sinceSearching = 0;
    if (CountOnly) {
        if (core.m_countStop && core.m_countStop())
            core.Cancel = true;
        return;
    }
    if (core.m_events == nullptr)
        return;
    bool cancel = core.Cancel;
    core.m_events->Searching(cancel);
    core.Cancel = cancel;
}

void cSearchCore::Walk::Report(const char* name) {
    ++core.FileCount;
    fileName.assign(path).append(name);
    std::int32_t fileCount = core.FileCount;
    std::int32_t dirCount = core.DirCount;
    bool cancel = core.Cancel;
    if (core.m_events != nullptr)
        core.m_events->FileFound(fileName, fileCount, dirCount, cancel);
    core.Cancel = cancel;
}

void cSearchCore::Walk::WalkFolder(int& fd, dev_t device, bool countDots) {
    // The listing gets a descriptor of its own and is closed as soon as it has been read,
    // so a folder holds at most one open listing, and only while it is being read.
    const int listingFd = dup(fd);
    DIR* listing = listingFd < 0 ? nullptr : fdopendir(listingFd);
    if (listing == nullptr) {
        const int error = errno;
        if (listingFd >= 0)
            close(listingFd);
        core.NoteUnlisted(CountOnly, path, error);
        return;
    }
    const std::size_t firstPending = pending.size();
    std::int32_t notEntered = 0;

    // One listing serves both needs: the folder's own files are reported at once, its
    // subfolder entries are kept in listing order and handled after the last file, so
    // files are always reported before anything below them.
    while (!core.Cancel) {
        const dirent* entry = readdir(listing);
        if (entry == nullptr)
            break;
        if (++sinceSearching >= kSearchingInterval) {
            RaiseSearching();
            if (core.Cancel)
                break;
        }
        const EntryKind kind = Classify(fd, *entry);
        if (kind == EntryKind::Folder) {
            const bool dots = IsDotOrDotDot(entry->d_name);
            if (dots && !countDots)
                continue;
            if (!Recurse) {
                ++notEntered;
            } else {
                if (!dots)
                    pending.append(entry->d_name);
                pending.push_back('\0');
            }
        } else if (kind == EntryKind::File && core.m_masks.Matches(entry->d_name) &&
                   IsRegularFile(fd, *entry)) {
            // The count takes the files the search will report, by the same test.
            if (!CountOnly)
                Report(entry->d_name);
            else if (core.FileCount < INT32_MAX)
                ++core.FileCount;
        }
    }
    closedir(listing);

    if (!core.Cancel)
        core.DirCount += notEntered;
    std::size_t next = firstPending;
    while (!core.Cancel && next < pending.size() && fd >= 0) {
        ++core.DirCount;
        const std::size_t end = pending.find('\0', next);
        if (end > next) {
            // Copied out: the stack grows while the subfolder is walked.
            const std::string name = pending.substr(next, end - next);
            EnterFolder(fd, name.c_str(), device);
        }
        next = end + 1;
    }
    pending.resize(firstPending);
}

void cSearchCore::Walk::EnterFolder(int& parentFd, const char* name, dev_t parentDevice) {
    // Relative to the parent's descriptor, so the depth of the tree is not limited by
    // the longest path the system accepts. O_NOFOLLOW: a folder swapped for a link
    // since it was listed is not followed.
    RaiseSearching();
    if (core.Cancel)
        return;
    int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Unreadable or vanished: skipped, its entry is already counted.
        const int error = errno;
        core.NoteUnlisted(CountOnly, path + name + '/', error);
        return;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        core.NoteUnlisted(CountOnly, path + name + '/', error);
        close(fd);
        return;
    }
    if (st.st_dev != parentDevice &&
        (stayOnDevice ? st.st_dev != rootDevice : IsKernelFileSystem(fd))) {
        close(fd);
        return;
    }
    // A very deep tree would use up the process's descriptors: beyond a fixed number of
    // open levels the parent's descriptor is given up, and found again afterwards
    // through "..", checked to be the same folder.
    struct stat parent {};
    const bool release = heldLevels >= kMaxHeldLevels && fstat(parentFd, &parent) == 0;
    if (release) {
        close(parentFd);
        parentFd = -1;
    } else {
        ++heldLevels;
    }
    const std::size_t pathLength = path.size();
    path.append(name).push_back('/');
    WalkFolder(fd, st.st_dev, true);
    path.resize(pathLength);
    if (release) {
        struct stat up {};
        parentFd = fd < 0 ? -1 : openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parentFd >= 0 && (fstat(parentFd, &up) != 0 || up.st_dev != parent.st_dev ||
                              up.st_ino != parent.st_ino)) {
            close(parentFd); // the tree was moved meanwhile: the rest of the parent is lost
            parentFd = -1;
        }
    } else {
        --heldLevels;
    }
    if (fd >= 0)
        close(fd);
}

cSearchCore::cSearchCore(cSearchCoreEvents* events)
    : m_events(events), m_driveLister(ListFixedDrives) {}

void cSearchCore::SetDriveLister(DriveLister lister) {
    m_driveLister = lister ? std::move(lister) : DriveLister(ListFixedDrives);
}

bool cSearchCore::WalkTree(const std::string& folder, bool Recurse, bool Reset, bool CountOnly,
                           bool driveRoot) {
    if (Reset) {
        FileCount = 0;
        DirCount = 0;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        NoteUnlisted(CountOnly, AddBackslash(folder), error);
        return Cancel;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        NoteUnlisted(CountOnly, AddBackslash(folder), error);
        close(fd);
        return Cancel;
    }
    // The root of a mounted file system (a drive's root) has no "." and ".." entries of
    // its own to count: it is the top of its tree.
    if (!driveRoot) {
        struct stat parent {};
        driveRoot = fstatat(fd, "..", &parent, 0) == 0 &&
                    (parent.st_dev != st.st_dev || parent.st_ino == st.st_ino);
    }
    Walk walk(*this);
    walk.Recurse = Recurse;
    walk.CountOnly = CountOnly;
    walk.stayOnDevice = m_stayOnDevice;
    walk.rootDevice = st.st_dev;
    walk.path = AddBackslash(folder);
    int rootFd = fd;
    walk.WalkFolder(rootFd, st.st_dev, !driveRoot);
    if (rootFd >= 0)
        close(rootFd);
    return Cancel;
}

void cSearchCore::NoteUnlisted(bool CountOnly, const std::string& folder, int error) const {
    if (!CountOnly && m_unlisted)
        m_unlisted(folder, error);
}

std::int32_t cSearchCore::GetDirCount(bool AllDrives, const std::string& BaseDir) {
    return CountTree(AllDrives, BaseDir, true, {}).dirs;
}

SearchCount cSearchCore::CountTree(bool AllDrives, const std::string& BaseDir, bool Recurse,
                                   const std::string& FileMask) {
    if (BaseDir == "/")
        AllDrives = true;
    m_masks = MaskSet(SplitMask(FileMask));
    DirCount = 0;
    FileCount = 0;
    Cancel = false;
    if (AllDrives) {
        m_stayOnDevice = true;
        for (const auto& drive : m_driveLister())
            if (WalkTree(drive, true, false, true, true))
                break;
    } else {
        m_stayOnDevice = false;
        WalkTree(BaseDir, Recurse, false, true, false);
    }
    m_masks = MaskSet();
    return {DirCount, FileCount};
}

void cSearchCore::SearchForFiles(const std::string& FileRoot, bool Recurse,
                                 const std::string& FileMask) {
    m_masks = MaskSet(SplitMask(FileMask));
    Cancel = false;
    m_stayOnDevice = false;
    WalkTree(FileRoot, Recurse, true, false, false);
    m_masks = MaskSet();
    if (m_events != nullptr)
        m_events->SearchFinished();
}

void cSearchCore::SearchSystemForFiles(const std::string& FileMask) {
    m_masks = MaskSet(SplitMask(FileMask));
    const auto drives = m_driveLister();
    Cancel = false;
    DirCount = 0;
    FileCount = 0;
    m_stayOnDevice = true;
    for (const auto& drive : drives)
        if (WalkTree(drive, true, false, false, true))
            break;
    m_masks = MaskSet();
    if (m_events != nullptr)
        m_events->SearchFinished();
}

std::vector<std::string> SplitMask(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    text = text.substr(first, text.find_last_not_of(' ') - first + 1);

    std::string_view separator;
    for (std::string_view candidate : {"; ", ";", ", ", ",", " "}) {
        if (text.find(candidate) != std::string_view::npos) {
            separator = candidate;
            break;
        }
    }
    // Every occurrence of the chosen separator becomes "|", and the text is then cut at
    // every "|" (one in the text itself included).
    std::string marked;
    marked.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        if (!separator.empty() && text.substr(i, separator.size()) == separator) {
            marked.push_back('|');
            i += separator.size();
        } else {
            marked.push_back(text[i++]);
        }
    }
    std::vector<std::string> masks;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = marked.find('|', start);
        masks.push_back(
            marked.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            break;
        start = at + 1;
    }
    return masks;
}

} // namespace harvix
