#include "search/Drives.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace harvix {

namespace {

// File systems that keep their data on a disk of the machine.
constexpr std::string_view kDiskFileSystems[] = {
    "ext2",  "ext3",    "ext4", "xfs", "btrfs",    "f2fs", "vfat",    "msdos",  "exfat",    "ntfs",
    "ntfs3", "fuseblk", "zfs",  "jfs", "reiserfs", "hfs",  "hfsplus", "nilfs2", "bcachefs", "ufs"};

// mountinfo writes blank, tab, newline and backslash in paths as "\ooo".
std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4) {
            const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
            if (isOctal(field[i + 1]) && isOctal(field[i + 2]) && isOctal(field[i + 3])) {
                const int value =
                    (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
                if (value < 256) {
                    out.push_back(static_cast<char>(value));
                    i += 3;
                    continue;
                }
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool ParseUnsigned(std::string_view text, unsigned& value) {
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc{} && ptr == end;
}

bool IsDiskFileSystem(std::string_view type) {
    return std::find(std::begin(kDiskFileSystems), std::end(kDiskFileSystems), type) !=
           std::end(kDiskFileSystems);
}

// sysfs knows, for each block device, whether its medium can be removed; a partition
// carries the flag on its disk, one folder up.
bool ReadRemovableFlag(unsigned major, unsigned minor) {
    const std::string base =
        "/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor);
    for (const char* file : {"/removable", "/../removable"}) {
        std::ifstream in(base + file);
        int flag = 0;
        if (in >> flag)
            return flag != 0;
    }
    return false;
}

constexpr unsigned kLoopMajor = 7;   // loop devices: disk images, not drives
constexpr unsigned kCdromMajor = 11; // SCSI optical drives
constexpr unsigned kFloppyMajor = 2;

bool SystemRemovableQuery(const MountEntry& mount) {
    unsigned major = mount.major;
    unsigned minor = mount.minor;
    // Some file systems (btrfs) report an anonymous device number; the source names
    // the real block device.
    if (major == 0 && mount.source.starts_with("/dev/")) {
        struct stat st {};
        if (stat(mount.source.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
            major = ::major(st.st_rdev);
            minor = ::minor(st.st_rdev);
        }
    }
    if (major == kLoopMajor || major == kCdromMajor || major == kFloppyMajor)
        return true;
    if (major == 0)
        return false; // no block device to ask (ZFS): taken as fixed
    return ReadRemovableFlag(major, minor);
}

} // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);

        // id parent major:minor root mount-point options [optional...] - type source super
        const auto fields = SplitFields(line);
        // The separator comes after the six fixed fields and the optional ones.
        if (fields.size() < 10)
            continue;
        const auto dash = std::find(fields.begin() + 6, fields.end(), std::string_view("-"));
        if (fields.end() - dash < 3)
            continue;
        const std::string_view device = fields[2];
        const std::size_t colon = device.find(':');
        MountEntry entry;
        if (colon == std::string_view::npos ||
            !ParseUnsigned(device.substr(0, colon), entry.major) ||
            !ParseUnsigned(device.substr(colon + 1), entry.minor))
            continue;
        entry.root = Unescape(fields[3]);
        entry.mountPoint = Unescape(fields[4]);
        entry.fsType = Unescape(dash[1]);
        entry.source = Unescape(dash[2]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<std::string> FixedDrivesFromMountInfo(std::string_view text,
                                                  const RemovableQuery& isRemovable) {
    std::vector<MountEntry> chosen;
    for (auto& mount : ParseMountInfo(text)) {
        if (!IsDiskFileSystem(mount.fsType))
            continue;
        if (mount.fsType != "zfs" && !mount.source.starts_with("/dev/"))
            continue;
        auto same = std::find_if(chosen.begin(), chosen.end(), [&](const MountEntry& other) {
            return other.major == mount.major && other.minor == mount.minor;
        });
        if (same != chosen.end()) {
            // A bind mount of a subfolder came first: the whole file system replaces it.
            if (same->root != "/" && mount.root == "/")
                *same = std::move(mount);
            continue;
        }
        if (isRemovable && isRemovable(mount))
            continue;
        chosen.push_back(std::move(mount));
    }
    std::vector<std::string> drives;
    drives.reserve(chosen.size());
    for (auto& mount : chosen)
        drives.push_back(std::move(mount.mountPoint));
    return drives;
}

std::vector<std::string> ListFixedDrives() {
    std::ifstream in("/proc/self/mountinfo");
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    return FixedDrivesFromMountInfo(text.str(), SystemRemovableQuery);
}

} // namespace harvix
