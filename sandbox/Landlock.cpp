#include "sandbox/Landlock.h"

#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace harvix {

namespace {

// The rights and fields of later ABIs than the system's headers may know. The values are
// the kernel's and never change.
constexpr std::uint64_t kRefer = 1ULL << 13;    // ABI 2
constexpr std::uint64_t kTruncate = 1ULL << 14; // ABI 3
constexpr std::uint64_t kIoctlDev = 1ULL << 15; // ABI 5
constexpr std::uint64_t kBindTcp = 1ULL << 0;   // ABI 4
constexpr std::uint64_t kConnectTcp = 1ULL << 1;
constexpr std::uint64_t kScopeAbstractUnix = 1ULL << 0; // ABI 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;

// The first ABI's file-system rights: execute, write, read, read folders, remove
// folders and files, make character devices, folders, files, sockets, pipes, block
// devices and links.
constexpr std::uint64_t kAbi1Rights = (1ULL << 13) - 1;

// The rights a rule on a file (not a folder) may hold.
constexpr std::uint64_t kFileRights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                      LANDLOCK_ACCESS_FS_READ_FILE | kTruncate | kIoctlDev;

// The ruleset's attributes as the kernel reads them: a newer kernel takes the longer
// form, and the size passed tells it which fields are there.
struct RulesetAttr {
    std::uint64_t handledFs;
    std::uint64_t handledNet;
    std::uint64_t scoped;
};

struct PathBeneathAttr {
    std::uint64_t allowedAccess;
    std::int32_t parentFd;
} __attribute__((packed));

long createRuleset(const RulesetAttr* attr, std::size_t size, std::uint32_t flags) {
    return ::syscall(SYS_landlock_create_ruleset, attr, size, flags);
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::string reason(const char* what, int code) {
    return std::string(what) + " (" + std::strerror(code) + ")";
}

// Adds a rule giving `rights` beneath `path`. A place that cannot be opened is left
// out: what it names cannot be read or written either way. False on any other failure.
bool addRule(int ruleset, const std::string& path, std::uint64_t rights, std::string& missing) {
    Fd place{::open(path.c_str(), O_PATH | O_CLOEXEC)};
    if (place.fd < 0)
        return true;
    struct stat st {};
    if (::fstat(place.fd, &st) != 0)
        return true;
    if (!S_ISDIR(st.st_mode))
        rights &= kFileRights;
    if (rights == 0)
        return true;
    const PathBeneathAttr rule{rights, place.fd};
    if (::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0) {
        missing = reason(("a rule for '" + path + "' was refused").c_str(), errno);
        return false;
    }
    return true;
}

} // namespace

int LandlockAbi() {
    const long abi = createRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

LandlockRights HandledRights(int abi) {
    LandlockRights rights;
    if (abi < 1)
        return rights;
    rights.fs = kAbi1Rights;
    if (abi >= 2)
        rights.fs |= kRefer;
    if (abi >= 3)
        rights.fs |= kTruncate;
    if (abi >= 4)
        rights.net = kBindTcp | kConnectTcp;
    if (abi >= 5)
        rights.fs |= kIoctlDev;
    if (abi >= 6)
        rights.scoped = kScopeAbstractUnix | kScopeSignal;
    return rights;
}

std::uint64_t ReadRights(int abi) {
    return (LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR) & HandledRights(abi).fs;
}

std::uint64_t WriteRights(int abi, bool folders, bool links) {
    // Output files are written unnamed and linked to their names, or written under a
    // temporary name and renamed, in their own folder; a per-size icon file that is
    // there already is removed and made anew; an index file is cut back after a full
    // disk. Moving a file between two folders of the destination is allowed too.
    std::uint64_t rights = ReadRights(abi) | LANDLOCK_ACCESS_FS_WRITE_FILE |
                           LANDLOCK_ACCESS_FS_REMOVE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG |
                           kTruncate | kRefer;
    if (folders)
        rights |= LANDLOCK_ACCESS_FS_MAKE_DIR;
    if (links)
        rights |= LANDLOCK_ACCESS_FS_MAKE_SYM;
    return rights & HandledRights(abi).fs;
}

int EnterLandlock(const CagePlan& plan, std::string& missing) {
    const long abiFound = createRuleset(nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abiFound <= 0) {
        const int code = errno;
        missing = code == ENOSYS     ? "the kernel has no Landlock"
                  : code == EOPNOTSUPP ? "Landlock is not enabled in this kernel"
                                       : reason("Landlock is not available", code);
        return 0;
    }
    const int abi = static_cast<int>(abiFound);
    const LandlockRights handled = HandledRights(abi);
    // Only the fields the ABI knows are passed: an older kernel refuses a longer form.
    const RulesetAttr attr{handled.fs, handled.net, handled.scoped};
    const std::size_t size = abi >= 6 ? sizeof attr
                             : abi >= 4 ? offsetof(RulesetAttr, scoped)
                                        : offsetof(RulesetAttr, handledNet);
    Fd ruleset{static_cast<int>(createRuleset(&attr, size, 0))};
    if (ruleset.fd < 0) {
        missing = reason("the Landlock ruleset was refused", errno);
        return 0;
    }
    for (const std::string& path : plan.readable)
        if (!addRule(ruleset.fd, path, ReadRights(abi), missing))
            return 0;
    for (const std::string& path : plan.writable)
        if (!addRule(ruleset.fd, path, WriteRights(abi, plan.makeFolders, plan.makeLinks), missing))
            return 0;
    for (const std::string& path : plan.listable)
        if (!addRule(ruleset.fd, path, LANDLOCK_ACCESS_FS_READ_DIR, missing))
            return 0;
    for (const std::string& path : plan.emptiable)
        if (!addRule(ruleset.fd, path, LANDLOCK_ACCESS_FS_REMOVE_DIR, missing))
            return 0;
    if (::syscall(SYS_landlock_restrict_self, ruleset.fd, 0) != 0) {
        missing = reason("the Landlock domain was refused", errno);
        return 0;
    }
    return abi;
}

} // namespace harvix
